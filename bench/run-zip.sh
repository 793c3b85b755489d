#!/usr/bin/env bash
# Zip-stage benchmark: "lumenfold-cli process --zip" against peers measured in the same run on
# the same entries.
#   1. A first archive of N pictures (large, medium and thumbnail on): the zip stage's cost (the
#      run with --zip minus the run without) against "zip -r" of the same folders and database
#      (zip deflates at the normal level and stores what deflating does not make smaller, the
#      rule the archive follows). Target: at most 0.6.
#   3. The same on camera photos: the JPEG files of the Debian package mate-backgrounds (fetched by
#      bench/photos.sh), taken in turn until P files are made, large images on. Targets: zip stage
#      at most 0.2 of "zip -r", archive at most 4 % larger than zip's.
#   2. An archive of M pictures in which one picture changes (its medium image goes missing, so
#      the run makes it again): the whole run against a plain copy of the archive file.
#      Target: at most 2.
# The originals are made here (cjpeg from a textured picture, each with its own tone), so the
# bench needs python3, cjpeg (libjpeg-turbo-progs), zip and /usr/bin/time. Each timing is the
# best of REPS runs (the machine may be shared). Benches are not run by CI.
#   bench/run-zip.sh [build folder] [reps] [N] [M] [parts: any of 1, 2, 3] [P]
# A build folder without a CMakeCache.txt is taken as it is (a saved bin/ folder, for example).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
reps=${2:-3}
first=${3:-160}
many=${4:-1000}
parts=${5:-123}
camera=${6:-96}
for tool in python3 cjpeg zip; do
  command -v $tool >/dev/null || { echo "needs $tool"; exit 2; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)"; exit 2; }
[ -f "$build/CMakeCache.txt" ] && cmake --build "$build" --target lumenfold-cli >/dev/null
cli="$build/bin/lumenfold-cli"
work=$(mktemp -d "${TMPDIR:-/tmp}/lumenfold-zipbench.XXXXXX")
[ -n "${KEEP_WORK:-}" ] && echo "work: $work" || trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"

# best_of CMD...: the least wall time in seconds of REPS runs.
best_of() {
  local best="" i w
  for ((i = 0; i < reps; i++)); do
    w=$(/usr/bin/time -f '%e' "$@" 2>&1 >/dev/null | tail -1)
    if [ -z "$best" ] || awk -v a="$w" -v b="$best" 'BEGIN{exit !(a<b)}'; then best=$w; fi
  done
  echo "$best"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# photos FOLDER COUNT WIDTH HEIGHT: COUNT different JPEGs of WIDTH x HEIGHT at quality 92.
photos() {
  local folder=$1 count=$2 width=$3 height=$4
  mkdir -p "$folder"
  python3 - "$width" "$height" "$work/base.ppm" <<'PY'
import random, sys
w, h = int(sys.argv[1]), int(sys.argv[2])
random.seed(7)
rows = []
for y in range(h):
    row = bytearray()
    for x in range(w):
        n = random.randint(-12, 12)
        row += bytes((max(0, min(255, (x * 255) // w + n)),
                      max(0, min(255, (y * 255) // h + n)),
                      max(0, min(255, ((x + y) * 127) // (w + h) + 64 + n))))
    rows.append(bytes(row))
with open(sys.argv[3], 'wb') as f:
    f.write(b'P6 %d %d 255\n' % (w, h))
    f.writelines(rows)
PY
  # Each file its own tone: no two files are equal.
  python3 - "$work/base.ppm" "$folder" "$count" <<'PY'
import subprocess, sys
d = open(sys.argv[1], 'rb').read()
head = d.index(b'255\n') + 4
for i in range(1, int(sys.argv[3]) + 1):
    lut = bytes(max(0, min(255, v + (i % 23) - 11)) for v in range(256))
    out = '%s/photo_%d.jpg' % (sys.argv[2], i)
    subprocess.run(['cjpeg', '-quality', '92', '-outfile', out],
                   input=d[:head] + d[head:].translate(lut), check=True)
PY
}

project() { # project FOLDER: a project with one album "album" of the folder's originals
  local set=$1
  "$cli" new "$set/p.lumenfold" >/dev/null
  "$cli" set "$set/p.lumenfold" "ZipFileName=$set/out/albums.zip" ZipDatabase=1 >/dev/null
  "$cli" add-album "$set/p.lumenfold" "$set/album" --directory album --short-name Bench >/dev/null
  mkdir -p "$set/out"
}

# first_archive SET TARGET: the zip stage of a first archive of SET's album (large, medium and
# thumbnail on) against "zip -r" of the same folders and database, in time and in size.
first_archive() {
  local set=$1 target=$2 db plain zipped entries size peer peerentries peersize stage
  project "$set"
  "$cli" set "$set/p.lumenfold" LargeEnabled=1 >/dev/null
  db=$("$cli" info "$set/p.lumenfold" | sed -n 's/.*Data Source=\([^;]*\).*/\1/p' | head -1)
  [ -f "$db" ] || db=$(ls "$set"/*.sqlite | head -1)
  plain=$(best_of "$cli" process "$set/p.lumenfold" --all)
  zipped=$(best_of bash -c 'rm -f "$1/out/albums.zip"; "$2" process "$1/p.lumenfold" --all --zip' \
    bash "$set" "$cli")
  entries=$(unzip -l "$set/out/albums.zip" | tail -1 | awk '{print $2}')
  size=$(stat -c %s "$set/out/albums.zip")
  peer=$(best_of bash -c 'cd "$1" && rm -f "$1/out/peer.zip" &&
    zip -r -q "$1/out/peer.zip" album "$(basename "$2")" -x "album/ps_tmp/*"' bash "$set" "$db")
  peerentries=$(unzip -l "$set/out/peer.zip" | tail -1 | awk '{print $2}')
  peersize=$(stat -c %s "$set/out/peer.zip")
  stage=$(awk -v a="$zipped" -v b="$plain" 'BEGIN{printf "%.2f", a - b}')
  echo "entries: ours $entries ($(zipinfo "$set/out/albums.zip" | grep -c ' def. ') deflated)," \
    "zip -r $peerentries files"
  echo "archive $((size / 1048576)) MB, zip -r $((peersize / 1048576)) MB:" \
    "size / zip -r = $(awk -v a="$size" -v b="$peersize" 'BEGIN{printf "%.3f", a / b}')" \
    "[target <= 1.04]"
  echo "run without zip ${plain}s, with zip ${zipped}s: zip stage ${stage}s; zip -r ${peer}s"
  echo "zip stage / zip -r = $(ratio "$stage" "$peer")  [target <= $target]"
}

if [[ $parts == *1* ]]; then
  echo "== 1. first archive of $first pictures (large, medium, thumbnail), best of $reps"
  photos "$work/first/album" "$first" 2000 1333
  first_archive "$work/first" 0.6
fi

if [[ $parts == *3* ]]; then
  echo "== 3. first archive of $camera camera photos (mate-backgrounds), best of $reps"
  [ -d "$here/.photos/pkg/root" ] || "$here/photos.sh" 1 >/dev/null
  mapfile -t jpegs < <(find "$here/.photos/pkg/root" -type f -iname '*.jpg' | sort)
  [ ${#jpegs[@]} -gt 0 ] || { echo "no photos in $here/.photos/pkg/root"; exit 2; }
  mkdir -p "$work/camera/album"
  for ((i = 0; i < camera; i++)); do
    cp "${jpegs[i % ${#jpegs[@]}]}" "$(printf '%s/camera/album/%04d.jpg' "$work" "$i")"
  done
  first_archive "$work/camera" 0.2
fi
[[ $parts == *2* ]] || exit 0

echo "== 2. one picture of $many changes, best of $reps"
set2="$work/many"
photos "$set2/album" "$many" 800 600
project "$set2"
"$cli" process "$set2/p.lumenfold" --zip >/dev/null
size=$(stat -c %s "$set2/out/albums.zip")
one="$set2/album/ps_medium/m_photo_1.jpg"
change=$(best_of bash -c 'rm -f "$1"; "$2" process "$3/p.lumenfold" --zip' bash "$one" "$cli" "$set2")
copy=$(best_of bash -c 'rm -f "$1/out/copy.zip"; cp --reflink=never "$1/out/albums.zip" "$1/out/copy.zip"' \
  bash "$set2")
echo "archive $((size / 1048576)) MB; run changing one picture ${change}s; cp ${copy}s"
echo "run / cp = $(ratio "$change" "$copy")  [target <= 2]"
