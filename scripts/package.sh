#!/usr/bin/env bash
# Builds Tulvex in Release and makes its Debian package with CPack, in the repository's folder.
# Prints the package's path as its last line. Extra arguments go to cmake; the build folder
# (BUILD_DIR, default build/) is shared with the other scripts, so a Release build that is
# already there is only brought up to date.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
bash scripts/build.sh -DCMAKE_BUILD_TYPE=Release -DTULVEX_TESTS=OFF "$@" >&2

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$BUILD_DIR" && cpack -G DEB -B "$out") >&2
shopt -s nullglob
made=("$out"/tulvex_*.deb)
if [ ${#made[@]} -ne 1 ]; then
  echo "package.sh: expected one package, found ${#made[@]}" >&2
  exit 1
fi
mv -f "${made[0]}" .
echo "$PWD/$(basename "${made[0]}")"
