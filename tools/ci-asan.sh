#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer in its own
# build folder (build-asan) and runs it. Any sanitizer report fails the test that caused it.
# Leaks inside the system's font and windowing libraries are suppressed in
# tools/asan-suppressions.txt; leaks of our own code are not.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" -DLUMENFOLD_BUILD_TESTS=ON
cmake --build build-asan --parallel "$jobs"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$PWD/tools/asan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-asan && ctest --output-on-failure --parallel "$jobs" --timeout 900)
