#!/usr/bin/env bash
# The speed targets for every kind of photo, measured side by side in one run:
#   - `tulvex-cli thumbnails --low` against vipsthumbnail on every core (the corpus has
#     letterboxed embedded thumbnails);
#   - `tulvex-cli rotate --crop right` on the corpus (baseline) and on progressive copies of it,
#     against `jpegtran -rotate 90 -trim -copy all -optimize` (with -progressive for the copies,
#     and without), on every core: one tulvex-cli call, jpegtran through xargs -P CORES;
#   - a 20000x14000 panorama turned by each, one at a time: time and peak memory.
#   bench/targets.sh [COUNT] [MEGAPIXELS]   (default 60 photos of 12 megapixels)
# Every measure of a round runs in turn, three rounds; the best of each is kept.
# Replaces the "Targets for every kind of photo" section of bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
COUNT=${1:-60}
MP=${2:-12}
ROOT=$PWD
CORPUS=$ROOT/bench/corpus/${COUNT}x${MP}mp
WORK=$ROOT/bench/work/targets
MAKE_CORPUS=${MAKE_CORPUS:-$ROOT/../shared/bench/make-corpus.sh}
CORES=$(nproc)
export XDG_STATE_HOME=$WORK/state XDG_CACHE_HOME=$WORK/cache # not the user's undo and caches

if [ -z "${CLI:-}" ]; then
  WITH_EXTRA=1 bash scripts/setup.sh
  BUILD_DIR=build-bench bash scripts/build.sh -DTULVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >&2
  CLI=$ROOT/build-bench/bin/tulvex-cli
fi
if [ ! -f "$CORPUS/manifest.tsv" ]; then
  rm -rf "$CORPUS"
  bash "$MAKE_CORPUS" "$CORPUS" "$COUNT" "$MP" >&2
fi
rm -rf "$WORK"; mkdir -p "$WORK/progressive" "$WORK/out"
photos=("$CORPUS"/*.jpg)
n=${#photos[@]}
for f in "${photos[@]}"; do
  jpegtran -copy all -progressive -outfile "$WORK/progressive/$(basename "$f")" "$f"
done
flat_panorama 20000 14000 "$WORK/panorama.jpg"

per() { echo "scale=2; 1000 * $1 / $n" | bc -l | sed 's/^\./0./'; }
fresh() { echo "rm -rf '$WORK/r'; cp -r '$1' '$WORK/r'"; }
jt() { # extra jpegtran options
  echo "ls '$WORK'/r/*.jpg | xargs -P $CORES -I{} sh -c 'jpegtran -rotate 90 -trim -copy all -optimize ${1:-} -outfile \"{}.t\" \"{}\" && mv \"{}.t\" \"{}\"'"
}
vips_all="printf '%s\\0' ${photos[*]} | xargs -0 -P $CORES -n $(((n + CORES - 1) / CORES)) vipsthumbnail -s 140 -o '$WORK/out/%s.jpg'"
# "seconds max-RSS-KB" of one run on a fresh copy of the panorama.
panorama() {
  cp "$WORK/panorama.jpg" "$WORK/p.jpg"
  /usr/bin/time -o "$WORK/time" -f '%e %M' "$@" >/dev/null 2>&1
  cat "$WORK/time"
}
better() { # "t m" "t m": the one with the shorter time
  if [ -z "$1" ]; then echo "$2"; return; fi
  if [ "$(echo "${2%% *} < ${1%% *}" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
t_low=; t_vips=; t_base=; t_base_jt=; t_prog=; t_prog_jp=; t_prog_jb=; p_ours=; p_jt=
for _ in 1 2 3; do
  t_low=$(min "$t_low" "$(RUNS=1 PREPARE='rm -rf "$XDG_CACHE_HOME"' best "'$CLI' thumbnails --low --cell 150 '$CORPUS'")")
  t_vips=$(min "$t_vips" "$(RUNS=1 best "$vips_all")")
  t_base=$(min "$t_base" "$(RUNS=1 PREPARE=$(fresh "$CORPUS") best "'$CLI' rotate --crop right '$WORK'/r/*.jpg")")
  t_base_jt=$(min "$t_base_jt" "$(RUNS=1 PREPARE=$(fresh "$CORPUS") best "$(jt)")")
  t_prog=$(min "$t_prog" "$(RUNS=1 PREPARE=$(fresh "$WORK/progressive") best "'$CLI' rotate --crop right '$WORK'/r/*.jpg")")
  t_prog_jp=$(min "$t_prog_jp" "$(RUNS=1 PREPARE=$(fresh "$WORK/progressive") best "$(jt -progressive)")")
  t_prog_jb=$(min "$t_prog_jb" "$(RUNS=1 PREPARE=$(fresh "$WORK/progressive") best "$(jt)")")
  p_ours=$(better "$p_ours" "$(panorama "$CLI" rotate --crop right "$WORK/p.jpg")")
  p_jt=$(better "$p_jt" "$(panorama jpegtran -rotate 90 -trim -copy all -outfile "$WORK/p.t.jpg" "$WORK/p.jpg")")
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The turned progressive copies stay progressive and carry jpegtran's tables and scans.
rm -rf "$WORK/r" "$WORK/jt"; cp -r "$WORK/progressive" "$WORK/r"; mkdir -p "$WORK/jt"
"$CLI" rotate --crop right "$WORK"/r/*.jpg >/dev/null
for f in "$WORK"/progressive/*.jpg; do
  jpegtran -rotate 90 -trim -copy all -progressive -optimize -outfile "$WORK/jt/$(basename "$f")" "$f"
done
read -r still_progressive same < <(python3 - "$WORK" <<'PY'
import glob, os, sys
work = sys.argv[1]
def frame(b):  # the first frame header's marker, and the bytes from it on
    i = 2
    while i + 4 <= len(b) and b[i] == 0xFF:
        m = b[i + 1]
        if 0xC0 <= m <= 0xCF and m not in (0xC4, 0xC8, 0xCC): return m, b[i:]
        i += 2 + (b[i + 2] << 8 | b[i + 3])
    return None, None
progressive = same = 0
for f in glob.glob(work + '/r/*.jpg'):
    m, ours = frame(open(f, 'rb').read())
    progressive += m == 0xC2
    same += ours is not None and ours == frame(open(work + '/jt/' + os.path.basename(f), 'rb').read())[1]
print(progressive, same)
PY
)

read -r p_ours_t p_ours_m <<<"$p_ours"
read -r p_jt_t p_jt_m <<<"$p_jt"
section=$(cat <<SECTION
## Targets for every kind of photo

\`bench/targets.sh $COUNT $MP\` on $(date -u +%Y-%m-%d), $CORES cores, $n photos of $MP megapixels and progressive
copies of them (\`jpegtran -copy all -progressive\`), best of three rounds in which every measure ran in
turn. Load average (1, 5, 15 min) before: $load_before; after: $load_after.
Of the $n turned progressive copies $still_progressive are still progressive and $same have, from the frame
header on, the bytes of \`jpegtran -rotate 90 -trim -copy all -progressive -optimize\`.

| measure | Tulvex | peer | ratio (Tulvex / peer) | target |
|---|---|---|---|---|
| thumbnails --low, corpus | $(per "$t_low") ms/photo | vipsthumbnail -s 140 on every core: $(per "$t_vips") ms/photo | $(ratio "$t_low" "$t_vips") | <= 0.05 |
| rotate right, corpus (baseline), every core | $(per "$t_base") ms/photo | jpegtran -rotate 90 -trim -copy all -optimize: $(per "$t_base_jt") ms/photo | $(ratio "$t_base" "$t_base_jt") | <= 0.5 |
| rotate right, progressive copies, every core | $(per "$t_prog") ms/photo | the same jpegtran with -progressive: $(per "$t_prog_jp") ms/photo | $(ratio "$t_prog" "$t_prog_jp") | <= 0.8 |
| rotate right, progressive copies, every core | $(per "$t_prog") ms/photo | the same jpegtran writing baseline: $(per "$t_prog_jb") ms/photo | $(ratio "$t_prog" "$t_prog_jb") | <= 1.0 |
| 20000x14000 panorama, time | $p_ours_t s | jpegtran -rotate 90 -trim -copy all: $p_jt_t s | $(ratio "$p_ours_t" "$p_jt_t") | <= 1.0 |
| 20000x14000 panorama, peak memory | $((p_ours_m / 1024)) MB | the same jpegtran: $((p_jt_m / 1024)) MB | $(ratio "$p_ours_m" "$p_jt_m") | <= 1.1 |
SECTION
)
echo "$section"
kept=$(awk '/^## Targets for every kind of photo$/ { skip = 1; next } skip && /^## / { skip = 0 } !skip { print }' bench/RESULTS.md)
printf '%s\n\n%s\n' "$kept" "$section" >bench/RESULTS.md
