#!/bin/sh
# Album wizard benchmark: the pictures page of the add-album wizard on a folder of camera
# originals (~18 MP, made by photos.sh from real photos), against hashing plus `djpeg -scale 1/8`
# of the same files in the same run. The folder holds hard links to a few originals, so a
# thousand pictures take no more disk than those few.
#   bench/run-wizard.sh [build folder] [pictures] [peer files]
# peer files: how many files the peer visits (default all; its time is scaled to all).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
count=${2:-1000}
peer=${3:-$count}
command -v djpeg >/dev/null || { echo "needs djpeg (libjpeg-turbo-progs)"; exit 2; }
ls "$here"/.photos/photo_*.jpg >/dev/null 2>&1 || "$here/photos.sh" 4
cmake --build "$build" --target bench_wizard >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
set -- "$here"/.photos/photo_*.jpg
sources=$#
i=0
while [ "$i" -lt "$count" ]; do
  n=$((i % sources + 1))
  eval "src=\${$n}"
  ln "$src" "$work/$(printf 'img_%05d.jpg' "$i")" 2>/dev/null || cp "$src" "$work/$(printf 'img_%05d.jpg' "$i")"
  i=$((i + 1))
done
echo "originals: $count links to $sources photos of $(du -h "$1" | cut -f1) each"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/bench_wizard" "$work" "$peer"
