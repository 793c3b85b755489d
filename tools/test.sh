#!/usr/bin/env bash
# Builds LumenFold and runs every test headless; then runs the fuzz targets briefly and the
# whole test suite again under the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --parallel "$(nproc)"
export QT_QPA_PLATFORM=offscreen
# The pinned S3 server of the publish tests.
(cd tests/servers && npm ci --no-audit --no-fund --loglevel=error)
(cd build && ctest --output-on-failure --parallel "$(nproc)")
bash tools/ci-package.sh build
bash tools/ci-tsan.sh
if [ -f fuzz/CMakeLists.txt ] && command -v clang++ >/dev/null; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DLUMENFOLD_BUILD_FUZZ=ON -DLUMENFOLD_BUILD_TESTS=OFF
  cmake --build build-fuzz --parallel "$(nproc)" --target fuzz_projectfile fuzz_jpegheader fuzz_exif \
    fuzz_pictureformats
  # The 40 seconds of fuzzing are shared by the targets.
  mkdir -p build-fuzz/corpus && cp fuzz/corpus/* build-fuzz/corpus/ 2>/dev/null || true
  build-fuzz/bin/fuzz_projectfile -max_total_time=10 -rss_limit_mb=1024 build-fuzz/corpus
  mkdir -p build-fuzz/corpus-jpeg && cp fuzz/corpus-jpeg/* build-fuzz/corpus-jpeg/ 2>/dev/null || true
  build-fuzz/bin/fuzz_jpegheader -max_total_time=10 -rss_limit_mb=1024 build-fuzz/corpus-jpeg
  mkdir -p build-fuzz/corpus-exif && cp fuzz/corpus-exif/* build-fuzz/corpus-exif/
  build-fuzz/bin/fuzz_exif -max_total_time=10 -rss_limit_mb=1024 -timeout=5 build-fuzz/corpus-exif
  mkdir -p build-fuzz/corpus-formats && cp fuzz/corpus-formats/* build-fuzz/corpus-formats/
  build-fuzz/bin/fuzz_pictureformats -max_total_time=10 -rss_limit_mb=2048 -timeout=10 \
    build-fuzz/corpus-formats
fi
bash tools/test-site.sh
bash tools/ci-asan.sh
