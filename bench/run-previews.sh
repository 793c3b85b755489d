#!/bin/sh
# Desktop memory benchmark: a project of one large album and several smaller ones, made of small
# real JPEGs (1/4 of the largest photo of the Debian package mate-backgrounds, at a few qualities
# so that files differ), shown album after album by the main window offscreen. Runs cold (no
# previews on disk yet), warm, and warm without a preview bound (every preview kept, as the
# desktop did before memory was bounded), and prints each run's figures.
#   bench/run-previews.sh [build folder] [large album pictures] [small albums] [small pictures]
# (defaults: 10000 pictures, 24 albums of 2000). Needs apt-get, dpkg and djpeg/cjpeg.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
large=${2:-10000}
smalls=${3:-24}
small=${4:-2000}
command -v cjpeg >/dev/null || { echo "needs cjpeg/djpeg (libjpeg-turbo-progs)"; exit 2; }
pkg="$here/.photos/pkg"
mkdir -p "$pkg"
(
  cd "$pkg"
  ls mate-backgrounds_*.deb >/dev/null 2>&1 || apt-get download mate-backgrounds >/dev/null
  [ -d root ] || dpkg -x mate-backgrounds_*.deb root
)
largest=$(find "$pkg/root" -type f -iname '*.jpg' -printf '%s %p\n' | sort -n | tail -1 | cut -d' ' -f2-)
cmake --build "$build" --target bench_previews lumenfold-cli template_db >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
mkdir -p "$HOME" "$work/src"
djpeg -scale 1/4 -pnm -outfile "$work/src/small.ppm" "$largest"
sources=6
n=1
for q in 70 75 80 85 90 95; do
  cjpeg -quality "$q" -outfile "$work/src/v$n.jpg" "$work/src/small.ppm"
  n=$((n + 1))
done
# Album folder $1 with $2 pictures, hard links to the few sources.
fill() {
  mkdir -p "$1"
  i=0
  while [ "$i" -lt "$2" ]; do
    ln "$work/src/v$((i % sources + 1)).jpg" "$1/$(printf 'img_%05d.jpg' "$i")"
    i=$((i + 1))
  done
}
cli="$build/bin/lumenfold-cli"
"$cli" new "$work/site.lumenfold" >/dev/null
fill "$work/a00" "$large"
"$cli" add-album "$work/site.lumenfold" "$work/a00" --short-name "Large" >/dev/null
a=1
while [ "$a" -le "$smalls" ]; do
  dir=$(printf '%s/a%02d' "$work" "$a")
  fill "$dir" "$small"
  "$cli" add-album "$work/site.lumenfold" "$dir" --short-name "$(printf 'Small %02d' "$a")" >/dev/null
  a=$((a + 1))
done
echo "originals: $(du -h "$work/src/v1.jpg" | cut -f1) JPEGs ($(head -2 "$work/src/small.ppm" | tail -1 | tr ' ' x) pixels); $large + $smalls x $small pictures"
echo "cores: $(nproc)"
echo "== cold, bound 64 MB"
"$build/bench/bench_previews" "$work/site.lumenfold"
echo "== warm, bound 64 MB"
"$build/bench/bench_previews" "$work/site.lumenfold"
echo "== warm, no bound (every preview kept)"
"$build/bench/bench_previews" "$work/site.lumenfold" 0
