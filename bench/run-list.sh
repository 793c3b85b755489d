#!/bin/sh
# Picture list benchmark: a project of one large album made of small real JPEGs (1/4 of the
# largest photo of the Debian package mate-backgrounds, at a few qualities, hard-linked), shown
# by the main window offscreen; prints the time of select all, sort by every column, filter by a
# category and a thumbnail size change (target: each within 100 ms).
#   bench/run-list.sh [build folder] [pictures]   (default: 10000 pictures)
# Needs apt-get, dpkg and djpeg/cjpeg.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
count=${2:-10000}
command -v cjpeg >/dev/null || { echo "needs cjpeg/djpeg (libjpeg-turbo-progs)"; exit 2; }
pkg="$here/.photos/pkg"
mkdir -p "$pkg"
(
  cd "$pkg"
  ls mate-backgrounds_*.deb >/dev/null 2>&1 || apt-get download mate-backgrounds >/dev/null
  [ -d root ] || dpkg -x mate-backgrounds_*.deb root
)
largest=$(find "$pkg/root" -type f -iname '*.jpg' -printf '%s %p\n' | sort -n | tail -1 | cut -d' ' -f2-)
cmake --build "$build" --target bench_list lumenfold-cli template_db >/dev/null
work=$(mktemp -d)
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
mkdir -p "$HOME" "$work/src" "$work/a00"
djpeg -scale 1/4 -pnm -outfile "$work/src/small.ppm" "$largest"
n=1
for q in 70 75 80 85 90 95; do
  cjpeg -quality "$q" -outfile "$work/src/v$n.jpg" "$work/src/small.ppm"
  n=$((n + 1))
done
i=0
while [ "$i" -lt "$count" ]; do
  ln "$work/src/v$((i % 6 + 1)).jpg" "$work/a00/$(printf 'img_%05d.jpg' "$i")"
  i=$((i + 1))
done
cli="$build/bin/lumenfold-cli"
"$cli" new "$work/site.lumenfold" >/dev/null
"$cli" add-album "$work/site.lumenfold" "$work/a00" --short-name "Large" >/dev/null
echo "pictures: $count; cores: $(nproc); target: each action within 100 ms"
"$build/bench/bench_list" "$work/site.lumenfold"
