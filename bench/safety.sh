#!/usr/bin/env bash
# Stress, not a timed test: Tulvex beside other processes, counted over many trials.
#   (a) two `tulvex-cli rotate right` of one photo at once: both turns must be applied;
#   (b) another program writing the photo while it is turned (exiftool rewriting it, or an
#       append): its change is never lost silently; the turn either happened or said it failed;
#   (c) kill -9 during a hard-linked turn, then the target replaced, then a folder load (below);
#   (e) kept copies forged by another user in a sticky shared folder, naming a root-owned
#       hard-linked file of it: root's turn of a photo there must never write that file;
#   (f) the undo store, its stack, the shared thumbnails or their size folder a link to a decoy
#       folder holding files named like ours: rotate and undo must remove nothing there;
#   (g) two `rotate` commands at once whose records together pass the undo store's bound: the
#       bound holds, and each command's undo names every photo it cannot take back;
#   (h) kill -9 during `undo` of a hard-linked photo, then `undo` again: the photo is whole and
#       the same under both names, and its record is never dropped while it is not restored.
# Then the speed of a turn beside jpegtran, on every core and one photo after another, for this
# tree and for an earlier commit (BASE, the one before the photo lock), so that the cost of the
# lock and the check shows.
#   bench/safety.sh [TRIALS] [COUNT] [MEGAPIXELS]   (default 100 trials; 12 photos of 12 megapixels)
#   ONLY=stress|speed|a,b,c,e,f,g,h bench/safety.sh ...   (a list of letters: those scenarios only)
#   TULVEX_CLI=path/to/tulvex-cli ONLY=stress bench/safety.sh ...
#   (e) needs tulvex_forge_kept_copy beside that tulvex-cli, or TULVEX_FORGE=path; (g) reads
#   UNDO_BOUND_VARIABLE (default TULVEX_UNDO_BOUND), G_PHOTOS and G_TRIALS, see there.
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
WORK=${SAFETY_WORK:-$ROOT/bench/work/safety}
export XDG_STATE_HOME=$WORK/state # the turns keep their undo data here, not in the user's
export XDG_CACHE_HOME=$WORK/cache # and remove the desktop's thumbnails from here
MAKE_CORPUS=${MAKE_CORPUS:-$ROOT/../shared/bench/make-corpus.sh}
CORES=$(nproc)

WITH_EXTRA=1 bash scripts/setup.sh
if [ -z "${TULVEX_CLI:-}" ]; then
  BUILD_DIR=build-bench bash scripts/build.sh -DTULVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
    ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} >/dev/null
fi
# TULVEX_CLI: another build to stress (an earlier one, to see what the counts catch).
CLI=${TULVEX_CLI:-$ROOT/build-bench/bin/tulvex-cli}
FORGE=${TULVEX_FORGE:-$(dirname "$CLI")/tulvex_forge_kept_copy}

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
  # The replacement is upright: `auto` would rightly turn any other, which is no loss.
  local photo=${photos[0]} other dir=$WORK/c/photos links=$WORK/c/links
  other=$CORPUS/$(awk -F'\t' 'NR > 1 && $3 == 1 { print $1 }' "$CORPUS/manifest.tsv" | sed -n 2p)
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

# ---- (e) kept copies forged by another user ---------------------------------------------------
# A sticky folder anyone may write to, as a family share is. Its root-owned files have a second
# link elsewhere (the kind a kept copy is made for); the forger, who cannot write them, writes a
# kept copy whose record names one of them with its true identity and contents. Then root turns
# a photo of that folder. Cycles through a script (0644), the same script 0444, a root-owned
# photo (0444); and through a name of its own and one beside the target's.
forged_copies() {
  useradd -M -N -r tulvex-other 2>/dev/null || true
  local share_root changed=0 left=0 reported=0 turned=0 i
  # Below /tmp: the other user must be able to reach the folder.
  share_root=$(mktemp -d /tmp/tulvex-safety-e.XXXXXX)
  chmod 755 "$share_root"
  local dir=$share_root/share links=$share_root/links payload=$share_root/payload
  for ((i = 0; i < TRIALS; i++)); do
    rm -rf "$dir" "$links"; mkdir -p "$dir" "$links"; chmod 1777 "$dir"
    local target name forged kind=$((i % 3))
    if [ $kind -eq 2 ]; then
      target=$dir/v.jpg; cp "${photos[1]}" "$target"; cp "${photos[2]}" "$payload"; chmod 0444 "$target"
    else
      target=$dir/job.sh; printf '#!/bin/sh\necho nightly job\n' >"$target"
      printf '#!/bin/sh\necho forged\n' >"$payload"
      [ $kind -eq 1 ] && chmod 0444 "$target"
    fi
    ln "$target" "$links/"
    cp "$target" "$share_root/before"
    cp "${photos[0]}" "$dir/o.jpg"
    if [ $((i % 2)) -eq 0 ]; then name=.z.tulvex-keep-$(printf '%06d' $((RANDOM % 1000000)))
    else name=.$(basename "$target").tulvex-keep-$(printf 'F%05d' $((RANDOM % 100000))); fi
    "$FORGE" "$target" "$payload" "$share_root/forged" || { echo "forging failed" >&2; return 1; }
    chmod 644 "$share_root/forged"
    runuser -u tulvex-other -- sh -c "cat '$share_root/forged' >'$dir/$name'"
    "$CLI" rotate --crop right "$dir/o.jpg" >"$WORK/e.log" 2>&1 || true
    cmp -s "$target" "$share_root/before" || changed=$((changed + 1))
    [ -e "$dir/$name" ] && left=$((left + 1))
    grep -qF -- "$name" "$WORK/e.log" && reported=$((reported + 1))
    cmp -s "$dir/o.jpg" "${photos[0]}" || turned=$((turned + 1))
  done
  rm -rf "$share_root"
  echo "(e) kept copies forged by another user in a sticky folder, naming a root-owned hard-linked file, then root's turn there, $TRIALS trials:"
  echo "    target written over (must be 0): $changed; forged copy left: $left; reported by name: $reported;"
  echo "    the photo itself turned: $turned"
}

# ---- (f) linked store and cache folders -------------------------------------------------------
# One of the folders Tulvex keeps or removes files in is a link to a decoy folder holding files
# named as ours are (commands, records, temporaries, the photo's thumbnails): the store, the
# command line's stack, the window's stack (which the command line also walks), the shared
# thumbnails and one size folder of them, in turn. After rotate and two undos (the second reaches
# the older decoy command), count what is gone from the decoy and what was written into it.
linked_folders() {
  local base=$WORK/f photo=${photos[0]}
  local places=(undo undo/cli undo/window thumbnails thumbnails/normal)
  local removed=0 written=0 restored=0 trials_removed=0 i
  local -A removed_at=()
  for ((i = 0; i < TRIALS; i++)); do
    rm -rf "$base"; mkdir -p "$base/photos" "$base/decoy"
    local place=${places[$((i % ${#places[@]}))]} state=$base/state cache=$base/cache decoy=$base/decoy sum
    cp "$photo" "$base/photos/p.jpg"
    sum=$(printf '%s' "file://$base/photos/p.jpg" | md5sum | cut -c1-32)
    local old=00000000010000000000-1 empty=00000000020000000000-2 # like STAMP-PID
    case $place in
      undo)
        mkdir -p "$decoy/cli/$old" "$decoy/cli/$empty" "$decoy/window/$old"
        echo decoy >"$decoy/cli/$old/000001.undo"; echo decoy >"$decoy/cli/$old/.a.tulvex-tmp-ABCDEF"
        echo decoy >"$decoy/window/$old/000001.undo"
        mkdir -p "$state/tulvex"; ln -s "$decoy" "$state/tulvex/undo" ;;
      undo/cli | undo/window)
        mkdir -p "$decoy/$old" "$decoy/$empty"
        echo decoy >"$decoy/$old/000001.undo"; echo decoy >"$decoy/$old/.a.tulvex-tmp-ABCDEF"
        mkdir -p "$state/tulvex/undo"; ln -s "$decoy" "$state/tulvex/$place" ;;
      thumbnails)
        mkdir -p "$decoy/normal" "$decoy/large" "$decoy/fail/app"
        for d in normal large fail/app; do echo decoy >"$decoy/$d/$sum.png"; done
        mkdir -p "$cache"; ln -s "$decoy" "$cache/thumbnails" ;;
      thumbnails/normal)
        echo decoy >"$decoy/$sum.png"
        mkdir -p "$cache/thumbnails/large"; echo ours >"$cache/thumbnails/large/$sum.png"
        ln -s "$decoy" "$cache/thumbnails/normal" ;;
    esac
    find "$decoy" -mindepth 1 -exec touch -h -d '2 days ago' {} +
    find "$decoy" -mindepth 1 | sort >"$base/before"
    local run=(env XDG_STATE_HOME="$state" XDG_CACHE_HOME="$cache" "$CLI")
    "${run[@]}" rotate --crop right "$base/photos/p.jpg" >"$WORK/f.log" 2>&1 || true
    "${run[@]}" undo >>"$WORK/f.log" 2>&1 || true
    "${run[@]}" undo >>"$WORK/f.log" 2>&1 || true
    find "$decoy" -mindepth 1 | sort >"$base/after"
    local gone
    gone=$(comm -23 "$base/before" "$base/after" | wc -l)
    removed=$((removed + gone))
    if [ "$gone" -gt 0 ]; then
      trials_removed=$((trials_removed + 1)); removed_at[$place]=$((${removed_at[$place]:-0} + gone))
    fi
    written=$((written + $(comm -13 "$base/before" "$base/after" | wc -l)))
    cmp -s "$base/photos/p.jpg" "$photo" && restored=$((restored + 1))
  done
  rm -rf "$base"
  local where="" p
  for p in "${places[@]}"; do where+=" $p ${removed_at[$p]:-0};"; done
  echo "(f) a store or cache folder linked to a decoy (${places[*]} in turn), rotate + undo + undo, $TRIALS trials:"
  echo "    decoy files removed (must be 0): $removed, in $trials_removed trials (by link:$where)"
  echo "    files written into the decoy: $written; photo back to its old bytes after the undos: $restored"
}

# ---- (g) two processes filling the undo store -------------------------------------------------
# The store's bound is 1 GB. A build that reads a smaller one from $UNDO_BOUND_VARIABLE (checked
# by a probe: a bound of one megabyte leaves a turn of a 12-megapixel photo without undo) lets
# the run use a few photos;
# otherwise the photos are copied until two commands pass 1 GB, and G_TRIALS (default 2) trials
# run, a few minutes each.
# Bytes of the files below $1 (0 when it is missing); files that vanish while counted are passed.
store_bytes() {
  { find "$1" -type f -printf '%s\n' 2>/dev/null || true; } | awk '{ n += $1 } END { print n + 0 }'
}

two_filling_the_store() {
  local base=$WORK/g var=${UNDO_BOUND_VARIABLE:-TULVEX_UNDO_BOUND} bound per_photo count trials
  rm -rf "$base"; mkdir -p "$base/probe"
  cp "${photos[0]}" "$base/probe/p.jpg"
  per_photo=$(stat -c %s "${photos[0]}")
  env "$var=1" XDG_STATE_HOME="$base/probe-state" "$CLI" rotate --crop right "$base/probe/p.jpg" \
    >"$base/probe.log" 2>&1 || true
  if grep -q "cannot be undone" "$base/probe.log"; then
    count=${G_PHOTOS:-7}
    bound=$((per_photo * count * 10 / 7 / 1024 * 1024)) # in the variable's kilobytes
    trials=$TRIALS
  else
    var=""
    bound=$((1 << 30))
    count=$((bound * 7 / 10 / per_photo + 1)) # each command alone fits, the two do not
    trials=${G_TRIALS:-2}
  fi
  local over_peak=0 over_final=0 peak_max=0 final_max=0 silent=0 named=0 undo_ok_left=0
  local restored=0 total=0 i
  for ((i = 0; i < trials; i++)); do
    rm -rf "$base/A" "$base/B" "$base/state"; mkdir -p "$base/A" "$base/B"
    local k
    for ((k = 0; k < count; k++)); do
      cp "${photos[$((k % ${#photos[@]}))]}" "$base/A/$k.jpg"
      cp "${photos[$(((k + 1) % ${#photos[@]}))]}" "$base/B/$k.jpg"
    done
    local run=(env XDG_STATE_HOME="$base/state")
    [ -n "$var" ] && run+=("$var=$((bound / 1024))K")
    "${run[@]}" "$CLI" rotate --crop right "$base"/A/*.jpg >/dev/null 2>&1 & local a=$!
    local peak=0 now
    # Every other trial, the second starts once the first has written most of its records: the
    # second then has to make room while the first is still writing.
    if [ $((i % 2)) -eq 1 ]; then
      while kill -0 $a 2>/dev/null && [ "$(store_bytes "$base/state")" -lt $((count * per_photo * 8 / 10)) ]; do
        sleep 0.05
      done
    fi
    "${run[@]}" "$CLI" rotate --crop right "$base"/B/*.jpg >/dev/null 2>&1 & local b=$!
    while kill -0 $a 2>/dev/null || kill -0 $b 2>/dev/null; do
      now=$(store_bytes "$base/state")
      [ "$now" -gt $peak ] && peak=$now
      sleep 0.05
    done
    wait $a || true; wait $b || true
    local final
    final=$(store_bytes "$base/state")
    [ "$final" -gt $peak ] && peak=$final
    [ $peak -gt $bound ] && over_peak=$((over_peak + 1))
    [ "$final" -gt $bound ] && over_final=$((over_final + 1))
    [ $peak -gt $peak_max ] && peak_max=$peak
    [ "$final" -gt $final_max ] && final_max=$final
    # Each command's undo: every photo it leaves turned must be named.
    : >"$base/undo.log"
    local u e
    for u in 1 2; do
      e=0
      "${run[@]}" "$CLI" undo >"$base/undo$u.out" 2>"$base/undo$u.err" || e=$?
      cat "$base/undo$u.out" "$base/undo$u.err" >>"$base/undo.log"
      local left_now
      left_now=$(grep -c . "$base/undo$u.err" || true)
      [ $e -eq 0 ] && [ "$left_now" -gt 0 ] && undo_ok_left=$((undo_ok_left + 1))
    done
    local f original
    for ((k = 0; k < count; k++)); do
      for f in A B; do
        total=$((total + 1))
        if [ $f = A ]; then original=${photos[$((k % ${#photos[@]}))]}
        else original=${photos[$(((k + 1) % ${#photos[@]}))]}; fi
        if cmp -s "$base/$f/$k.jpg" "$original"; then restored=$((restored + 1))
        elif grep -qF "$base/$f/$k.jpg" "$base/undo.log" &&
          ! grep -qF "$base/$f/$k.jpg: restored" "$base/undo.log"; then named=$((named + 1))
        else silent=$((silent + 1)); fi
      done
    done
  done
  rm -rf "$base"
  echo "(g) two rotate commands at once (every other trial the second starting when the first has written 80 %), $count photos each (~$((per_photo / 1000000)) MB each), bound $((bound / 1000000)) MB (${var:-the built-in 1 GB: no smaller bound read from the environment}), $trials trials:"
  echo "    trials over the bound: at the peak $over_peak, at the end $over_final (largest peak $((peak_max / 1000000)) MB, largest end $((final_max / 1000000)) MB)"
  echo "    photos after both undos: restored $restored of $total, left turned and named $named, left turned silently (must be 0) $silent;"
  echo "    undos that exited 0 while reporting a photo not taken back: $undo_ok_left"
}

# ---- (h) kill -9 during undo of a hard-linked photo -------------------------------------------
# The photo is one whose turn makes it larger (a corpus photo with optimised Huffman tables, which
# the turn's tables outgrow), so that its undo rewrites it shorter in place: a rewrite cut short
# leaves the old bytes followed by the end of the turned ones. Even trials kill after a random
# delay; odd ones kill (strace) at the entry of one of the undo's writing system calls picked at
# random, so that the short moments between the rewrite and the cut to size are hit as well.
killed_linked_undo() {
  local base=$WORK/h photo=$WORK/h-photo.jpg candidate
  local dir=$base/photos links=$base/links state=$base/state
  local turned=$WORK/turned-h.jpg t0 t1 undo_ms
  rm -rf "$base"; mkdir -p "$base"
  cp "${photos[0]}" "$photo"
  for candidate in "${photos[@]}"; do
    jpegtran -optimize -copy all "$candidate" >"$base/try.jpg"
    cp "$base/try.jpg" "$base/turned.jpg"
    XDG_STATE_HOME=$base/try-state "$CLI" rotate --crop right "$base/turned.jpg" >/dev/null 2>&1 || true
    if [ "$(stat -c %s "$base/turned.jpg")" -gt "$(stat -c %s "$base/try.jpg")" ]; then
      cp "$base/try.jpg" "$photo"; break
    fi
  done
  local write_calls=pwrite64,fallocate,fsync,renameat2,ftruncate,unlink,unlinkat
  setup_h() {
    rm -rf "$base"; mkdir -p "$dir" "$links"
    cp "$photo" "$dir/p.jpg"; ln "$dir/p.jpg" "$links/p.jpg"
    XDG_STATE_HOME=$state "$CLI" rotate --crop right "$dir/p.jpg" >/dev/null 2>&1
  }
  setup_h
  cp "$dir/p.jpg" "$turned"
  t0=$(now); XDG_STATE_HOME=$state "$CLI" undo >/dev/null; t1=$(now)
  undo_ms=$(echo "($t1 - $t0) * 1000 / 1" | bc)
  # The writing calls of one whole undo, in order: the points where a kill may land.
  setup_h
  XDG_STATE_HOME=$state strace -f -qq -o "$WORK/h.trace" -e trace=$write_calls "$CLI" undo >/dev/null 2>&1
  local points=()
  mapfile -t points < <(sed -n 's/^[0-9]* *\([a-z0-9_]*\)(.*/\1/p' "$WORK/h.trace")
  local whole=0 still_turned=0 torn=0 apart=0 dropped=0 kept_records=0 changed_since=0 i pid delay
  local -A torn_at=()
  for ((i = 0; i < TRIALS; i++)); do
    setup_h
    local at=delay
    if [ $((i % 2)) -eq 0 ] || [ ${#points[@]} -eq 0 ]; then
      delay=$(echo "scale=3; $((RANDOM % (undo_ms + 20))) / 1000" | bc)
      XDG_STATE_HOME=$state "$CLI" undo >/dev/null 2>&1 & pid=$!
      sleep "$delay"
      kill -9 $pid 2>/dev/null || true
      wait $pid 2>/dev/null || true
    else
      local k=$((RANDOM % ${#points[@]})) name when=0 j
      name=${points[$k]}
      for ((j = 0; j <= k; j++)); do [ "${points[$j]}" = "$name" ] && when=$((when + 1)); done
      at="$name#$when"
      (XDG_STATE_HOME=$state strace -f -qq -o /dev/null -e trace=$write_calls \
        -e inject="$name:signal=KILL:when=$when" "$CLI" undo >/dev/null 2>&1 || true) 2>/dev/null
    fi
    XDG_STATE_HOME=$state "$CLI" undo >"$WORK/h.log" 2>&1 || true
    grep -q "changed since" "$WORK/h.log" && changed_since=$((changed_since + 1))
    local records
    records=$(find "$state" -name '*.undo' 2>/dev/null | wc -l)
    cmp -s "$dir/p.jpg" "$links/p.jpg" || apart=$((apart + 1))
    if cmp -s "$dir/p.jpg" "$photo" && cmp -s "$links/p.jpg" "$photo"; then whole=$((whole + 1))
    elif cmp -s "$dir/p.jpg" "$turned"; then
      still_turned=$((still_turned + 1))
      if [ "$records" -eq 0 ]; then dropped=$((dropped + 1)); else kept_records=$((kept_records + 1)); fi
    else
      torn=$((torn + 1)); torn_at[$at]=$((${torn_at[$at]:-0} + 1))
      [ "$records" -eq 0 ] && dropped=$((dropped + 1))
    fi
  done
  rm -rf "$base"
  local where="" p
  for p in "${!torn_at[@]}"; do where+=" $p ${torn_at[$p]};"; done
  echo "(h) kill -9 during undo of a hard-linked photo ($(stat -c %s "$photo") bytes, $(stat -c %s "$turned") turned; one undo ~${undo_ms} ms, ${#points[@]} writing calls), then undo again, $TRIALS trials (half at a random delay, half at a writing call):"
  echo "    old bytes under both names: $whole; still turned: $still_turned (record kept for a later undo: $kept_records);"
  echo "    torn (neither old nor turned): $torn (killed at:${where:- none}); names apart: $apart;"
  echo "    record dropped while not restored (must be 0): $dropped; second undos that said \"changed since\": $changed_since"
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

# Whether scenario $1 runs: every one for "all" and "stress", else those listed in ONLY.
wanted() {
  case $ONLY in
    all | stress) return 0 ;;
    speed) return 1 ;;
    *) [[ ",$ONLY," == *",$1,"* ]] ;;
  esac
}

if wanted a; then two_turns; fi
if wanted b; then writer_race; fi
if wanted c; then killed_linked_turn; fi
if wanted e; then forged_copies; fi
if wanted f; then linked_folders; fi
if wanted g; then two_filling_the_store; fi
if wanted h; then killed_linked_undo; fi
if [ "$ONLY" = all ] || [ "$ONLY" = speed ]; then speed; fi
