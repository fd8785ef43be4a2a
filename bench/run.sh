#!/usr/bin/env bash
# Measures Tulvex against its peers on the same photos in one run and prints ratios.
#   bench/run.sh [COUNT] [MEGAPIXELS]   (default 60 photos of 12 megapixels)
#   ONLY=rotate bench/run.sh ...          (only the turns on every core, photos with and without MPF images)
# The corpus is made once with ../shared/bench/make-corpus.sh and cached in bench/corpus/.
# Writes the table to bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
COUNT=${1:-60}
MP=${2:-12}
ROOT=$PWD
CORPUS=$ROOT/bench/corpus/${COUNT}x${MP}mp
WORK=$ROOT/bench/work
export XDG_STATE_HOME=$WORK/state # the turns keep their undo data here, not in the user's
MAKE_CORPUS=${MAKE_CORPUS:-$ROOT/../shared/bench/make-corpus.sh}

WITH_EXTRA=1 bash scripts/setup.sh
BUILD_DIR=build-bench bash scripts/build.sh -DTULVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
CLI=$ROOT/build-bench/bin/tulvex-cli

if [ ! -f "$CORPUS/manifest.tsv" ]; then
  rm -rf "$CORPUS"
  bash "$MAKE_CORPUS" "$CORPUS" "$COUNT" "$MP" >&2
fi
photos=("$CORPUS"/*.jpg)

per() { echo "scale=2; 1000 * $1 / ${#photos[@]}" | bc -l; }

ONLY=${ONLY:-all}
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
rm -rf "$WORK"; mkdir -p "$WORK/out"
if [ "$ONLY" = all ]; then
# Every thumbnail run starts with an empty thumbnail cache: these are first loads.
export XDG_CACHE_HOME=$WORK/cache
empty_cache='rm -rf "$XDG_CACHE_HOME"'
t_high=$(PREPARE=$empty_cache best "'$CLI' thumbnails --cell 150 '$CORPUS'")
t_low=$(PREPARE=$empty_cache best "'$CLI' thumbnails --low --cell 150 '$CORPUS'")
t_vips=$(best "vipsthumbnail -s 140 -o '$WORK/out/%s.jpg' ${photos[*]}")
# vipsthumbnail on every core, one process a core, as the low-quality target is set against it.
t_vips_all=$(best "printf '%s\\0' ${photos[*]} | xargs -0 -P $(nproc) -n $(( (${#photos[@]} + $(nproc) - 1) / $(nproc) )) vipsthumbnail -s 140 -o '$WORK/out/%s.jpg'")
t_exiv2=$(best "exiv2 -q -f -et -l '$WORK/out' ${photos[*]}")
t_djpeg=$(best "for f in ${photos[*]}; do djpeg -scale 1/8 \"\$f\" >/dev/null; done")

fresh_copy='rm -rf "$WORK/r"; cp -r "$CORPUS" "$WORK/r"'
PREPARE=$fresh_copy t_rot=$(PREPARE=$fresh_copy best "'$CLI' rotate --crop right '$WORK'/r/*.jpg")
t_jpegtran=$(PREPARE=$fresh_copy best "for f in '$WORK'/r/*.jpg; do jpegtran -rotate 90 -trim -copy all -outfile \"\$f.t\" \"\$f\" && mv \"\$f.t\" \"\$f\"; done")
t_auto=$(PREPARE=$fresh_copy best "'$CLI' auto --crop '$WORK/r'")
t_exiftran=$(PREPARE=$fresh_copy best "exiftran -a -i '$WORK'/r/*.jpg")

rm -rf "$XDG_CACHE_HOME"
peak_kb=$( { /usr/bin/time -f '%M' "$CLI" thumbnails --cell 150 "$CORPUS" >/dev/null; } 2>&1 | tail -1)
thumb_bytes=$(( 140 * 100 * 3 )) # a default 4:3 thumbnail, kept as RGB888
fi

# The same photos as phones write them: a quarter-size grey gain map and a 1920-pixel preview
# after the main image, listed in an MPF index.
MPF_CORPUS=$CORPUS-mpf
if [ ! -f "$MPF_CORPUS/done" ]; then
  rm -rf "$MPF_CORPUS"; mkdir -p "$MPF_CORPUS/parts"
  for f in "${photos[@]}"; do
    b=$(basename "$f" .jpg)
    convert "$f" -strip -resize 25% -colorspace Gray -quality 85 "$MPF_CORPUS/parts/$b-gain.jpg"
    convert "$f" -strip -resize 1920x1920 -quality 90 "$MPF_CORPUS/parts/$b-preview.jpg"
    python3 bench/make-mpf.py "$f" "$MPF_CORPUS/$b.jpg" "$MPF_CORPUS/parts/$b-gain.jpg" "$MPF_CORPUS/parts/$b-preview.jpg"
  done
  touch "$MPF_CORPUS/done"
fi

# jpegtran on every core, as a user with a shell would run it.
JPEGTRAN_ALL="xargs -0 -P $(nproc) -I{} sh -c 'jpegtran -rotate 90 -trim -copy all -outfile \"\$1.t\" \"\$1\" && mv \"\$1.t\" \"\$1\"' _ {}"
fresh_copy='rm -rf "$WORK/r"; cp -r "$CORPUS" "$WORK/r"'
t_rot_plain=$(PREPARE=$fresh_copy best "'$CLI' rotate --crop right '$WORK'/r/*.jpg")
t_par_plain=$(PREPARE=$fresh_copy best "printf '%s\\0' '$WORK'/r/*.jpg | $JPEGTRAN_ALL")
fresh_mpf='rm -rf "$WORK/r"; mkdir -p "$WORK/r"; cp "$MPF_CORPUS"/*.jpg "$WORK/r"'
t_rot_mpf=$(PREPARE=$fresh_mpf best "'$CLI' rotate --crop right '$WORK'/r/*.jpg")
t_par_mpf=$(PREPARE=$fresh_mpf best "printf '%s\\0' '$WORK'/r/*.jpg | $JPEGTRAN_ALL")
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
mpf_mb=$(du -sm --apparent-size "$MPF_CORPUS"/*.jpg | awk '{s += $1} END {print s}')

parallel=$(cat <<TABLE
| photos | tulvex-cli rotate --crop right | jpegtran -rotate 90 -trim -copy all, xargs -P $(nproc) | ratio (Tulvex / peer) | target |
|---|---|---|---|---|
| plain | $(per "$t_rot_plain") ms/photo | $(per "$t_par_plain") ms/photo | $(ratio "$t_rot_plain" "$t_par_plain") | <= 1.0 |
| with MPF gain map and preview ($mpf_mb MB in all) | $(per "$t_rot_mpf") ms/photo | $(per "$t_par_mpf") ms/photo (drops the MPF images) | $(ratio "$t_rot_mpf" "$t_par_mpf") | <= 1.0 |
TABLE
)
parallel_section=$(cat <<SECTION
## Turning on every core

\`ONLY=$ONLY bench/run.sh $COUNT $MP\` on $(date -u +%Y-%m-%d), $(nproc) cores, ${#photos[@]} photos of ${MP} megapixels, best of three.
Load average (1, 5, 15 min) before: $load_before; after: $load_after (other work shares the machine).

$parallel
SECTION
)
echo "$parallel_section"
# The sections of bench/turn.sh and bench/cache.sh, which come last, stay.
cache_section=$(awk '/^## Lossless turn$/ || /^<!-- thumbnail cache: bench\/cache.sh -->$/ { keep = 1 } keep { print }' bench/RESULTS.md 2>/dev/null || true)
if [ "$ONLY" != all ]; then
  kept=$(sed '/^## Turning on every core/,$d; /^<!-- thumbnail cache: bench\/cache.sh -->$/,$d' bench/RESULTS.md)
  { printf '%s\n\n%s\n' "$kept" "$parallel_section"; if [ -n "$cache_section" ]; then echo; echo "$cache_section"; fi; } > bench/RESULTS.md
  exit 0
fi

table=$(cat <<TABLE
| measure | Tulvex | peer | ratio (Tulvex / peer) | target |
|---|---|---|---|---|
| thumbnails, high quality | $(per "$t_high") ms/photo | vipsthumbnail -s 140: $(per "$t_vips") ms/photo | $(ratio "$t_high" "$t_vips") | <= 0.5 |
| thumbnails, high quality | $(per "$t_high") ms/photo | djpeg -scale 1/8: $(per "$t_djpeg") ms/photo | $(ratio "$t_high" "$t_djpeg") | |
| thumbnails, low quality (embedded) | $(per "$t_low") ms/photo | vipsthumbnail -s 140: $(per "$t_vips") ms/photo | $(ratio "$t_low" "$t_vips") | |
| thumbnails, low quality (embedded) | $(per "$t_low") ms/photo | vipsthumbnail -s 140 on $(nproc) cores: $(per "$t_vips_all") ms/photo | $(ratio "$t_low" "$t_vips_all") | <= 0.05 |
| thumbnails, low quality (embedded) | $(per "$t_low") ms/photo | exiv2 -et (extraction only): $(per "$t_exiv2") ms/photo | $(ratio "$t_low" "$t_exiv2") | |
| rotate right | $(per "$t_rot") ms/photo | jpegtran -rotate 90 -trim -copy all: $(per "$t_jpegtran") ms/photo | $(ratio "$t_rot" "$t_jpegtran") | <= 1.0 |
| automatic orientation | $(per "$t_auto") ms/photo | exiftran -a -i: $(per "$t_exiftran") ms/photo | $(ratio "$t_auto" "$t_exiftran") | <= 0.6 |
| peak memory of a load | ${peak_kb} KB for ${#photos[@]} photos | one default thumbnail: $((thumb_bytes / 1024)) KB | | <= 64 KB a thumbnail |
TABLE
)
echo "$table"
{
  echo "# Benchmark results"
  echo
  echo "Run of \`bench/run.sh $COUNT $MP\` on $(date -u +%Y-%m-%d), $(nproc) cores, ${#photos[@]} photos of ${MP} megapixels"
  echo "(best of three runs each; all tools on the same files in the same run)."
  echo
  echo "$table"
  echo
  echo "$parallel_section"
  if [ -n "$cache_section" ]; then echo; echo "$cache_section"; fi
} > bench/RESULTS.md
