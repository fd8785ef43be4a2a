#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan, UBSan), makes their seed corpora and runs
# each for SECONDS (default 30). Fails when a target finds a crash; the crashing input is left
# in build-fuzz/crashes/ to be turned into a regression test.
#   fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(orientation exif thumbnail ini settings master_file multi_picture lossless_turn
  undo_record kept_record)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DTULVEX_TESTS=OFF -DTULVEX_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target make_seeds "${TARGETS[@]/%/_fuzzer}"
rm -rf build-fuzz/seeds && build-fuzz/bin/make_seeds build-fuzz/seeds
mkdir -p build-fuzz/crashes
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for t in "${TARGETS[@]}"; do
  mkdir -p "build-fuzz/corpus/$t"
  echo "fuzzing $t for ${SECONDS_EACH}s" >&2
  if ! "build-fuzz/bin/${t}_fuzzer" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -max_len=70000 \
       -artifact_prefix="build-fuzz/crashes/${t}-" -print_final_stats=1 \
       "build-fuzz/corpus/$t" "build-fuzz/seeds/$t" 2> "build-fuzz/$t.log"; then
    echo "fuzz target $t found a crash:" >&2
    tail -40 "build-fuzz/$t.log" >&2
    status=1
  elif grep -q "runtime error:\|ERROR: AddressSanitizer\|ERROR: UndefinedBehaviorSanitizer" "build-fuzz/$t.log"; then
    # A report that did not end the run still fails it.
    echo "fuzz target $t has a sanitizer report:" >&2
    grep -m5 -A10 "runtime error:\|ERROR: AddressSanitizer\|ERROR: UndefinedBehaviorSanitizer" "build-fuzz/$t.log" >&2
    status=1
  else
    grep -E "stat::number_of_executed_units|cov:" "build-fuzz/$t.log" | tail -2 >&2 || true
  fi
done
exit $status
