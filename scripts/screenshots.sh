#!/usr/bin/env bash
# Screenshots of the window as a laptop's dense screen shows it: Xvfb 1600x1000 with openbox,
# QT_SCALE_FACTOR=2, in German. Writes docs/toolbar-deutsch-2x.png (the tool bar) and
# docs/question-deutsch-2x.png (the window with a question box and its buttons).
#   WITH_EXTRA=1 bash scripts/setup.sh   (xdotool)
#   bash scripts/screenshots.sh [BUILD_DIR]
# Settings, cache and photos live in a temporary folder; the user's are not touched.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
out=$(pwd)/docs
fail() { echo "screenshots: $*" >&2; exit 1; }
[ -x "$build/bin/tulvex" ] || fail "no $build/bin/tulvex: build first"
for tool in Xvfb openbox xdotool import convert exiftool; do
  command -v "$tool" >/dev/null || fail "$tool missing (WITH_EXTRA=1 bash scripts/setup.sh)"
done

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Photos to show, one of them stored on its side (orientation 6).
photos=$work/Fotos
mkdir -p "$photos"
convert -size 1001x751 gradient:'#4a7bd0-#2f6b2a' -fill '#e8d8a0' -draw 'circle 700,180 760,180' \
  "$photos/Alpen.jpg"
for name in Berge Hafen Markt; do
  convert -size 1024x768 plasma:fractal -blur 0x2 "$photos/$name.jpg"
done
exiftool -q -overwrite_original -Orientation=6 -n "$photos/Hafen.jpg"

mkdir -p "$work/runtime" && chmod 0700 "$work/runtime"
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
DISPLAY=":$(cat "$work/display")"
export DISPLAY
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
sleep 2

run_env=(env -u QT_QPA_PLATFORM QT_SCALE_FACTOR=2 XDG_CONFIG_HOME="$work/config"
  XDG_CACHE_HOME="$work/cache" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime"
  TULVEX_GLOBAL_MARKER_DIR="$work/runtime" HOME="$work")
# German, as a run that chose it left it.
mkdir -p "$work/config/Varlo/Tulvex"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Varlo\\Tulvex\\Main]\r\n"Language"="%s"\r\n' \
  "$build/bin/Deutsch.lng" >"$work/config/Varlo/Tulvex/settings.reg"
"${run_env[@]}" "$build/bin/tulvex" "$photos" >"$work/log" 2>&1 &
pids+=($!)
window=
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name '^Tulvex$' 2>/dev/null | head -1 || true)
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || fail "no window: $(cat "$work/log")"
sleep 3 # the load's progress window has come and gone
window=$(xdotool search --onlyvisible --name '^Tulvex$' | head -1)

xdotool windowactivate --sync "$window" 2>/dev/null || true
eval "$(xdotool getwindowgeometry --shell "$window")"
# The tool bar with the title bar above it, at the screen's own pixels.
import -window root -crop "1600x$((Y + 150))+0+0" +repage "$out/toolbar-deutsch-2x.png"

# "Automatisch" (the second tool button, 110 logical pixels from the left): one photo asks
# for a turn, and the question comes.
xdotool mousemove $((X + 2 * 110)) $((Y + 2 * 28)) click 1
dialog=
for _ in $(seq 50); do
  dialog=$(xdotool search --onlyvisible --name '^Tulvex$' 2>/dev/null | grep -vx "$window" | head -1 || true)
  [ -n "$dialog" ] && break
  sleep 0.2
done
[ -n "$dialog" ] || fail "no question came: $(cat "$work/log")"
sleep 1
eval "$(xdotool getwindowgeometry --shell "$dialog")"
# The box with its frame and a little of the window around it.
left=$((X > 60 ? X - 60 : 0)) top=$((Y > 90 ? Y - 90 : 0))
import -window root -crop "$((WIDTH + 120))x$((HEIGHT + 150))+$left+$top" +repage \
  "$out/question-deutsch-2x.png"
xdotool key Escape
for f in toolbar-deutsch-2x question-deutsch-2x; do
  echo "docs/$f.png: $(identify -format '%wx%h' "$out/$f.png"), $(stat -c %s "$out/$f.png") bytes"
done
