#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over the given C++ files, or over all of src/.
# Needs build/compile_commands.json (scripts/build.sh writes it). Over all of src/ it takes
# several minutes on two cores, which is why scripts/test.sh does not run it.
#   scripts/lint.sh [FILE...]
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/compile_commands.json ] || { echo "build first: scripts/build.sh" >&2; exit 2; }
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files -- 'src/*.cpp')
fi
run-clang-tidy -p build -j "$(nproc)" -quiet "${files[@]/#/$PWD/}"
