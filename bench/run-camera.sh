#!/usr/bin/env bash
# Camera metadata and colour benchmark. Each figure compares the same image data with and without
# metadata segments, measured in the same run (bench_camera prepare makes the copies):
#   plain  no segment but JFIF;  exif  + a camera's EXIF block (dates, author, position, serials,
#   thumbnail);  tagged  + an Adobe RGB (1998) colour profile.
#   - thumbnail loader, first visit (bench_thumbs) on the mate-backgrounds photos: exif / plain is
#     what reading orientation and dates costs (target <= 1.03); tagged / plain adds the previews'
#     colour conversion;
#   - add-album of 1,000 small originals: exif / plain (target <= 1.03);
#   - processing (lumenfold-cli process --all --jobs 1, default sizes) of ~18 MP photos
#     (bench/photos.sh): tagged / plain with metadata "none" is the colour conversion (target
#     <= 1.10); tagged with metadata "safe" and "all" / "none" is the metadata writing;
#   - colour accuracy of an Adobe RGB and a Display P3 chart against the colour library's own
#     conversion (bench_camera chart; target: average CIE76 <= 2).
# Timings are processor seconds (user + system), the best of REPS runs (the machine may be shared).
# Needs apt-get, dpkg, python3, cjpeg/djpeg (libjpeg-turbo-progs) and /usr/bin/time.
#   bench/run-camera.sh [build folder] [reps]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
reps=${2:-3}
command -v djpeg >/dev/null || { echo "needs djpeg (apt-get install libjpeg-turbo-progs)"; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)"; exit 2; }
ls "$here"/.photos/photo_*.jpg >/dev/null 2>&1 || "$here/photos.sh"
mate="$here/.photos/mate"
if [ ! -d "$mate" ]; then
  mkdir -p "$mate.part"
  find "$here/.photos/pkg/root" -type f -iname '*.jpg' -exec cp {} "$mate.part/" \;
  mv "$mate.part" "$mate"
fi
cmake --build "$build" --target lumenfold-cli bench_thumbs bench_camera >/dev/null
cli="$build/bin/lumenfold-cli"
cam="$build/bench/bench_camera"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
least() { awk -v a="$1" -v b="$2" 'BEGIN{ print (b == "" || a < b) ? a : b }'; }
# cpu CMD...: processor seconds of one run.
cpu() { /usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -1 | awk '{print $1 + $2}'; }

echo "== preparing copies"
"$cam" prepare "$mate" "$work/loader" "$(ls "$mate" | wc -l)" 1
"$cam" prepare "$mate" "$work/import" 1000 8
"$cam" prepare "$here/.photos" "$work/process" "$(ls "$here"/.photos/photo_*.jpg | wc -l)" 1

echo "== thumbnail loader, first visit (processor ms; median of 3 rounds, best of $reps)"
declare -A loader
for ((i = 0; i < reps; i++)); do
  for set in plain exif tagged; do
    ms=$("$build/bin/bench_thumbs" "$work/loader/$set" 3 | sed -n 's/^first visit:.*processor \([0-9.]*\) ms.*/\1/p')
    loader[$set]=$(least "$ms" "${loader[$set]:-}")
  done
done
printf '  plain %s, exif %s, tagged %s\n' "${loader[plain]}" "${loader[exif]}" "${loader[tagged]}"
printf '  exif / plain: %s  [target <= 1.03]   tagged / plain: %s (with the previews'"'"' colour conversion)\n' \
  "$(ratio "${loader[exif]}" "${loader[plain]}")" "$(ratio "${loader[tagged]}" "${loader[plain]}")"

echo "== add-album of 1,000 originals (processor s, best of $reps)"
declare -A import
for ((i = 0; i < reps; i++)); do
  for set in plain exif; do
    rm -rf "$work/import-$set" && mkdir "$work/import-$set"
    p="$work/import-$set/p.lumenfold"
    "$cli" new "$p" >/dev/null
    s=$(cpu "$cli" add-album "$p" "$work/import/$set" --directory "$set" --short-name "$set")
    import[$set]=$(least "$s" "${import[$set]:-}")
  done
done
printf '  plain %s, exif %s; exif / plain: %s  [target <= 1.03]\n' "${import[plain]}" \
  "${import[exif]}" "$(ratio "${import[exif]}" "${import[plain]}")"

echo "== processing, --all --jobs 1 (processor s, best of $reps)"
declare -A proc
for set in plain tagged; do
  mkdir -p "$work/process-$set"
  "$cli" new "$work/process-$set/p.lumenfold" >/dev/null
  "$cli" add-album "$work/process-$set/p.lumenfold" "$work/process/$set" --directory "$set" \
    --short-name "$set" >/dev/null
done
for ((i = 0; i < reps; i++)); do
  for run in plain:2 tagged:2 tagged:0 tagged:1; do
    set=${run%%:*} metadata=${run##*:}
    "$cli" set "$work/process-$set/p.lumenfold" "OutputMetadata=$metadata" >/dev/null
    s=$(cpu "$cli" process "$work/process-$set/p.lumenfold" --albums 1 --all --jobs 1)
    proc[$run]=$(least "$s" "${proc[$run]:-}")
  done
done
printf '  plain, metadata none: %s   tagged: none %s, safe %s, all %s\n' "${proc[plain:2]}" \
  "${proc[tagged:2]}" "${proc[tagged:0]}" "${proc[tagged:1]}"
printf '  colour conversion, tagged / plain (none): %s  [target <= 1.10]\n' \
  "$(ratio "${proc[tagged:2]}" "${proc[plain:2]}")"
printf '  metadata writing, safe / none: %s, all / none: %s\n' \
  "$(ratio "${proc[tagged:0]}" "${proc[tagged:2]}")" "$(ratio "${proc[tagged:1]}" "${proc[tagged:2]}")"

echo "== colour accuracy"
"$cam" chart 90
