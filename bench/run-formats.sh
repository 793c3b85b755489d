#!/usr/bin/env bash
# Phone originals: importing ("lumenfold-cli add-album") and processing ("lumenfold-cli process",
# default settings, one worker) N HEIC files against the same N photos as JPEG files, with the
# photos of bench/photos.sh (~18 MP) turned into HEIC by heif-enc at quality 90. The peer,
# measured in the same run on the same files: heif-convert (HEIC to JPEG) against djpeg | cjpeg
# (JPEG to JPEG), each file decoded whole and encoded once.
# Each timing is the CPU time (user + system) of the best of REPS runs.
#   bench/run-formats.sh [build folder] [count] [reps] [distinct] [scale]
# distinct (default: count) photos are encoded; the others are copies of them under their own
# names, which cost the same to import and to process (nothing is shared between files) and save
# hours of encoding for a count of 1,000. scale (for example 13/16, which makes the ~18 MP photos
# about 12 MP, as a phone takes them) resizes the photos first, for both formats alike.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
count=${2:-12}
reps=${3:-3}
distinct=${4:-$count}
scale=${5:-}
for tool in heif-enc heif-convert djpeg cjpeg; do
  command -v $tool >/dev/null || { echo "needs $tool (apt-get install libheif-examples libjpeg-turbo-progs)"; exit 2; }
done
[ "$distinct" -le "$count" ] || distinct=$count
ls "$here"/.photos/photo_"$distinct".jpg >/dev/null 2>&1 || "$here/photos.sh" "$distinct"
cmake --build "$build" --target lumenfold-cli template_db site_templates >/dev/null
cli="$build/bin/lumenfold-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" "$work/jpeg" "$work/heic" "$work/out" "$work/pj" "$work/ph" && chmod 700 "$work/runtime"

n=0
while [ "$n" -lt "$count" ]; do
  n=$((n + 1))
  if [ "$n" -le "$distinct" ]; then
    f="$here/.photos/photo_$n.jpg"
    if [ -n "$scale" ]; then
      djpeg -scale "$scale" "$f" | cjpeg -quality 92 >"$work/jpeg/p$n.jpg"
    else
      cp "$f" "$work/jpeg/p$n.jpg"
    fi
    heif-enc -q 90 "$work/jpeg/p$n.jpg" -o "$work/heic/p$n.heic" >/dev/null
  else
    k=$(((n - 1) % distinct + 1))
    cp "$work/jpeg/p$k.jpg" "$work/jpeg/p$n.jpg"
    cp "$work/heic/p$k.heic" "$work/heic/p$n.heic"
  fi
done

cpu_of() {
  local best="" i c
  for ((i = 0; i < reps; i++)); do
    read -r c _ < <("$here/cputime.py" "$@")
    if [ -z "$best" ] || awk -v a="$c" -v b="$best" 'BEGIN{exit !(a<b)}'; then best=$c; fi
  done
  echo "$best"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

import_run() { # project folder
  rm -f "$1" "$(dirname "$1")/db.sqlite" # each project in its own folder: the database sits beside it
  "$cli" new "$1" >/dev/null
  "$cli" add-album "$1" "$2" --directory album --short-name Bench >/dev/null
}
peer_heic() { for f in "$1"/*.heic; do heif-convert -q 90 "$f" "$2/x.jpg" >/dev/null; done; }
peer_jpeg() { for f in "$1"/*.jpg; do djpeg "$f" | cjpeg -quality 90 >"$2/x.jpg"; done; }
export -f import_run peer_heic peer_jpeg
export cli

echo "== $n photos ($distinct distinct${scale:+, scaled $scale}), CPU seconds (best of $reps)"
ij=$(cpu_of bash -c 'import_run "$0" "$1"' "$work/pj/j.lumenfold" "$work/jpeg")
ih=$(cpu_of bash -c 'import_run "$0" "$1"' "$work/ph/h.lumenfold" "$work/heic")
printf 'import      JPEG %6.3f  HEIC %6.3f  HEIC/JPEG %s  [target <= 1.5]\n' "$ij" "$ih" "$(ratio "$ih" "$ij")"
pj=$(cpu_of "$cli" process "$work/pj/j.lumenfold" --albums 1 --all --jobs 1)
ph=$(cpu_of "$cli" process "$work/ph/h.lumenfold" --albums 1 --all --jobs 1)
printf 'process     JPEG %6.2f  HEIC %6.2f  HEIC/JPEG %s  [target <= 1.3]\n' "$pj" "$ph" "$(ratio "$ph" "$pj")"
qj=$(cpu_of bash -c 'peer_jpeg "$0" "$1"' "$work/jpeg" "$work/out")
qh=$(cpu_of bash -c 'peer_heic "$0" "$1"' "$work/heic" "$work/out")
printf 'peer        JPEG %6.2f  HEIC %6.2f  HEIC/JPEG %s  (djpeg|cjpeg, heif-convert)\n' "$qj" "$qh" "$(ratio "$qh" "$qj")"
