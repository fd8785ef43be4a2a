#!/usr/bin/env bash
# Checks a Debian package of Tulvex: desktop entry, AppStream metadata, lintian (no errors),
# icons and manual pages; then unpacks it into a temporary root and starts the unpacked window
# under Xvfb on a folder given as argument. The window reports, through its own logging
# category (QT_LOGGING_RULES), the language files it found and the photos it loaded; both
# must come from the unpacked copy.
set -euo pipefail
deb=$(realpath "$1")
app_id=org.example.tulvex
fail() { echo "check_package: $*" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
root=$work/root
dpkg-deb -x "$deb" "$root"

# "View Image" and the web site go through xdg-open.
depends=$(dpkg-deb -f "$deb" Depends)
[[ ", $depends," == *", xdg-utils"[,\ ]* ]] || fail "the package does not depend on xdg-utils: $depends"
# The undo records are checked with xxHash.
[[ ", $depends," == *", libxxhash0"[,\ ]* ]] || fail "the package does not depend on libxxhash0: $depends"

desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" >/dev/null
# Warnings are shown, errors fail.
status=0
lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian" || true
[ "$status" -eq 0 ] || fail "lintian reports errors"

for size in 16 32 48 64 128 256; do
  file "$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png" | grep -q "PNG image data, $size x $size" ||
    fail "icon ${size}x${size} missing or of another size"
done
for page in tulvex tulvex-cli; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "manual page $page: $warnings"
done
dpkg-deb -f "$deb" Recommends | grep -qw qt6-translations-l10n ||
  fail "the toolkit's translations (qt6-translations-l10n) are not recommended"
[ "$("$root/usr/bin/tulvex" --version)" = "$("$root/usr/bin/tulvex-cli" --version | sed 's/^tulvex-cli/tulvex/')" ] ||
  fail "the two programs disagree on the version"

# A folder of three photos, one more in a subfolder (not loaded) and a file that is no photo.
photos="$work/My Photos"
mkdir -p "$photos/sub"
for name in a b c; do convert -size 64x48 "xc:#3366aa" "$photos/$name.jpg"; done
convert -size 32x32 xc:red "$photos/sub/d.jpg"
echo notes > "$photos/notes.txt"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"

log=$work/tulvex.log
mkdir -p -m 0700 "$work/runtime"
env -u QT_QPA_PLATFORM DISPLAY=":$(cat "$work/display")" XDG_CONFIG_HOME="$work/config" \
  XDG_RUNTIME_DIR="$work/runtime" TULVEX_GLOBAL_MARKER_DIR="$work/runtime" QT_LOGGING_RULES='tulvex.*.debug=true' \
  "$root/usr/bin/tulvex" "$photos" 2>"$log" &
pids+=($!)
for _ in $(seq 300); do grep -qs 'tulvex.load:' "$log" && break; sleep 0.1; done

lang_line=$(grep 'tulvex.start: language files in' "$log" || true)
[[ $lang_line == *"in $root/usr/share/tulvex/lang :"* ]] || fail "languages not found in the unpacked copy: $(cat "$log")"
for language in Deutsch English Español Français; do
  [[ $lang_line == *"$language.lng"* ]] || fail "language $language not found: $lang_line"
done
load_line=$(grep 'tulvex.load:' "$log" || true)
[ "$load_line" = "tulvex.load: loaded 3 photos from $photos" ] || fail "unexpected load: $(cat "$log")"
cat "$log"
echo "package checks passed: $(basename "$deb")"
