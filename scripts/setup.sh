#!/usr/bin/env bash
# Installs the Debian packages that the build, the program and the tests need.
# Idempotent: packages already present are skipped.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools
  libturbojpeg0-dev libjpeg62-turbo-dev libjpeg-turbo-progs
  libxxhash-dev # the checks of the undo records
  libgtest-dev googletest
  strace util-linux passwd # injected faults, another user (setpriv, useradd) in the safety tests
  libimage-exiftool-perl
  golang-github-rwcarlsen-goexif-dev # real camera photos for the tests (BSD-2-Clause)
  xvfb xauth imagemagick openbox
  xdg-utils # what the window opens photos and the web site with
  fonts-dejavu-core
  qt6-translations-l10n # the toolkit's own texts (standard buttons, file dialog) in the chosen language
  clang libclang-rt-14-dev clang-format clang-tidy
  dpkg-dev file lintian desktop-file-utils appstream librsvg2-bin man-db
)
if [ "${WITH_EXTRA:-0}" = 1 ]; then
  packages+=(libvips-tools exiftran exiv2 bc time xdotool) # xdotool: scripts/screenshots.sh
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo)
echo "installing: ${missing[*]}" >&2
"${SUDO[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
