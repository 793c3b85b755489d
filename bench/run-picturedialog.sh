#!/bin/sh
# Picture properties dialog benchmark: builds bench_picturedialog, makes the originals when
# missing (photos.sh) and compares opening the dialog on each with djpeg -scale at the scale the
# dialog decodes at. On a headless machine the screen is Xvfb's (1920 x 1080) when xvfb-run is
# installed, otherwise the offscreen platform's default screen.
#   bench/run-picturedialog.sh [build folder] [repetitions]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
reps=${2:-5}
command -v djpeg >/dev/null || { echo "needs djpeg (libjpeg-turbo-progs)"; exit 2; }
ls "$here"/.photos/photo_*.jpg >/dev/null 2>&1 || "$here/photos.sh" 4
cmake --build "$build" --target bench_picturedialog
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1920x1080x24" "$build/bench/bench_picturedialog" --reps "$reps" \
    "$here"/.photos/photo_*.jpg
else
  QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/bench_picturedialog" \
    --reps "$reps" "$here"/.photos/photo_*.jpg
fi
