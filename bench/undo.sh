#!/usr/bin/env bash
# Measures undo of an automatic pass against the pass itself, in one run, and prints the ratio:
#   bench/undo.sh [COUNT] [MEGAPIXELS]   (default 60 photos of 12 megapixels; REPS=3 runs)
# Each run copies the corpus afresh, times `tulvex-cli auto` (which keeps the old photos for
# undo) and then `tulvex-cli undo`, and checks that undo gave every photo its bytes back.
# CLI=path/to/tulvex-cli uses a build at hand instead of building build-bench.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
COUNT=${1:-60}
MP=${2:-12}
REPS=${REPS:-3}
ROOT=$PWD
CORPUS=$ROOT/bench/corpus/${COUNT}x${MP}mp
WORK=$ROOT/bench/work/undo
MAKE_CORPUS=${MAKE_CORPUS:-$ROOT/../shared/bench/make-corpus.sh}

if [ -z "${CLI:-}" ]; then
  BUILD_DIR=build-bench bash scripts/build.sh -DTULVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
  CLI=$ROOT/build-bench/bin/tulvex-cli
fi
if [ ! -f "$CORPUS/manifest.tsv" ]; then
  rm -rf "$CORPUS"; bash "$MAKE_CORPUS" "$CORPUS" "$COUNT" "$MP" >&2
fi
rm -rf "$WORK"; mkdir -p "$WORK"
export XDG_STATE_HOME=$WORK/state XDG_CACHE_HOME=$WORK/cache XDG_CONFIG_HOME=$WORK/config

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
best_pass= best_undo= best_bare=
# A state folder that cannot be made: the same pass without keeping anything for undo.
touch "$WORK/not-a-folder"
for rep in $(seq "$REPS"); do
  rm -rf "$WORK/photos" "$XDG_STATE_HOME"; mkdir -p "$WORK/photos"
  cp "$CORPUS"/*.jpg "$WORK/photos/"
  sync
  t0=$(now); "$CLI" auto "$WORK/photos" >/dev/null; t1=$(now)
  sync
  t2=$(now); "$CLI" undo >/dev/null; t3=$(now)
  for f in "$CORPUS"/*.jpg; do
    cmp -s "$f" "$WORK/photos/$(basename "$f")" || { echo "undo did not restore $f" >&2; exit 1; }
  done
  rm -rf "$WORK/photos"; mkdir -p "$WORK/photos"; cp "$CORPUS"/*.jpg "$WORK/photos/"; sync
  t4=$(now); XDG_STATE_HOME=$WORK/not-a-folder "$CLI" auto "$WORK/photos" >/dev/null 2>&1; t5=$(now)
  pass=$(echo "$t1 - $t0" | bc -l); undo=$(echo "$t3 - $t2" | bc -l); bare=$(echo "$t5 - $t4" | bc -l)
  echo "run $rep: pass $pass s, undo $undo s, pass keeping nothing $bare s (load $(cut -d' ' -f1 /proc/loadavg))" >&2
  best_pass=$(min "$best_pass" "$pass"); best_undo=$(min "$best_undo" "$undo"); best_bare=$(min "$best_bare" "$bare")
done
printf '| Undo of an automatic pass, %s photos of %s MP | pass %.2f s | undo %.2f s | undo / pass %s | pass keeping nothing %.2f s, keeping / not %s |\n' \
  "$COUNT" "$MP" "$best_pass" "$best_undo" "$(ratio "$best_undo" "$best_pass")" \
  "$best_bare" "$(ratio "$best_pass" "$best_bare")"
echo "load average at start: $load_start, at end: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores" >&2
