#!/usr/bin/env bash
# Builds every test program, the window tests included, with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the whole suite. A unity build keeps the compile time of
# this second build small; the release build stays the one that is compiled file by file.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
jobs="$(nproc)"
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16 \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" -DLUMENFOLD_BUILD_TESTS=ON \
  -DLUMENFOLD_BUILD_FUZZ=OFF
cmake --build build-asan --parallel "$jobs"
built=$(date +%s)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$PWD/tools/asan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-asan && ctest --output-on-failure --parallel "$jobs" --timeout 900)
echo "Sanitizer stage: build $((built - started)) s, tests $(($(date +%s) - built)) s"
