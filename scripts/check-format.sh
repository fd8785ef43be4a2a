#!/usr/bin/env bash
# Fails when a C++ file is not formatted as .clang-format says; lists the offending places.
#   scripts/check-format.sh          check
#   scripts/check-format.sh --fix    format them in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' \
                                     'fuzz/*.cpp' 'fuzz/*.h' 'bench/*.cpp' 'bench/*.h')
[ ${#files[@]} -gt 0 ] || exit 0
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run -Werror "${files[@]}"
fi
