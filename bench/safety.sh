#!/usr/bin/env bash
# Stress, not a timed test: Tulvex beside other processes, counted over many trials.
#   (a) two `tulvex-cli rotate right` of one photo at once: both turns must be applied;
#   (b) another program writing the photo while it is turned (exiftool rewriting it, or an
#       append): its change is never lost silently; the turn either happened or said it failed;
#   (c) kill -9 during a hard-linked turn, then the target replaced, then a folder load (below).
# Then the speed of a turn beside jpegtran, on every core and one photo after another, for this
# tree and for an earlier commit (BASE, the one before the photo lock), so that the cost of the
# lock and the check shows.
#   bench/safety.sh [TRIALS] [COUNT] [MEGAPIXELS]   (default 100 trials; 12 photos of 12 megapixels)
#   ONLY=stress|speed bench/safety.sh ...
#   TULVEX_CLI=path/to/tulvex-cli ONLY=stress bench/safety.sh ...
# Prints the counts and ratios; writes nothing to bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
TRIALS=${1:-100}
COUNT=${2:-12}
MP=${3:-12}
BASE=${BASE:-0b31708}
ONLY=${ONLY:-all}
ROOT=$PWD
CORPUS=$ROOT/bench/corpus/${COUNT}x${MP}mp
WORK=$ROOT/bench/work/safety
export XDG_STATE_HOME=$WORK/state # the turns keep their undo data here, not in the user's
MAKE_CORPUS=${MAKE_CORPUS:-$ROOT/../shared/bench/make-corpus.sh}
CORES=$(nproc)

WITH_EXTRA=1 bash scripts/setup.sh
if [ -z "${TULVEX_CLI:-}" ]; then
  BUILD_DIR=build-bench bash scripts/build.sh -DTULVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
    ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} >/dev/null
fi
# TULVEX_CLI: another build to stress (an earlier one, to see what the counts catch).
CLI=${TULVEX_CLI:-$ROOT/build-bench/bin/tulvex-cli}

if [ ! -f "$CORPUS/manifest.tsv" ]; then
  rm -rf "$CORPUS"
  bash "$MAKE_CORPUS" "$CORPUS" "$COUNT" "$MP" >&2
fi
photos=("$CORPUS"/*.jpg)
rm -rf "$WORK"; mkdir -p "$WORK"

# Everything in a trial's folder other than the photo: temporaries, kept copies, writers' files.
strays() { find "$1" -mindepth 1 ! -name "$2" | wc -l; }
size_of() { identify -format '%wx%h' "$1" 2>/dev/null || echo broken; }

# ---- (a) two turns at once --------------------------------------------------------------------
two_turns() {
  local photo=${photos[0]} dir=$WORK/a twice once
  mkdir -p "$dir"
  # What one and two turns, one after the other, leave.
  cp "$photo" "$dir/ref.jpg"; "$CLI" rotate --crop right "$dir/ref.jpg" >/dev/null
  once=$WORK/once.jpg; cp "$dir/ref.jpg" "$once"
  "$CLI" rotate --crop right "$dir/ref.jpg" >/dev/null
  twice=$WORK/twice.jpg; mv "$dir/ref.jpg" "$twice"
  local ok=0 lost=0 other=0 failed=0 stray=0 a b
  for ((i = 0; i < TRIALS; i++)); do
    cp "$photo" "$dir/d.jpg"
    "$CLI" rotate --crop right "$dir/d.jpg" >"$WORK/a1.log" 2>&1 & a=$!
    "$CLI" rotate --crop right "$dir/d.jpg" >"$WORK/a2.log" 2>&1 & b=$!
    local ea=0 eb=0
    wait $a || ea=$?
    wait $b || eb=$?
    if [ $ea -ne 0 ] || [ $eb -ne 0 ]; then failed=$((failed + 1)); fi
    if cmp -s "$dir/d.jpg" "$twice"; then ok=$((ok + 1))
    elif cmp -s "$dir/d.jpg" "$once"; then
      # One turn left: lost only when both said they turned it.
      [ $ea -eq 0 ] && [ $eb -eq 0 ] && lost=$((lost + 1))
    else other=$((other + 1)); fi
    stray=$((stray + $(strays "$dir" d.jpg)))
    find "$dir" -mindepth 1 -delete
  done
  echo "(a) two concurrent turns, $TRIALS trials of $(basename "$photo") ($(size_of "$photo")):"
  echo "    both turns applied: $ok; lost turns (one left, both said turned): $lost;"
  echo "    trials where a turn reported failure: $failed; photo neither once nor twice turned: $other;"
  echo "    files left that were not the photo turned: $stray"
}

# ---- (b) a writer racing a turn ---------------------------------------------------------------
writer_race() {
  local photo=${photos[0]} dir=$WORK/b
  mkdir -p "$dir"
  local original turned t0 t1 turn_ms
  original=$(size_of "$photo")
  cp "$photo" "$dir/p.jpg"
  t0=$(now); "$CLI" rotate --crop right "$dir/p.jpg" >/dev/null; t1=$(now)
  turned=$(size_of "$dir/p.jpg")
  turn_ms=$(echo "($t1 - $t0) * 1000 / 1" | bc)
  rm -f "$dir/p.jpg"
  local both=0 refused=0 lost_change=0 lost_turn=0 false_fail=0 overwritten=0 writer_failed=0 stray=0
  for ((i = 0; i < TRIALS; i++)); do
    cp "$photo" "$dir/p.jpg"
    local kind=exiftool mark="X$i$RANDOM" delay e=0 w=0 has_change=0 size
    [ $((i % 2)) -eq 1 ] && kind=append
    # Anywhere from before the read to after the rename.
    delay=$(echo "scale=3; $((RANDOM % (turn_ms + 50))) / 1000" | bc)
    "$CLI" rotate --crop right "$dir/p.jpg" >"$WORK/b.log" 2>&1 & local pid=$!
    sleep "$delay"
    if [ $kind = exiftool ]; then
      exiftool -q -overwrite_original -Artist="$mark" "$dir/p.jpg" >/dev/null 2>&1 || w=$?
    else
      printf '%s' "$mark" >>"$dir/p.jpg" || w=$?
    fi
    wait $pid || e=$?
    if [ $w -ne 0 ]; then writer_failed=$((writer_failed + 1)); fi
    if [ $kind = exiftool ]; then
      [ "$(exiftool -s3 -Artist "$dir/p.jpg" 2>/dev/null)" = "$mark" ] && has_change=1
    else
      [ "$(tail -c ${#mark} "$dir/p.jpg")" = "$mark" ] && has_change=1
    fi
    size=$(size_of "$dir/p.jpg")
    if [ $w -eq 0 ] && [ $has_change -eq 0 ]; then lost_change=$((lost_change + 1)); fi
    if [ $e -eq 0 ] && [ "$size" != "$turned" ]; then
      # exiftool read the photo before the turn and renamed its copy over it after: its own race
      # (it takes no lock), which no turn can prevent.
      if [ $kind = exiftool ] && [ $has_change -eq 1 ]; then overwritten=$((overwritten + 1))
      else lost_turn=$((lost_turn + 1)); fi
    fi
    if [ $e -ne 0 ]; then
      if [ "$size" = "$original" ] && grep -q "changed while it was being turned" "$WORK/b.log"; then
        refused=$((refused + 1))
      else false_fail=$((false_fail + 1)); fi
    elif [ $has_change -eq 1 ] && [ "$size" = "$turned" ]; then both=$((both + 1)); fi
    stray=$((stray + $(strays "$dir" p.jpg)))
    find "$dir" -mindepth 1 -delete
  done
  echo "(b) a writer racing a turn, $TRIALS trials (exiftool -overwrite_original -Artist and an append, alternately; one turn ~${turn_ms} ms):"
  echo "    turn and change both kept: $both; turn refused, saying the photo changed: $refused;"
  echo "    lost changes: $lost_change; lost turns: $lost_turn; other failures: $false_fail;"
  echo "    turns later overwritten by exiftool's own copy (its race): $overwritten; writer failed: $writer_failed;"
  echo "    files left that were not the photo turned: $stray"
}

# ---- (c) kill -9 during a hard-linked turn, then the target replaced, then a folder load ------
# Half the trials replace the photo by another one (a new file under its name) before the load:
# the load must leave that one alone; the others must end with the photo old or turned, whole.
killed_linked_turn() {
  local photo=${photos[0]} other=${photos[1]} dir=$WORK/c/photos links=$WORK/c/links
  mkdir -p "$dir" "$links"
  local turned=$WORK/turned-c.jpg t0 t1 turn_ms
  cp "$photo" "$dir/p.jpg"; ln "$dir/p.jpg" "$links/p.jpg"
  t0=$(now); "$CLI" rotate --crop right "$dir/p.jpg" >/dev/null; t1=$(now)
  turn_ms=$(echo "($t1 - $t0) * 1000 / 1" | bc)
  mv "$dir/p.jpg" "$turned"; rm -f "$links/p.jpg"
  local whole_old=0 whole_new=0 torn=0 finished=0 replaced_kept=0 replaced_lost=0 stray=0
  local left_for_user=0 delay pid
  for ((i = 0; i < TRIALS; i++)); do
    cp "$photo" "$dir/p.jpg"; ln "$dir/p.jpg" "$links/p.jpg"
    delay=$(echo "scale=3; $((RANDOM % (turn_ms + 20))) / 1000" | bc)
    "$CLI" rotate --crop right "$dir/p.jpg" >/dev/null 2>&1 & pid=$!
    sleep "$delay"
    kill -9 $pid 2>/dev/null || true
    wait $pid 2>/dev/null || true
    local had_copy=0
    ls -A "$dir" | grep -q 'tulvex-keep-' && had_copy=1
    if [ $((i % 2)) -eq 1 ]; then
      cp "$other" "$dir/new.jpg" && mv "$dir/new.jpg" "$dir/p.jpg"
      "$CLI" auto "$dir" >/dev/null 2>&1 || true
      if cmp -s "$dir/p.jpg" "$other"; then replaced_kept=$((replaced_kept + 1))
      else replaced_lost=$((replaced_lost + 1)); fi
      # The old file lives on under its other link; a copy left for it is the user's to take.
      ls -A "$dir" | grep -q 'tulvex-keep-' && left_for_user=$((left_for_user + 1))
      stray=$((stray + $(find "$dir" -mindepth 1 ! -name p.jpg ! -name '*tulvex-keep-*' | wc -l)))
    else
      "$CLI" auto "$dir" >/dev/null 2>&1 || true
      if cmp -s "$dir/p.jpg" "$photo"; then whole_old=$((whole_old + 1))
      elif cmp -s "$dir/p.jpg" "$turned"; then
        whole_new=$((whole_new + 1)); [ $had_copy -eq 1 ] && finished=$((finished + 1))
      else torn=$((torn + 1)); fi
      cmp -s "$dir/p.jpg" "$links/p.jpg" || torn=$((torn + 1))
      stray=$((stray + $(strays "$dir" p.jpg)))
    fi
    rm -rf "$dir" "$links"; mkdir -p "$dir" "$links"
  done
  echo "(c) kill -9 during a hard-linked turn (one turn ~${turn_ms} ms), then a load by tulvex-cli auto, $TRIALS trials:"
  echo "    photo kept: old $whole_old, turned $whole_new (of which finished from a kept copy: $finished), torn or links apart: $torn;"
  echo "    photo replaced by another before the load: left as it was $replaced_kept, written over $replaced_lost"
  echo "    (a kept copy left for the old file under its other link: $left_for_user);"
  echo "    other files left: $stray"
}

# ---- speed ------------------------------------------------------------------------------------
speed() {
  local base_cli
  base_cli=$(base_cli "$BASE")
  local fresh="rm -rf '$WORK/r'; cp -r '$CORPUS' '$WORK/r'" n=${#photos[@]}
  local jt="jpegtran -rotate 90 -trim -copy all -optimize -outfile \"{}.t\" \"{}\" && mv \"{}.t\" \"{}\""
  local p_cli p_base p_jt s_cli s_base s_jt
  p_cli=$(PREPARE=$fresh best "'$CLI' rotate --crop right '$WORK'/r/*.jpg")
  p_base=$(PREPARE=$fresh best "'$base_cli' rotate --crop right '$WORK'/r/*.jpg")
  p_jt=$(PREPARE=$fresh best "ls '$WORK'/r/*.jpg | xargs -P $CORES -I{} sh -c '$jt'")
  s_cli=$(PREPARE=$fresh best "for f in '$WORK'/r/*.jpg; do '$CLI' rotate --crop right \"\$f\"; done")
  s_base=$(PREPARE=$fresh best "for f in '$WORK'/r/*.jpg; do '$base_cli' rotate --crop right \"\$f\"; done")
  s_jt=$(PREPARE=$fresh best "ls '$WORK'/r/*.jpg | xargs -P 1 -I{} sh -c '$jt'")
  per() { echo "scale=1; 1000 * $1 / $n" | bc -l; }
  echo "speed, $n photos of $MP megapixels, best of ${RUNS:-3}, load $(cut -d' ' -f1-3 /proc/loadavg):"
  echo "| run | tulvex-cli rotate | commit $BASE | jpegtran -rotate 90 -trim -copy all -optimize | ratio to jpegtran | ratio to $BASE |"
  echo "|---|---|---|---|---|---|"
  echo "| every core (xargs -P $CORES) | $(per "$p_cli") ms | $(per "$p_base") ms | $(per "$p_jt") ms | $(ratio "$p_cli" "$p_jt") | $(ratio "$p_cli" "$p_base") |"
  echo "| one after another | $(per "$s_cli") ms | $(per "$s_base") ms | $(per "$s_jt") ms | $(ratio "$s_cli" "$s_jt") | $(ratio "$s_cli" "$s_base") |"
}

if [ "$ONLY" != speed ]; then
  two_turns
  writer_race
  killed_linked_turn
fi
if [ "$ONLY" != stress ]; then speed; fi
