#!/usr/bin/env bash
# Measures the lossless turn in one run and prints ratios:
#   - size of each turned photo / its original, over the corpus and over progressive and
#     optimized copies of part of it;
#   - `tulvex-cli rotate right` against `jpegtran -rotate 90 -trim -copy all -optimize` run on
#     every core (xargs -P), on the same files;
#   - one turn of one photo, as the window does it (the same PlanTurn/ApplyTurn the command line
#     runs), against the build of an earlier commit (BASE, default 5712f94).
#   bench/turn.sh [COUNT] [MEGAPIXELS]   (default 60 photos of 12 megapixels)
# Replaces the "Lossless turn" section of bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
COUNT=${1:-60}
MP=${2:-12}
BASE=${BASE:-5712f94}
ROOT=$PWD
CORPUS=$ROOT/bench/corpus/${COUNT}x${MP}mp
WORK=$ROOT/bench/work/turn
export XDG_STATE_HOME=$WORK/state # the turns keep their undo data here, not in the user's
MAKE_CORPUS=${MAKE_CORPUS:-$ROOT/../shared/bench/make-corpus.sh}
CORES=$(nproc)

WITH_EXTRA=1 bash scripts/setup.sh
BUILD_DIR=build-bench bash scripts/build.sh -DTULVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
CLI=$ROOT/build-bench/bin/tulvex-cli

# The earlier commit, built the same way.
BASE_CLI=$(base_cli "$BASE")

if [ ! -f "$CORPUS/manifest.tsv" ]; then
  rm -rf "$CORPUS"
  bash "$MAKE_CORPUS" "$CORPUS" "$COUNT" "$MP" >&2
fi
rm -rf "$WORK"; mkdir -p "$WORK/progressive" "$WORK/optimized"
photos=("$CORPUS"/*.jpg)
# Every fourth photo again, progressive and with optimized tables, as web tools write them.
for ((i = 0; i < ${#photos[@]}; i += 4)); do
  f=${photos[$i]}
  jpegtran -copy all -progressive -outfile "$WORK/progressive/$(basename "$f")" "$f"
  jpegtran -copy all -optimize -outfile "$WORK/optimized/$(basename "$f")" "$f"
done
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- size -------------------------------------------------------------------------------------
# prints "median worst count" of turned/original over the photos of a folder
size_ratios() {
  local dir=$1
  rm -rf "$WORK/s"; cp -r "$dir" "$WORK/s"
  "$CLI" rotate --crop right "$WORK"/s/*.jpg >/dev/null
  for f in "$dir"/*.jpg; do
    echo "scale=6; $(stat -c %s "$WORK/s/$(basename "$f")") / $(stat -c %s "$f")" | bc -l
  done | sort -n | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                                           printf "%.4f %.4f %d\n", m, v[NR], NR }'
}
read -r size_med size_max size_n < <(size_ratios "$CORPUS")
read -r prog_med prog_max prog_n < <(size_ratios "$WORK/progressive")
read -r opt_med opt_max opt_n < <(size_ratios "$WORK/optimized")
progressive_kept=0
rm -rf "$WORK/s"; cp -r "$WORK/progressive" "$WORK/s"; "$CLI" rotate --crop right "$WORK"/s/*.jpg >/dev/null
for f in "$WORK"/s/*.jpg; do
  # SOF2 ahead of the first scan
  if python3 - "$f" <<'PY'
import sys
b = open(sys.argv[1], 'rb').read(); i = 2
while i + 4 <= len(b) and b[i] == 0xFF:
    m = b[i + 1]
    if m == 0xC2: sys.exit(0)
    if m == 0xDA: break
    i += 2 + (b[i + 2] << 8 | b[i + 3])
sys.exit(1)
PY
  then progressive_kept=$((progressive_kept + 1)); fi
done

# ---- speed ------------------------------------------------------------------------------------
per() { echo "scale=2; 1000 * $1 / $2" | bc -l; }

speed_pair() { # folder [extra jpegtran options] -> "t_cli t_jpegtran"
  local dir=$1 extra=${2:-} a b
  local fresh="rm -rf '$WORK/r'; cp -r '$dir' '$WORK/r'"
  a=$(PREPARE=$fresh best "'$CLI' rotate --crop right '$WORK'/r/*.jpg")
  b=$(PREPARE=$fresh best "ls '$WORK'/r/*.jpg | xargs -P $CORES -I{} sh -c 'jpegtran -rotate 90 -trim -copy all -optimize $extra -outfile \"{}.t\" \"{}\" && mv \"{}.t\" \"{}\"'")
  echo "$a $b"
}
read -r t_cli t_jt < <(speed_pair "$CORPUS")
read -r t_cli_p t_jt_p < <(speed_pair "$WORK/progressive")
read -r _ t_jt_pp < <(speed_pair "$WORK/progressive" -progressive)
n_corpus=${#photos[@]}
n_prog=$(ls "$WORK/progressive" | wc -l)

one=${photos[0]}
fresh_one="cp '$one' '$WORK/one.jpg'"
t_one_base=$(RUNS=7 PREPARE=$fresh_one best "'$BASE_CLI' rotate --crop right '$WORK/one.jpg'")
t_one=$(RUNS=7 PREPARE=$fresh_one best "'$CLI' rotate --crop right '$WORK/one.jpg'")
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

table=$(cat <<TABLE
| measure | Tulvex | peer | ratio | target |
|---|---|---|---|---|
| size turned / original, corpus (baseline, standard tables) | median $size_med, worst $size_max ($size_n photos) | | | <= 1.005 |
| size turned / original, progressive copies | median $prog_med, worst $prog_max ($prog_n photos; $progressive_kept still progressive) | | | <= 1.005 |
| size turned / original, optimized baseline copies | median $opt_med, worst $opt_max ($opt_n photos) | | | <= 1.005 |
| rotate right, corpus | $(per "$t_cli" "$n_corpus") ms/photo | jpegtran -rotate 90 -trim -copy all -optimize, xargs -P $CORES: $(per "$t_jt" "$n_corpus") ms/photo | $(ratio "$t_cli" "$t_jt") | <= 1.0 |
| rotate right, progressive copies | $(per "$t_cli_p" "$n_prog") ms/photo | the same jpegtran (writes baseline): $(per "$t_jt_p" "$n_prog") ms/photo | $(ratio "$t_cli_p" "$t_jt_p") | <= 1.0 |
| rotate right, progressive copies | $(per "$t_cli_p" "$n_prog") ms/photo | the same jpegtran with -progressive: $(per "$t_jt_pp" "$n_prog") ms/photo | $(ratio "$t_cli_p" "$t_jt_pp") | |
| one turn of $(basename "$one") (PlanTurn + ApplyTurn, as the window) | $(per "$t_one" 1) ms | commit $BASE: $(per "$t_one_base" 1) ms | $(ratio "$t_one" "$t_one_base") | <= 1.4 |
TABLE
)
echo "$table"
section=$(cat <<SECTION
## Lossless turn

Run of \`bench/turn.sh $COUNT $MP\` on $(date -u +%Y-%m-%d), $CORES cores, load average $load_before before and $load_after after
(best of three runs, seven for the single turn; all tools on the same files in the same run).

$table
SECTION
)
touch bench/RESULTS.md
python3 - "$section" <<'PY'
import re, sys
text = open('bench/RESULTS.md').read()
section = sys.argv[1].rstrip() + '\n'
text = re.sub(r'\n## Lossless turn\n.*?(?=\n## |\n<!-- |\Z)', '', text, flags=re.S)
# The cache's section (bench/cache.sh) stays last.
marker = '<!-- thumbnail cache: bench/cache.sh -->'
head, found, tail = text.partition(marker)
text = head.rstrip() + '\n\n' + section + ('\n' + found + tail if found else '')
open('bench/RESULTS.md', 'w').write(text)
PY
