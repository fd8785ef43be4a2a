#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the normal build, then the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen

bash scripts/build.sh -DTULVEX_TESTS=ON
ctest --test-dir build --output-on-failure -j 2

if [ "${TULVEX_SKIP_SANITIZERS:-0}" != 1 ]; then
  BUILD_DIR=build-asan bash scripts/build.sh -DTULVEX_TESTS=ON -DTULVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j 2
fi
