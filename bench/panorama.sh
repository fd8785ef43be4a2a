#!/usr/bin/env bash
# Turns one giant panorama (20000x14000, one flat colour, 4:2:0) with tulvex-cli and with
# jpegtran in one run: wall time and peak memory (max RSS of /usr/bin/time), best of RUNS.
#   bench/panorama.sh            (CLI=path/to/tulvex-cli to measure a build at hand)
# Writes its section at the end of bench/RESULTS.md (bench/run.sh keeps it).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
ROOT=$PWD
WORK=$ROOT/bench/work/panorama
W=${W:-20000}
H=${H:-14000}
if [ -z "${CLI:-}" ]; then
  WITH_EXTRA=1 bash scripts/setup.sh
  BUILD_DIR=build-bench bash scripts/build.sh -DTULVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >&2
  CLI=$ROOT/build-bench/bin/tulvex-cli
fi
rm -rf "$WORK"; mkdir -p "$WORK"
flat_panorama "$W" "$H" "$WORK/panorama.jpg"

# "seconds max-RSS-KB" of the best (shortest) of RUNS runs of a command on a fresh copy.
measure() {
  local best_t='' best_m='' t m
  for _ in $(seq "${RUNS:-3}"); do
    cp "$WORK/panorama.jpg" "$WORK/p.jpg"
    /usr/bin/time -o "$WORK/time" -f '%e %M' "$@" >/dev/null 2>&1
    read -r t m < "$WORK/time"
    if [ -z "$best_t" ] || [ "$(echo "$t < $best_t" | bc -l)" = 1 ]; then best_t=$t; best_m=$m; fi
  done
  echo "$best_t $best_m"
}
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
read -r t_ours m_ours < <(measure "$CLI" rotate --crop right "$WORK/p.jpg")
read -r t_jt m_jt < <(measure jpegtran -rotate 90 -trim -copy all -outfile "$WORK/p.t.jpg" "$WORK/p.jpg")
read -r t_jto m_jto < <(measure jpegtran -rotate 90 -trim -copy all -optimize -outfile "$WORK/p.t.jpg" "$WORK/p.jpg")
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
mb() { echo "scale=0; $1 / 1024" | bc; }

section=$(cat <<SECTION
## Giant panorama

\`bench/panorama.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores: one ${W}x${H} photo ($(du -k "$WORK/panorama.jpg" | cut -f1) KB,
one flat colour, 4:2:0), turned right; best of ${RUNS:-3} runs, peak memory of that run.
Load average (1, 5, 15 min) before: $load_before; after: $load_after.

| turn | time | peak memory | time ratio (Tulvex / peer) | memory ratio | target |
|---|---|---|---|---|---|
| tulvex-cli rotate --crop right | ${t_ours} s | $(mb "$m_ours") MB | | | |
| jpegtran -rotate 90 -trim -copy all | ${t_jt} s | $(mb "$m_jt") MB | $(ratio "$t_ours" "$t_jt") | $(ratio "$m_ours" "$m_jt") | <= 1.0 time, <= 1.1 memory |
| jpegtran ... -optimize | ${t_jto} s | $(mb "$m_jto") MB | $(ratio "$t_ours" "$t_jto") | $(ratio "$m_ours" "$m_jto") | |
SECTION
)
echo "$section"
if [ -f bench/RESULTS.md ]; then
  kept=$(awk '/^## Giant panorama$/ { skip = 1; next } skip && /^## / { skip = 0 } !skip { print }' bench/RESULTS.md)
  printf '%s\n\n%s\n' "$kept" "$section" > bench/RESULTS.md
else
  echo "$section" > bench/RESULTS.md
fi
