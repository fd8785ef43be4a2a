#!/usr/bin/env bash
# A copy named like ours, written by another user into a folder everyone may write to, never
# makes root's turn write over a file that user could not write; a copy of a turn of that user's
# own photo, killed part way, is still finished.
# Usage: forged_kept_copy_test.sh TULVEX_CLI KEPT_COPY_TOOL FORGE_TOOL
set -euo pipefail
cli=$1
tool=$2
forge=$3
if [ "$(id -u)" != 0 ]; then
  echo "skipped: needs root, to act as a second user"
  exit 0
fi
useradd -M -N -r tulvex-other 2>/dev/null || true
other=(setpriv --reuid=tulvex-other --regid=nogroup --clear-groups)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
home=$work/home
mkdir -p "$home"
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
  XDG_CACHE_HOME=$home/cache XDG_STATE_HOME=$home/state XDG_RUNTIME_DIR=$home \
  TULVEX_GLOBAL_MARKER_DIR=$home QT_QPA_PLATFORM=offscreen
payload=$work/payload.jpg # what the forger would put in place of root's file
"$tool" jpeg "$payload"
chmod 644 "$payload"
failures=0
fail() {
  echo "FAIL ($case): $*" >&2
  failures=$((failures + 1))
}
hash_of() { sha256sum "$1" | cut -d' ' -f1; }

# sticky_folder NAME: a folder like /tmp, with a photo of root's to turn in it.
sticky_folder() {
  folder=$work/$1
  mkdir "$folder"
  chmod 1777 "$folder"
  "$tool" jpeg "$folder/o.jpg"
}

# A file of root's with two names, and a copy naming it made by the other user.
for case in "script 0444" "script 0644" "photo 0644"; do
  kind=${case% *}
  mode=${case#* }
  sticky_folder "forged-$kind-$mode"
  if [ "$kind" = script ]; then
    name=job.sh
    printf '#!/bin/sh\necho nightly job\n' >"$folder/$name"
  else
    name=job.jpg # a JPEG: only the copy's owner tells it from ours
    "$tool" jpeg "$folder/$name"
  fi
  chmod "$mode" "$folder/$name"
  ln "$folder/$name" "$folder/second-name"
  copy=$folder/.z.tulvex-keep-BBBBBB
  # Writable by its maker alone, as our own copies are: only its owner can give it away.
  if ! "${other[@]}" "$forge" "$folder/$name" "$payload" "$copy" || ! "${other[@]}" chmod 600 "$copy"; then
    fail "the other user could not write the copy"
    continue
  fi
  [ "$(stat -c %U "$copy")" = tulvex-other ] || fail "the copy is not the other user's"
  before=$(hash_of "$folder/$name")
  copied=$(hash_of "$copy")

  rc=0
  out=$("$cli" rotate right "$folder/o.jpg" 2>&1) || rc=$?
  [ "$rc" = 0 ] || fail "rotate exited $rc: $out"
  [ "$(hash_of "$folder/$name")" = "$before" ] || fail "$name was written over: $out"
  [ -f "$copy" ] && [ "$(hash_of "$copy")" = "$copied" ] || fail "the copy was not left as it is"
  grep -qF ".z.tulvex-keep-BBBBBB: named like a copy kept during a turn" <<<"$out" ||
    fail "the copy was not reported: $out"
  grep -qF "it belongs to another user" <<<"$out" || fail "the reason is not given: $out"
  if grep -qF "interrupted turn was finished" <<<"$out"; then fail "told as finished: $out"; fi
done

# The other user's own photo with two names, its turn killed during the rewrite: root's next
# turn in that folder finishes it from the copy that user's turn kept.
case="the other user's own interrupted turn"
sticky_folder own
photo=$folder/mine.jpg
"${other[@]}" "$tool" jpeg "$photo"
"${other[@]}" ln "$photo" "$folder/mine-too.jpg"
if ! copy=$("${other[@]}" "$tool" interrupt "$photo"); then
  fail "no interrupted turn was made"
else
  [ "$(stat -c %a "$copy")" = 600 ] || fail "the kept copy is $(stat -c %a "$copy"), not 600"
  out=$("$cli" rotate right "$folder/o.jpg" 2>&1) || fail "rotate failed: $out"
  grep -qF "mine.jpg: the interrupted turn was finished" <<<"$out" || fail "not finished: $out"
  [ ! -e "$copy" ] || fail "the copy was left: $out"
  [ "$(stat -c %U "$photo")" = tulvex-other ] || fail "the photo changed owner"
fi

# The same turn killed with kill -9 at any moment, in the other user's own run: root's next turn
# in that folder leaves the photo whole, old or turned, under both names.
case="the other user's turn killed"
sticky_folder killed
other_home=$work/other-home
mkdir -p "$other_home"
chown tulvex-other "$other_home"
# Runs in place of the shell that calls it, so that $! is the turn itself.
as_other_cli() {
  exec env HOME="$other_home" XDG_CONFIG_HOME="$other_home/config" XDG_DATA_HOME="$other_home/data" \
    XDG_CACHE_HOME="$other_home/cache" XDG_STATE_HOME="$other_home/state" \
    XDG_RUNTIME_DIR="$other_home" TULVEX_GLOBAL_MARKER_DIR="$other_home" \
    "${other[@]}" "$cli" "$@"
}
"$tool" jpeg "$work/original.jpg" 2400 1600
chmod 644 "$work/original.jpg"
mkdir "$work/reference"
cp "$work/original.jpg" "$work/reference/p.jpg"
start=$(date +%s%N)
"$cli" rotate right "$work/reference/p.jpg" >/dev/null
turn_ms=$((($(date +%s%N) - start) / 1000000 + 1))
old=$(hash_of "$work/original.jpg")
turned=$(hash_of "$work/reference/p.jpg")
photo=$folder/p.jpg
killed_mid_rewrite=0 finished=0
for ((round = 0; round < ${KEPT_COPY_KILLS:-30}; round++)); do
  rm -f "$photo" "$folder/p-too.jpg"
  "${other[@]}" cp "$work/original.jpg" "$photo"
  "${other[@]}" ln "$photo" "$folder/p-too.jpg"
  as_other_cli rotate right "$photo" >/dev/null 2>&1 &
  pid=$!
  if ((round % 2 == 0)); then
    # Aimed: killed as soon as its complete copy stands beside the photo.
    while ! compgen -G "$folder/.p.jpg.tulvex-keep-*" >/dev/null && kill -0 $pid 2>/dev/null; do :; done
  else
    sleep "$(printf '0.%03d' $((RANDOM % turn_ms % 1000)))"
  fi
  kill -9 $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  if compgen -G "$folder/.p.jpg.tulvex-keep-*" >/dev/null; then
    killed_mid_rewrite=$((killed_mid_rewrite + 1))
  fi
  out=$("$cli" rotate right "$folder/o.jpg" 2>&1) || fail "round $round: rotate failed: $out"
  grep -qF "p.jpg: the interrupted turn was finished" <<<"$out" && finished=$((finished + 1))
  now=$(hash_of "$photo")
  [ "$now" = "$old" ] || [ "$now" = "$turned" ] || fail "round $round: the photo is torn: $out"
  [ "$(hash_of "$folder/p-too.jpg")" = "$now" ] || fail "round $round: its names differ"
  if compgen -G "$folder/.p.jpg.tulvex-*" >/dev/null; then fail "round $round: left: $out"; fi
done
echo "killed turns of the other user: ${KEPT_COPY_KILLS:-30}, with a kept copy beside the photo" \
  "$killed_mid_rewrite, finished from it by root's next turn $finished"

if [ "$failures" != 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "all forged copies were left, and the real one was finished"
