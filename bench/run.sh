#!/usr/bin/env bash
# Measures Tulvex against its peers on the same photos in one run and prints ratios.
#   bench/run.sh [COUNT] [MEGAPIXELS]   (default 60 photos of 12 megapixels)
# The corpus is made once with ../shared/bench/make-corpus.sh and cached in bench/corpus/.
# Writes the table to bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
COUNT=${1:-60}
MP=${2:-12}
ROOT=$PWD
CORPUS=$ROOT/bench/corpus/${COUNT}x${MP}mp
WORK=$ROOT/bench/work
MAKE_CORPUS=${MAKE_CORPUS:-$ROOT/../shared/bench/make-corpus.sh}

WITH_EXTRA=1 bash scripts/setup.sh
BUILD_DIR=build-bench bash scripts/build.sh -DTULVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
CLI=$ROOT/build-bench/bin/tulvex-cli

if [ ! -f "$CORPUS/manifest.tsv" ]; then
  rm -rf "$CORPUS"
  bash "$MAKE_CORPUS" "$CORPUS" "$COUNT" "$MP" >&2
fi
photos=("$CORPUS"/*.jpg)

now() { date +%s.%N; }
# best of three runs of a shell snippet, in seconds
best() {
  local best= t0 t1 d
  for _ in 1 2 3; do
    [ -n "${PREPARE:-}" ] && eval "$PREPARE"
    t0=$(now); eval "$1" >/dev/null 2>&1; t1=$(now)
    d=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$d < $best" | bc -l)" = 1 ]; then best=$d; fi
  done
  echo "$best"
}
ratio() { echo "scale=3; $1 / $2" | bc -l; }
per() { echo "scale=2; 1000 * $1 / ${#photos[@]}" | bc -l; }

rm -rf "$WORK"; mkdir -p "$WORK/out"
t_high=$(best "'$CLI' thumbnails --cell 150 '$CORPUS'")
t_low=$(best "'$CLI' thumbnails --low --cell 150 '$CORPUS'")
t_vips=$(best "vipsthumbnail -s 140 -o '$WORK/out/%s.jpg' ${photos[*]}")
t_djpeg=$(best "for f in ${photos[*]}; do djpeg -scale 1/8 \"\$f\" >/dev/null; done")

fresh_copy='rm -rf "$WORK/r"; cp -r "$CORPUS" "$WORK/r"'
PREPARE=$fresh_copy t_rot=$(PREPARE=$fresh_copy best "'$CLI' rotate --crop right '$WORK'/r/*.jpg")
t_jpegtran=$(PREPARE=$fresh_copy best "for f in '$WORK'/r/*.jpg; do jpegtran -rotate 90 -trim -copy all -outfile \"\$f.t\" \"\$f\" && mv \"\$f.t\" \"\$f\"; done")
t_auto=$(PREPARE=$fresh_copy best "'$CLI' auto --crop '$WORK/r'")
t_exiftran=$(PREPARE=$fresh_copy best "exiftran -a -i '$WORK'/r/*.jpg")

peak_kb=$( { /usr/bin/time -f '%M' "$CLI" thumbnails --cell 150 "$CORPUS" >/dev/null; } 2>&1 | tail -1)
thumb_bytes=$(( 140 * 100 * 3 )) # a default 4:3 thumbnail, kept as RGB888

table=$(cat <<TABLE
| measure | Tulvex | peer | ratio (Tulvex / peer) | target |
|---|---|---|---|---|
| thumbnails, high quality | $(per "$t_high") ms/photo | vipsthumbnail -s 140: $(per "$t_vips") ms/photo | $(ratio "$t_high" "$t_vips") | <= 0.5 |
| thumbnails, high quality | $(per "$t_high") ms/photo | djpeg -scale 1/8: $(per "$t_djpeg") ms/photo | $(ratio "$t_high" "$t_djpeg") | |
| thumbnails, low quality (embedded) | $(per "$t_low") ms/photo | vipsthumbnail -s 140: $(per "$t_vips") ms/photo | $(ratio "$t_low" "$t_vips") | <= 0.05 |
| rotate right | $(per "$t_rot") ms/photo | jpegtran -rotate 90 -trim -copy all: $(per "$t_jpegtran") ms/photo | $(ratio "$t_rot" "$t_jpegtran") | <= 1.0 |
| automatic orientation | $(per "$t_auto") ms/photo | exiftran -a -i: $(per "$t_exiftran") ms/photo | $(ratio "$t_auto" "$t_exiftran") | <= 0.6 |
| peak memory of a load | ${peak_kb} KB for ${#photos[@]} photos | one default thumbnail: $((thumb_bytes / 1024)) KB | | <= 64 KB a thumbnail |
TABLE
)
echo "$table"
# The thumbnail cache's section (bench/cache.sh) stays.
cache_section=$(awk '/^<!-- thumbnail cache: bench\/cache.sh -->$/ { keep = 1 } keep { print }' bench/RESULTS.md 2>/dev/null || true)
{
  echo "# Benchmark results"
  echo
  echo "Run of \`bench/run.sh $COUNT $MP\` on $(date -u +%Y-%m-%d), $(nproc) cores, ${#photos[@]} photos of ${MP} megapixels"
  echo "(best of three runs each; all tools on the same files in the same run)."
  echo
  echo "$table"
  if [ -n "$cache_section" ]; then echo; echo "$cache_section"; fi
} > bench/RESULTS.md
