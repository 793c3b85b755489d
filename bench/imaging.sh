#!/bin/sh
# Imaging benchmark: builds bench_imaging, makes the originals when missing (photos.sh) and
# compares our processing of each original with vipsthumbnail and djpeg in the same run.
#   bench/imaging.sh [build folder] [repetitions]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
reps=${2:-5}
command -v vipsthumbnail >/dev/null || { echo "needs vipsthumbnail (libvips-tools)"; exit 2; }
command -v djpeg >/dev/null || { echo "needs djpeg (libjpeg-turbo-progs)"; exit 2; }
ls "$here"/.photos/photo_*.jpg >/dev/null 2>&1 || "$here/photos.sh"
cmake --build "$build" --target bench_imaging
"$build/bench/bench_imaging" --reps "$reps" "$here"/.photos/photo_*.jpg
