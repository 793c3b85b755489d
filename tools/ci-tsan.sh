#!/usr/bin/env bash
# ThreadSanitizer build of the threaded parts: the processing run, the thumbnail loader, the
# progress dialog that owns a run, and the main window's processing test, whose picture list
# repaints during a run. Its own build folder (build-tsan), a unity build; only those
# test programs are built.
# Qt itself is not built with the sanitizer: tools/tsan.supp names the reports that come from
# inside Qt's own synchronisation, which the sanitizer cannot see.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16 \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_C_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" -DLUMENFOLD_BUILD_FUZZ=OFF
tests=(test_processthread test_thumbnailthread test_processdialogs)
# The main window offers the shipped site templates: they go beside the programs too.
cmake --build build-tsan --parallel "$(nproc)" --target "${tests[@]}" test_frmmain site_templates
export QT_QPA_PLATFORM=offscreen
# Qt is not built with the sanitizer: its own copies (memmove from inside Qt, for example while
# a thread starts) are not checked, only what the instrumented code of this program does.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 ignore_noninstrumented_modules=1 suppressions=$PWD/tools/tsan.supp"
pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
# Some kernels randomise more address bits than the sanitizer's memory layout allows.
runner=()
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
  runner=(setarch "$(uname -m)" -R)
fi
(cd build-tsan && "${runner[@]}" ctest --output-on-failure --timeout 900 -R "$pattern")
# Of the main window's tests only the one that runs processing: the window's other tests are not
# part of this stage.
(cd build-tsan/tests && "${runner[@]}" ../bin/test_frmmain processAndProcessAndZipReportHowTheRunEnded)
echo "ThreadSanitizer stage: $(($(date +%s) - started)) s"
