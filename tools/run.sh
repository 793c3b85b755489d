#!/usr/bin/env bash
# Installs what is missing, builds LumenFold and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMENFOLD_BUILD_TESTS=OFF >/dev/null
cmake --build build --parallel "$(nproc)"
if [ -x build/bin/lumenfold ]; then
  exec build/bin/lumenfold "$@"
else
  exec build/bin/lumenfold-cli --help
fi
