#!/usr/bin/env bash
# Puts one deliberate single-line fault at a time into the tree, builds, runs the suite and says
# whether the suite caught it; the tree is restored after each fault.
#   [TESTS=REGEX] scripts/fault-run.sh FAULTS   (BUILD_DIR: a build configured with tests, default
#   build; TESTS: only the tests whose names match)
# Each line of FAULTS: FILE<TAB>LINE-SUBSTRING<TAB>REPLACEMENT (the first line of FILE holding the
# substring gets it replaced); empty lines and lines starting with # are skipped.
set -uo pipefail
cd "$(dirname "$0")/.."
FAULTS=$1
BUILD=${BUILD_DIR:-build}
export QT_QPA_PLATFORM=offscreen
caught=0 total=0
while IFS=$'\t' read -r file from to; do
  [ -z "$file" ] || [ "${file:0:1}" = "#" ] && continue
  total=$((total + 1))
  cp "$file" "$file.fault-saved"
  if ! python3 - "$file" "$from" "$to" <<'PY'
import sys
path, old, new = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
if old not in text:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(old, new, 1))
PY
  then
    echo "fault $total: not applied (text not found) in $file: $from"
    mv "$file.fault-saved" "$file"; continue
  fi
  if ! cmake --build "$BUILD" >/dev/null 2>&1; then
    verdict="caught (does not build)"
  elif ctest --test-dir "$BUILD" -j "$(nproc)" ${TESTS:+-R "$TESTS"} >"$BUILD/fault-run.log" 2>&1; then
    verdict="MISSED"
  else
    verdict="caught by: $(sed -n '/tests FAILED:/,$p' "$BUILD/fault-run.log" | grep -oE '[0-9]+ - [^ ]+' | head -3 | tr '\n' ' ')"
  fi
  [ "$verdict" != MISSED ] && caught=$((caught + 1))
  echo "fault $total ($file: $from -> $to): $verdict"
  mv "$file.fault-saved" "$file"
  touch "$file"
done < "$FAULTS"
cmake --build "$BUILD" >/dev/null 2>&1
echo "$caught of $total faults caught"
