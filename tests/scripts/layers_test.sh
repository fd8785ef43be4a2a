#!/usr/bin/env bash
# scripts/layers.sh on small made-up trees: what it must pass and what it must refuse.
set -euo pipefail
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/layers.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# put FILE LINE...: writes a source file of the current tree.
put() {
  local file=$tree/$1
  shift
  mkdir -p "$(dirname "$file")"
  printf '%s\n' "$@" >"$file"
}
fresh() {
  tree=$work/$1
  put platform/file.h '#pragma once'
  put jpeg/walk.cpp '#include "platform/file.h"'
  put ui/window.h '#pragma once' 'class Window {' 'public:' '    void Show();' '};'
  put ui/window.cpp '#include "ui/window.h"' 'void Window::Show() {}'
  put app/main.cpp '#include "ui/window.h"'
}
# expect CODE PATTERN [ENV...]: runs the script on the current tree.
expect() {
  local code=$1 pattern=$2 out rc=0
  shift 2
  out=$(env "$@" bash "$script" --src "$tree" 2>&1) || rc=$?
  if [ "$rc" != "$code" ] || ! grep -qE -- "$pattern" <<<"$out"; then
    echo "FAIL ($(basename "$tree")): wanted exit $code and /$pattern/, got exit $rc:" >&2
    echo "$out" >&2
    failures=$((failures + 1))
  fi
}

fresh clean
expect 0 'jpeg -> platform +1'

fresh upward
put platform/file.h '#include "jpeg/walk.h"'
put jpeg/walk.h '#pragma once'
expect 1 'upward include \(platform is below jpeg\): platform/file.h -> jpeg/walk.h'
expect 0 'allowed for now: upward include' LAYERS_ALLOW='platform->jpeg'

fresh neighbours
put cli/main.cpp '#include "ui/window.h"'
expect 1 'include between layer neighbours: cli/main.cpp -> ui/window.h'

# A method of the window defined below ui/ ties the two in a circle that no include closes.
fresh definitions
put thumbs/grid.cpp '#include "ui/window.h"' 'void Window::Paint() {}'
put ui/window.h '#pragma once' 'class Window : public Base {' '};'
expect 1 'circle of 2 files across 2 folders: thumbs/grid ui/window'

# Inside one folder too: a class's methods belong in the file of its own name.
fresh inside_ui
put ui/grid.cpp '#include "ui/window.h"' 'void Window::Paint() {}'
expect 1 'LAYERING: circle of 2 files across 1 folders: ui/grid ui/window'

fresh circle
put jpeg/walk.h '#include "exif/tags.h"'
put exif/tags.h '#include "jpeg/walk.h"'
expect 1 'LAYERING: circle between folders: exif/, jpeg/'
expect 0 'allowed for now: circle between folders: exif/, jpeg/' LAYERS_ALLOW='jpeg->exif'

fresh stranger
put widgets/button.h '#pragma once'
expect 1 'folder widgets/ has no layer'

[ "$failures" -eq 0 ] && echo "layers.sh: all cases pass"
exit $((failures > 0))
