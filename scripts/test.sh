#!/usr/bin/env bash
# Installs what is missing, checks the format, builds and runs every test: the normal build, a short run of every
# fuzz target, then the whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen

# Every C++ file formatted as .clang-format says (scripts/check-format.sh --fix formats them).
bash scripts/check-format.sh

bash scripts/build.sh -DTULVEX_TESTS=ON
ctest --test-dir build --output-on-failure -j 2

# Every parser of untrusted bytes under libFuzzer for a short while (FUZZ_SECONDS each).
if [ "${TULVEX_SKIP_FUZZ:-0}" != 1 ]; then
  bash fuzz/run.sh "${FUZZ_SECONDS:-30}"
fi

if [ "${TULVEX_SKIP_SANITIZERS:-0}" != 1 ]; then
  BUILD_DIR=build-asan bash scripts/build.sh -DTULVEX_TESTS=ON -DTULVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j 2
fi
