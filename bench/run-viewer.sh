#!/bin/sh
# Large viewer benchmark: builds bench_viewer, makes the ~18 MP originals when missing
# (photos.sh) and compares showing each in the viewer (the first frame from the list's preview,
# and the sharp picture with and without that preview) with djpeg -scale M/8 at the viewer's
# scale. It writes the 640-pixel previews into .photos/ps_tmp as the list would.
#   bench/run-viewer.sh [build folder] [repetitions]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
reps=${2:-5}
command -v djpeg >/dev/null || { echo "needs djpeg (libjpeg-turbo-progs)"; exit 2; }
ls "$here"/.photos/photo_*.jpg >/dev/null 2>&1 || "$here/photos.sh" 4
cmake --build "$build" --target bench_viewer >/dev/null
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/bench_viewer" --reps "$reps" \
  "$here"/.photos/photo_*.jpg
