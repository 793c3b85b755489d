#!/usr/bin/env bash
# Builds LumenFold and runs every test headless; then runs the fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --parallel "$(nproc)"
export QT_QPA_PLATFORM=offscreen
(cd build && ctest --output-on-failure --parallel "$(nproc)")
bash tools/ci-tsan.sh
if [ -f fuzz/CMakeLists.txt ] && command -v clang++ >/dev/null; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DLUMENFOLD_BUILD_FUZZ=ON -DLUMENFOLD_BUILD_TESTS=OFF
  cmake --build build-fuzz --parallel "$(nproc)" --target fuzz_projectfile
  mkdir -p build-fuzz/corpus && cp fuzz/corpus/* build-fuzz/corpus/ 2>/dev/null || true
  build-fuzz/bin/fuzz_projectfile -max_total_time=30 -rss_limit_mb=1024 build-fuzz/corpus
fi
