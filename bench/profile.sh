#!/usr/bin/env bash
# The turn of progressive photos, and where the time of one turn goes, in one run:
#   - `tulvex-cli rotate --crop right` on progressive copies of the corpus against
#     `jpegtran -rotate 90 -trim -copy all -progressive -optimize` and the same jpegtran writing
#     baseline, on every core (one tulvex-cli call, jpegtran through xargs -P CORES) and one
#     photo after another (one call per photo for both);
#   - the same with the build of an earlier commit (BASE, default e730f00: before the
#     progressive counts of our own);
#   - tulvex_turn_profile on one 12-megapixel photo, baseline and progressive, this build and
#     BASE's (the profile program compiled against BASE's core library).
#   bench/profile.sh [COUNT] [MEGAPIXELS]   (default 12 photos of 12 megapixels)
# Prints the tables; writes the "Progressive turn and profile" section of bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
COUNT=${1:-12}
MP=${2:-12}
BASE=${BASE:-e730f00}
ROOT=$PWD
BUILD=${BUILD_DIR:-build-bench}
CORPUS=$ROOT/bench/corpus/${COUNT}x${MP}mp
WORK=$ROOT/bench/work/profile
MAKE_CORPUS=${MAKE_CORPUS:-$ROOT/../shared/bench/make-corpus.sh}
CORES=$(nproc)

if [ ! -x "$BUILD/bin/tulvex_turn_profile" ]; then
  BUILD_DIR=$BUILD bash scripts/build.sh -DTULVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
CLI=$ROOT/$BUILD/bin/tulvex-cli
PROFILE=$ROOT/$BUILD/bin/tulvex_turn_profile
BASE_CLI=$(base_cli "$BASE")
BASE_DIR=$ROOT/build-base-$BASE
BASE_PROFILE=$BASE_DIR/build/tulvex_turn_profile
if [ ! -x "$BASE_PROFILE" ]; then
  cmake --build "$BASE_DIR/build" --target tulvex_core >/dev/null
  # shellcheck disable=SC2046
  g++ -std=c++20 -O2 -DNDEBUG -I"$BASE_DIR/src/src" bench/turn_profile.cpp \
    "$BASE_DIR/build/libtulvex_core.a" $(pkg-config --cflags --libs Qt6Core libturbojpeg libjpeg) \
    -o "$BASE_PROFILE"
fi

if [ ! -f "$CORPUS/manifest.tsv" ]; then
  rm -rf "$CORPUS"
  bash "$MAKE_CORPUS" "$CORPUS" "$COUNT" "$MP" >&2
fi
rm -rf "$WORK"; mkdir -p "$WORK/progressive"
for f in "$CORPUS"/*.jpg; do
  jpegtran -copy all -progressive -outfile "$WORK/progressive/$(basename "$f")" "$f"
done
photos=("$WORK"/progressive/*.jpg)
n=${#photos[@]}
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

per() { echo "scale=1; 1000 * $1 / $2" | bc -l; }
fresh="rm -rf '$WORK/r'; cp -r '$WORK/progressive' '$WORK/r'"
jt() { # jobs [extra options]
  echo "ls '$WORK'/r/*.jpg | xargs -P $1 -I{} sh -c 'jpegtran -rotate 90 -trim -copy all -optimize ${2:-} -outfile \"{}.t\" \"{}\" && mv \"{}.t\" \"{}\"'"
}
ours_each() { echo "for f in '$WORK'/r/*.jpg; do '$1' rotate --crop right \"\$f\"; done"; }

# Every measure of a block runs in turn, three times over; the best of each is kept.
t_all=; t_all_base=; t_all_jp=; t_all_jb=; t_one=; t_one_base=; t_one_jp=; t_one_jb=
for _ in 1 2 3; do
  t_all=$(min "$t_all" "$(RUNS=1 PREPARE=$fresh best "'$CLI' rotate --crop right '$WORK'/r/*.jpg")")
  t_all_base=$(min "$t_all_base" "$(RUNS=1 PREPARE=$fresh best "'$BASE_CLI' rotate --crop right '$WORK'/r/*.jpg")")
  t_all_jp=$(min "$t_all_jp" "$(RUNS=1 PREPARE=$fresh best "$(jt "$CORES" -progressive)")")
  t_all_jb=$(min "$t_all_jb" "$(RUNS=1 PREPARE=$fresh best "$(jt "$CORES")")")
  t_one=$(min "$t_one" "$(RUNS=1 PREPARE=$fresh best "$(ours_each "$CLI")")")
  t_one_base=$(min "$t_one_base" "$(RUNS=1 PREPARE=$fresh best "$(ours_each "$BASE_CLI")")")
  t_one_jp=$(min "$t_one_jp" "$(RUNS=1 PREPARE=$fresh best "$(jt 1 -progressive)")")
  t_one_jb=$(min "$t_one_jb" "$(RUNS=1 PREPARE=$fresh best "$(jt 1)")")
done

# The profile: the first photo of the corpus as it is (baseline) and its progressive copy.
baseline=$(ls "$CORPUS"/*.jpg | head -1)
progressive=$WORK/progressive/$(basename "$baseline")
mkdir -p "$WORK/p"
# Rounds of two runs of each program in turn, the best of every step kept: a busy machine slows
# a stretch of time, which this spreads over every column.
declare -A prof
for _ in 1 2 3 4; do
  for kind in baseline progressive; do
    photo=${!kind}
    for build in after before; do
      program=$PROFILE; [ $build = before ] && program=$BASE_PROFILE
      while read -r step ms; do
        key=$kind,$build,$step
        prof[$key]=$(min "${prof[$key]:-}" "$ms")
      done < <("$program" "$photo" "$WORK/p" 2)
    done
  done
done
# What the turn takes beyond its decoding and encoding, from the best of each.
for kind in baseline progressive; do
  for build in after before; do
    prof[$kind,$build,transpose_and_count]=$(echo "t = ${prof[$kind,$build,lossless_turn]} - ${prof[$kind,$build,decode]} - ${prof[$kind,$build,encode]}; if (t < 0) t = 0; scale=2; t / 1" | bc -l)
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# Byte identity: every turned progressive copy against BASE's, and its tables and scans (from the
# main image's first DQT on; the EXIF thumbnail is turned differently) against jpegtran's.
rm -rf "$WORK/i"; mkdir -p "$WORK/i/now" "$WORK/i/base" "$WORK/i/jt"
cp "$WORK"/progressive/*.jpg "$WORK/i/now/"; cp "$WORK"/progressive/*.jpg "$WORK/i/base/"
"$CLI" rotate --crop right "$WORK"/i/now/*.jpg >/dev/null
"$BASE_CLI" rotate --crop right "$WORK"/i/base/*.jpg >/dev/null
for f in "$WORK"/progressive/*.jpg; do
  jpegtran -rotate 90 -trim -copy all -progressive -optimize -outfile "$WORK/i/jt/$(basename "$f")" "$f"
done
read -r same_base same_jt < <(python3 - "$WORK/i" <<'PY'
import glob, os, sys
root = sys.argv[1]
def coded(b):
    i = 2
    while i + 4 <= len(b) and b[i] == 0xFF:
        if b[i + 1] == 0xDB: return b[i:]
        i += 2 + (b[i + 2] << 8 | b[i + 3])
    return None
base = jt = 0
for f in glob.glob(root + '/now/*.jpg'):
    name = os.path.basename(f); now = open(f, 'rb').read()
    base += now == open(root + '/base/' + name, 'rb').read()
    c = coded(now); jt += c is not None and c == coded(open(root + '/jt/' + name, 'rb').read())
print(base, jt)
PY
)

speed=$(cat <<TABLE
| measure | Tulvex | peer | ratio | target |
|---|---|---|---|---|
| rotate right, progressive copies, every core | $(per "$t_all" "$n") ms/photo | jpegtran -rotate 90 -trim -copy all -progressive -optimize, xargs -P $CORES: $(per "$t_all_jp" "$n") ms/photo | $(ratio "$t_all" "$t_all_jp") | <= 0.8 |
| rotate right, progressive copies, every core | $(per "$t_all" "$n") ms/photo | the same jpegtran writing baseline: $(per "$t_all_jb" "$n") ms/photo | $(ratio "$t_all" "$t_all_jb") | <= 1.0 |
| rotate right, progressive copies, one after another | $(per "$t_one" "$n") ms/photo | jpegtran ... -progressive -optimize, one at a time: $(per "$t_one_jp" "$n") ms/photo | $(ratio "$t_one" "$t_one_jp") | <= 0.8 |
| rotate right, progressive copies, one after another | $(per "$t_one" "$n") ms/photo | the same jpegtran writing baseline: $(per "$t_one_jb" "$n") ms/photo | $(ratio "$t_one" "$t_one_jb") | <= 1.0 |
| rotate right, progressive copies, every core | $(per "$t_all" "$n") ms/photo | commit $BASE: $(per "$t_all_base" "$n") ms/photo | $(ratio "$t_all" "$t_all_base") | |
| rotate right, progressive copies, one after another | $(per "$t_one" "$n") ms/photo | commit $BASE: $(per "$t_one_base" "$n") ms/photo | $(ratio "$t_one" "$t_one_base") | |
TABLE
)
cell() { echo "${prof[$1,$2,$3]:--}"; }
steps="read decode transpose_and_count count_alone encode encode_with_library_statistics lossless_turn metadata_and_thumbnail embedded_thumbnail_turn write flush whole_turn_of_the_file"
profile="| step (ms) | baseline, $BASE | baseline, now | progressive, $BASE | progressive, now |
|---|---|---|---|---|"
for s in $steps; do
  profile+=$'\n'"| ${s//_/ } | $(cell baseline before "$s") | $(cell baseline after "$s") | $(cell progressive before "$s") | $(cell progressive after "$s") |"
done
echo "$speed"; echo; echo "identical to $BASE: $same_base/$n, tables and scans as jpegtran: $same_jt/$n"; echo; echo "$profile"

section=$(cat <<SECTION
## Progressive turn and profile of one turn

Run of \`bench/profile.sh $COUNT $MP\` on $(date -u +%Y-%m-%d), $CORES cores, load average $load_before before and
$load_after after (best of three rounds, every tool on the same files in each round): the ratios of one run are
what counts, not the milliseconds.

$speed

Byte identity of the same run: $same_base of $n turned progressive copies equal those of commit $BASE byte for byte, and
$same_jt of $n have the tables and scans of \`jpegtran -rotate 90 -trim -copy all -progressive -optimize\`.

The profile of one turn of $(basename "$baseline") ($(identify -format '%wx%h' "$baseline" 2>/dev/null || echo 12 MP)), the best of eight runs of each step
(\`tulvex_turn_profile\`, the two builds in turn). "lossless turn" is the whole in-memory turn; "decode" and "encode" are the same
libjpeg calls on the same coefficients timed alone, and "transpose and count" is what the turn takes beyond
them. "encode" is the writing with the tables already made: for progressive photos at $BASE that was
libjpeg's statistics pass ahead of each scan plus its writing ("encode with library statistics"), now it
is our own coder of the scans, led by the masks the count keeps, with libjpeg writing only the headers;
"count alone" is our count of the progressive scans run as a pass of its own (in the turn it runs inside
the transpose). "write" and "flush" are the safe replacement of the file, the flush being its fsync calls.
The steps that compute are timed in processor time of the thread, steadier than the wall on a shared
machine; read, write, flush and the whole turn of the file (which waits for the disk) on the wall.

$profile
SECTION
)
touch bench/RESULTS.md
python3 - "$section" <<'PY'
import re, sys
text = open('bench/RESULTS.md').read()
section = sys.argv[1].rstrip() + '\n'
text = re.sub(r'\n## Progressive turn and profile of one turn\n.*?(?=\n## |\n<!-- |\Z)', '', text, flags=re.S)
marker = '<!-- thumbnail cache: bench/cache.sh -->'
head, found, tail = text.partition(marker)
text = head.rstrip() + '\n\n' + section + ('\n' + found + tail if found else '')
open('bench/RESULTS.md', 'w').write(text)
PY
