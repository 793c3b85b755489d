#!/usr/bin/env bash
# Builds and runs the model benchmark (album save, project load, album load against the sqlite3
# command-line shell).
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v sqlite3 >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends sqlite3
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target bench_model template_db
build/bin/bench_model --sqlite3 "$(command -v sqlite3)"
