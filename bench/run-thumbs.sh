#!/usr/bin/env bash
# Thumbnail loader benchmark on the photos of the Debian package mate-backgrounds (all of its
# JPEG files, as shipped): prints the time of a first and of a second visit of an album against
# the peer measured in the same run, hashing the files plus `djpeg -scale 1/8` on each.
# Needs apt-get, dpkg and djpeg (libjpeg-turbo-progs).
#   bench/run-thumbs.sh [build folder] [rounds]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
rounds="${2:-5}"

# The package is downloaded and unpacked beside the other benchmark photos, not installed.
pkg="$here/.photos/pkg"
mkdir -p "$pkg"
(
  cd "$pkg"
  ls mate-backgrounds_*.deb >/dev/null 2>&1 || apt-get download mate-backgrounds
  [ -d root ] || dpkg -x mate-backgrounds_*.deb root
)
photos="$here/.photos/thumbs"
if [ ! -d "$photos" ]; then
  mkdir -p "$photos.part"
  find "$pkg/root" -type f -iname '*.jpg' -exec cp {} "$photos.part/" \;
  mv "$photos.part" "$photos"
fi
command -v djpeg >/dev/null || { echo "djpeg missing (apt-get install libjpeg-turbo-progs)" >&2; exit 2; }

cmake --build "$build" --target bench_thumbs >/dev/null
"$build/bin/bench_thumbs" "$photos" "$rounds"
