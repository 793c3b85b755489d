#!/usr/bin/env bash
# Titles and keywords at import: "lumenfold-cli add-album" of N photos (bench/photos.sh, ~18 MP)
# that carry an editor's captions (XMP titles in two languages, subjects, hierarchical keywords,
# IPTC keywords, written by exiftool) against the same N photos without them. The difference is
# what reading the captions costs, categories made from the keywords included. Two more rows
# measure the reading itself: each set of photos imported as usual against the same import with
# --no-captions (the import path that reads no titles or keywords).
# Each row gives the median of REPS runs: CPU time (user + system) and wall time, to the
# microsecond (bench/cputime.py).
#   bench/run-captions.sh [build folder] [count] [reps]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
count=${2:-1000}
reps=${3:-3}
command -v exiftool >/dev/null || { echo "needs exiftool (apt-get install libimage-exiftool-perl)"; exit 2; }
ls "$here"/.photos/photo_1.jpg >/dev/null 2>&1 || "$here/photos.sh" 1
cmake --build "$build" --target lumenfold-cli template_db site_templates >/dev/null
cli="$build/bin/lumenfold-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" "$work/plain" "$work/captioned" && chmod 700 "$work/runtime"

cp "$here/.photos/photo_1.jpg" "$work/plain.jpg"
cp "$work/plain.jpg" "$work/captioned.jpg"
exiftool -q -overwrite_original -charset iptc=UTF8 \
  '-XMP-dc:Title-x-default=Harbour at dawn' '-XMP-dc:Title-de=Hafen am Morgen' \
  '-XMP-dc:Description-x-default=Fishing boats coming back in the first light' \
  -XMP-dc:Subject=Sea -XMP-dc:Subject=Boats -XMP-dc:Subject=Morning \
  '-XMP-lr:HierarchicalSubject=Places|Europe|Genoa' -IPTC:Keywords=Sea -IPTC:Keywords=Boats \
  '-IPTC:ObjectName=Harbour at dawn' "$work/captioned.jpg"
for ((i = 1; i <= count; i++)); do
  cp "$work/plain.jpg" "$work/plain/p$i.jpg"
  cp "$work/captioned.jpg" "$work/captioned/p$i.jpg"
done

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }
times_of() { # prints "cpu wall", each the median of REPS runs
  local i c e cpus="" walls=""
  for ((i = 0; i < reps; i++)); do
    read -r c e < <("$here/cputime.py" "$@")
    cpus+="$c"$'\n'
    walls+="$e"$'\n'
  done
  echo "$(printf '%s' "$cpus" | median) $(printf '%s' "$walls" | median)"
}
import_run() { # project, folder, [--no-captions]
  # A fresh folder each time: the database sits beside the project file.
  rm -rf "$(dirname "$1")" && mkdir -p "$(dirname "$1")"
  "$cli" new "$1" >/dev/null
  "$cli" add-album "$1" "$2" --directory album --short-name Bench ${3:-} >/dev/null
}
export -f import_run
export cli
plain=$(times_of bash -c 'import_run "$0" "$1"' "$work/p/p.lumenfold" "$work/plain")
captioned=$(times_of bash -c 'import_run "$0" "$1"' "$work/c/c.lumenfold" "$work/captioned")
plainoff=$(times_of bash -c 'import_run "$0" "$1" --no-captions' "$work/q/q.lumenfold" "$work/plain")
captionedoff=$(times_of bash -c 'import_run "$0" "$1" --no-captions' "$work/d/d.lumenfold" "$work/captioned")
"$cli" info "$work/c/c.lumenfold" | grep -i -m3 'categor\|title' || true
echo "== $count photos, add-album seconds (median of $reps): CPU a / b, wall a / b"
row() { # title, "cpu wall" of a, "cpu wall" of b
  awk -v t="$1" -v a="$2" -v b="$3" 'BEGIN{split(a, x, " "); split(b, y, " ")
    printf "%-36s CPU %7.3f %7.3f ratio %.3f | wall %7.3f %7.3f ratio %.3f  [target <= 1.05]\n",
      t, x[1], y[1], (x[1] > 0 ? y[1] / x[1] : 0), x[2], y[2], (x[2] > 0 ? y[2] / x[2] : 0)}'
}
row "files without / with captions, read" "$plain" "$captioned"
row "no captions: --no-captions / read" "$plainoff" "$plain"
row "captioned: --no-captions / read" "$captionedoff" "$captioned"
