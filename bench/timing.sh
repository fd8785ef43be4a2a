# Timing helpers shared by the benchmark scripts (sourced, not run).
now() { date +%s.%N; }
# The smaller of two seconds values; the first may be empty (nothing measured yet).
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
# The best of RUNS (default 3) runs of a shell snippet, in seconds; PREPARE runs before each.
best() {
  local best= t0 t1
  for _ in $(seq "${RUNS:-3}"); do
    [ -n "${PREPARE:-}" ] && eval "$PREPARE"
    t0=$(now); eval "$1" >/dev/null 2>&1; t1=$(now)
    best=$(min "$best" "$(echo "$t1 - $t0" | bc -l)")
  done
  echo "$best"
}
ratio() { echo "scale=3; $1 / $2" | bc -l | sed 's/^\./0./'; }
# Builds tulvex-cli of an earlier commit once, in build-base-COMMIT beside the tree (ROOT), and
# prints its path.
base_cli() {
  local dir=$ROOT/build-base-$1
  if [ ! -x "$dir/build/bin/tulvex-cli" ]; then
    rm -rf "$dir/src" && mkdir -p "$dir/src"
    git archive "$1" | tar -x -C "$dir/src"
    cmake -S "$dir/src" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTULVEX_TESTS=OFF \
      ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} >/dev/null
    cmake --build "$dir/build" --target tulvex-cli >/dev/null
  fi
  echo "$dir/build/bin/tulvex-cli"
}
# A JPEG of one flat colour, W x H, 4:2:0 (a giant panorama compresses to a few MB). The pixels
# are streamed to cjpeg one row at a time: the making costs one row of memory.
flat_panorama() { # W H OUT
  python3 -c "
import sys
w, h = $1, $2
out = sys.stdout.buffer
out.write(b'P6\\n%d %d\\n255\\n' % (w, h))
row = bytes([70, 130, 180]) * w
for _ in range(h):
    out.write(row)
" | cjpeg -quality 90 >"$3"
}
