#!/usr/bin/env bash
# Thumbnail loader benchmark on the photos of Debian's mate-backgrounds: prints the time of a
# first and a second visit of an album against hashing the files plus `djpeg -scale 1/8`.
# Usage: bench/run-thumbs.sh [build folder] [rounds]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
rounds="${2:-5}"

if [ -x "$here/photos.sh" ]; then
  photos="$("$here/photos.sh" | tail -n 1)"
else
  dir=/usr/share/backgrounds/mate
  if [ ! -d "$dir" ]; then
    apt-get install -y mate-backgrounds >/dev/null || { apt-get update >/dev/null && apt-get install -y mate-backgrounds >/dev/null; }
  fi
  photos="$(mktemp -d)"
  find "$dir" -name '*.jpg' -exec cp {} "$photos/" \;
fi
command -v djpeg >/dev/null || apt-get install -y libjpeg-turbo-progs >/dev/null

cmake --build "$build" --target bench_thumbs >/dev/null
"$build/bin/bench_thumbs" "$photos" "$rounds"
