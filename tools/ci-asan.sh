#!/usr/bin/env bash
# Builds the tests of the model, imaging, processing and command-line layers with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs them. The window tests are not part
# of this stage yet.
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
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" -DLUMENFOLD_BUILD_TESTS=ON
tests=()
for layer in db util core processing cli; do
  for f in tests/"$layer"/test_*.cpp; do
    name="$(basename "$f" .cpp)"
    # test_programs starts the desktop program, which this stage does not build.
    [ -e "$f" ] && [ "$name" != test_programs ] && tests+=("$name")
  done
done
cmake --build build-asan --parallel "$jobs" --target lumenfold-cli template_db site_templates "${tests[@]}"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$PWD/tools/asan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
(cd build-asan && ctest --output-on-failure --parallel "$jobs" --timeout 900 -R "$pattern")
echo "Sanitizer stage: $(($(date +%s) - started)) s"
