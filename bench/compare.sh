#!/usr/bin/env bash
# The same work by the build of an earlier commit (BASE) and by this tree, interleaved in one run
# so that both see the same machine; prints this tree's time over BASE's for each measure.
#   BASE=346119a bench/compare.sh [COUNT] [MEGAPIXELS]   (default 60 photos of 12 megapixels)
# Measures: a first load of thumbnails (empty cache), a reload from the cache, the turn of every
# photo, and the automatic pass.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
COUNT=${1:-60}
MP=${2:-12}
BASE=${BASE:-346119a}
ROUNDS=${ROUNDS:-5}
ROOT=$PWD
CORPUS=$ROOT/bench/corpus/${COUNT}x${MP}mp
WORK=$ROOT/bench/work/compare
MAKE_CORPUS=${MAKE_CORPUS:-$ROOT/../shared/bench/make-corpus.sh}

WITH_EXTRA=1 bash scripts/setup.sh
BUILD_DIR=build-bench bash scripts/build.sh -DTULVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
NEW=$ROOT/build-bench/bin/tulvex-cli
OLD=$(base_cli "$BASE")
if [ ! -f "$CORPUS/manifest.tsv" ]; then
  rm -rf "$CORPUS"
  bash "$MAKE_CORPUS" "$CORPUS" "$COUNT" "$MP" >&2
fi
rm -rf "$WORK"; mkdir -p "$WORK"
export XDG_STATE_HOME=$WORK/state XDG_CACHE_HOME=$WORK/cache

# One timing of one measure by one build, in seconds.
measure() { # NAME CLI
  local cli=$2 t0 t1
  case $1 in
  load) rm -rf "$XDG_CACHE_HOME"; t0=$(now); "$cli" thumbnails --cell 150 "$CORPUS" >/dev/null; t1=$(now) ;;
  reload) "$cli" thumbnails --cell 150 "$CORPUS" >/dev/null
    t0=$(now); "$cli" thumbnails --cell 150 "$CORPUS" >/dev/null; t1=$(now) ;;
  turn) rm -rf "$WORK/r" "$XDG_STATE_HOME"; cp -r "$CORPUS" "$WORK/r"
    t0=$(now); "$cli" rotate --crop right "$WORK"/r/*.jpg >/dev/null; t1=$(now) ;;
  auto) rm -rf "$WORK/r" "$XDG_STATE_HOME"; cp -r "$CORPUS" "$WORK/r"
    t0=$(now); "$cli" auto --crop "$WORK/r" >/dev/null; t1=$(now) ;;
  esac
  echo "$t1 - $t0" | bc -l
}

echo "| measure | $BASE (best of $ROUNDS) | this tree (best of $ROUNDS) | ratio (this / $BASE) |"
echo "|---|---|---|---|"
for m in load reload turn auto; do
  old= new=
  for _ in $(seq "$ROUNDS"); do # alternate, so that drift in the machine's load hits both
    old=$(min "$old" "$(measure "$m" "$OLD")")
    new=$(min "$new" "$(measure "$m" "$NEW")")
  done
  printf '| %s | %.3f s | %.3f s | %s |\n' "$m" "$old" "$new" "$(ratio "$new" "$old")"
done
echo
echo "Load average (1, 5, 15 min) at the end: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores."
