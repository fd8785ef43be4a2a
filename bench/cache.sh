#!/usr/bin/env bash
# Measures the thumbnail cache against loads without it, in one run, and prints ratios.
#   bench/cache.sh   (REPS=3 runs of everything, interleaved; the best of each is kept)
# Corpora, made once with make-corpus.sh into bench/corpus/: 60 photos of 12 megapixels, and
# 500 of 3 megapixels as five copies (separate files) of 100 made by it, which keeps the making
# of the corpus short; decoding costs the same either way.
# "Today's" load is the same build with TULVEX_THUMBNAIL_CACHE=off, which makes every
# thumbnail from the photo exactly as before the cache (the switch is for this script only).
# Writes its section of bench/RESULTS.md (bench/run.sh keeps it).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
ROOT=$PWD
REPS=${REPS:-3}
MAKE_CORPUS=${MAKE_CORPUS:-$ROOT/../shared/bench/make-corpus.sh}
WORK=$ROOT/bench/work/cache
rm -rf "$WORK"; mkdir -p "$WORK/empty"

BUILD_DIR=build-bench bash scripts/build.sh -DTULVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >&2
BENCH=$ROOT/build-bench/bin/tulvex_cache_bench
CLI=$ROOT/build-bench/bin/tulvex-cli
export XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK QT_QPA_PLATFORM=offscreen
unset TULVEX_THUMBNAIL_CACHE

load_start=$(cut -d' ' -f1-3 /proc/loadavg)

# A fresh settings store for every run: the window starts at its default size (default cell)
# on an empty folder, so that the timed load is the one the benchmark asks for.
fresh_settings() {
  rm -rf "$XDG_CONFIG_HOME"; mkdir -p "$XDG_CONFIG_HOME/Varlo/Tulvex"
  printf '[HKEY_CURRENT_USER\\Software\\Varlo\\Tulvex\\Main]\n"LastFolder"="%s"\n' "$WORK/empty" \
    > "$XDG_CONFIG_HOME/Varlo/Tulvex/settings.reg"
}
field() { awk -F= -v k="$1" '$1 == k { print $2 }' "$2"; }
ms() { printf '%.1f' "$(echo "1000 * $1" | bc -l)"; }
cli_time() { local t0; t0=$(now); "$CLI" thumbnails --cell 150 "$1" >/dev/null; echo "$(now) - $t0" | bc -l; }

rows=""
for spec in ${SPECS:-60:12 500:3}; do
  COUNT=${spec%%:*}; MP=${spec#*:}
  CORPUS=$ROOT/bench/corpus/${COUNT}x${MP}mp
  MADE=$COUNT; [ "$COUNT" = 500 ] && MADE=100
  SOURCE=$ROOT/bench/corpus/${MADE}x${MP}mp
  if [ ! -f "$SOURCE/manifest.tsv" ]; then rm -rf "$SOURCE"; bash "$MAKE_CORPUS" "$SOURCE" "$MADE" "$MP" >&2; fi
  if [ "$MADE" != "$COUNT" ] && [ ! -f "$CORPUS/.complete" ]; then
    rm -rf "$CORPUS"; mkdir -p "$CORPUS"
    for copy in $(seq $((COUNT / MADE))); do
      for f in "$SOURCE"/*.jpg; do cp "$f" "$CORPUS/c${copy}_$(basename "$f")"; done
    done
    touch "$CORPUS/.complete"
  fi
  CACHE=$WORK/cache-${COUNT}
  base= base_reload= at_once= empty= empty_reload= filled= filled_reload= background= cli_base= cli_empty= cli_filled=
  for rep in $(seq "$REPS"); do
    echo "== ${COUNT} x ${MP} MP, run $rep of $REPS (load $(cut -d' ' -f1 /proc/loadavg))" >&2
    fresh_settings; TULVEX_THUMBNAIL_CACHE=off "$BENCH" window "$CORPUS" > "$WORK/base.txt" 2>/dev/null
    rm -rf "$CACHE"; fresh_settings; XDG_CACHE_HOME=$CACHE "$BENCH" window "$CORPUS" > "$WORK/empty.txt" 2>/dev/null
    fresh_settings; XDG_CACHE_HOME=$CACHE "$BENCH" window "$CORPUS" > "$WORK/filled.txt" 2>/dev/null
    rm -rf "$CACHE"; fresh_settings
    TULVEX_BENCH_RESIZE_AT_ONCE=1 XDG_CACHE_HOME=$CACHE "$BENCH" window "$CORPUS" > "$WORK/at_once.txt" 2>/dev/null
    at_once=$(min "$at_once" "$(field reload_s "$WORK/at_once.txt")")
    base=$(min "$base" "$(field first_load_s "$WORK/base.txt")")
    base_reload=$(min "$base_reload" "$(field reload_s "$WORK/base.txt")")
    empty=$(min "$empty" "$(field first_load_s "$WORK/empty.txt")")
    empty_reload=$(min "$empty_reload" "$(field reload_s "$WORK/empty.txt")")
    background=$(min "$background" "$(field background_s "$WORK/empty.txt")")
    filled=$(min "$filled" "$(field first_load_s "$WORK/filled.txt")")
    filled_reload=$(min "$filled_reload" "$(field reload_s "$WORK/filled.txt")")
    cli_base=$(min "$cli_base" "$(TULVEX_THUMBNAIL_CACHE=off cli_time "$CORPUS")")
    rm -rf "$CACHE"; cli_empty=$(min "$cli_empty" "$(XDG_CACHE_HOME=$CACHE cli_time "$CORPUS")")
    cli_filled=$(min "$cli_filled" "$(XDG_CACHE_HOME=$CACHE cli_time "$CORPUS")")
  done
  thumb=$(field thumb_bytes_avg "$WORK/empty.txt"); peak=$(field cache_memory_peak_bytes "$WORK/empty.txt")
  hits=$(field memory_hits "$WORK/empty.txt"); dhits=$(field disk_hits "$WORK/filled.txt")
  disk=$(du -sk "$CACHE" | cut -f1)
  "$BENCH" psnr "$CORPUS" > "$WORK/psnr.txt" 2>/dev/null
  n=$(field photos "$WORK/empty.txt")
  rows+="| ${n} x ${MP} MP | window: reload after a resize, same run | $(ms "$empty_reload") ms | first load, empty cache: $(ms "$empty") ms | $(ratio "$empty_reload" "$empty") | <= 0.1 |
| ${n} x ${MP} MP | window: first load, new run, disk cache filled | $(ms "$filled") ms | first load, empty cache: $(ms "$empty") ms | $(ratio "$filled" "$empty") | <= 0.2 |
| ${n} x ${MP} MP | window: first load, empty cache | $(ms "$empty") ms | today's first load: $(ms "$base") ms | $(ratio "$empty" "$base") | <= 1.1 |
| ${n} x ${MP} MP | window: reload after a resize, today | $(ms "$base_reload") ms | | | |
| ${n} x ${MP} MP | window: reload after a resize that comes at once, before the idle cores made the masters | $(ms "$at_once") ms | today: $(ms "$base_reload") ms | $(ratio "$at_once" "$base_reload") | |
| ${n} x ${MP} MP | window: reload after a resize in the run with the disk filled | $(ms "$filled_reload") ms | | | |
| ${n} x ${MP} MP | tulvex-cli thumbnails, empty cache (files written) | $(ms "$cli_empty") ms | today: $(ms "$cli_base") ms | $(ratio "$cli_empty" "$cli_base") | |
| ${n} x ${MP} MP | tulvex-cli thumbnails, disk cache filled | $(ms "$cli_filled") ms | empty cache: $(ms "$cli_empty") ms | $(ratio "$cli_filled" "$cli_empty") | |
| ${n} x ${MP} MP | memory: average loaded thumbnail (default cell) | $((thumb / 1024)) KB | | | <= 64 KB |
| ${n} x ${MP} MP | memory: in-memory cache, peak | $((peak / 1048576)) MB | bound 128 MB | | <= 128 MB |
| ${n} x ${MP} MP | disk cache after the run | $((disk / 1024)) MB | bound 256 MB | | <= 256 MB |
| ${n} x ${MP} MP | masters made on idle cores after the first load, before the resize | $(ms "$background") ms | | | |
| ${n} x ${MP} MP | hits: reload from memory / new run from disk | ${hits} / ${dhits} | | | |
| ${n} x ${MP} MP | PSNR at the default cell against the thumbnail made from the photo: memory hit (min / mean) | $(field psnr_master_min_db "$WORK/psnr.txt") / $(field psnr_master_mean_db "$WORK/psnr.txt") dB | | | >= 40 dB |
| ${n} x ${MP} MP | PSNR at the default cell against the thumbnail made from the photo: disk hit (min / mean) | $(field psnr_disk_min_db "$WORK/psnr.txt") / $(field psnr_disk_mean_db "$WORK/psnr.txt") dB | | | >= 40 dB |
| ${n} x ${MP} MP | PSNR at the default cell against the photo decoded whole and averaged down (min / mean): without cache; memory hit; disk hit | $(field truth_ordinary_min_db "$WORK/psnr.txt") / $(field truth_ordinary_mean_db "$WORK/psnr.txt"); $(field truth_memory_min_db "$WORK/psnr.txt") / $(field truth_memory_mean_db "$WORK/psnr.txt"); $(field truth_disk_min_db "$WORK/psnr.txt") / $(field truth_disk_mean_db "$WORK/psnr.txt") dB | | | |
"
done
load_end=$(cut -d' ' -f1-3 /proc/loadavg)

section=$(cat <<SECTION
<!-- thumbnail cache: bench/cache.sh -->
## Thumbnail cache

Run of \`bench/cache.sh\` (REPS=$REPS, best of each) on $(date -u +%Y-%m-%d), $(nproc) cores; load average
$load_start at the start, $load_end at the end. Today's load is the same build with
\`TULVEX_THUMBNAIL_CACHE=off\`; the window is driven offscreen (\`LoadFolder\`, then the
\`FormResize\` that a resize from the default size to 1024 x 720 starts, timed from its start:
the 200 ms settle delay is not counted). A first load makes its thumbnails as without the cache
and leaves the masters to threads that run only on idle cores; the benchmark waits for them
before the resize (their time is the row "masters made on idle cores"), as a user looking at
the grid would give them that time. The 500 photos of 3 MP are 100 made by
make-corpus.sh, each in five copies (separate files). CLI times are whole processes.

| corpus | measure | value | against | ratio | target |
|---|---|---|---|---|---|
$rows
SECTION
)
echo "$section"
RESULTS=bench/RESULTS.md
if [ -f "$RESULTS" ]; then
  awk '/^<!-- thumbnail cache: bench\/cache.sh -->$/ { exit } { print }' "$RESULTS" > "$WORK/results.md"
else
  : > "$WORK/results.md"
fi
{ cat "$WORK/results.md"; echo "$section"; } > "$RESULTS"
