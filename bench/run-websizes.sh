#!/usr/bin/env bash
# Cost of the site template's extra web sizes: "lumenfold-cli process --all" on ~18 MP photos
# (bench/photos.sh) with the default settings (medium 800 x 768, thumbnail 200 x 150, no large
# images) and no site template against the same run with the gallery template chosen, whose template.json asks for
# 700 (covers), 1600 and 2560 pixels on the long edge. Best of REPS runs, CPU (all threads, to
# the microsecond: bench/cputime.py) and wall time, the two jobs taking turns so that both meet
# the same load; then each stage of a picture (decodes, resamples, encodes) timed alone
# (bench_webstages). COPIES=N runs on N copies of each photograph (default 1): the per-run
# costs (start, site pages) then weigh less against the pictures.
#   bench/run-websizes.sh [build folder] [reps] [jobs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
reps=${2:-3}
jobs=${3:-1}
ls "$here"/.photos/photo_*.jpg >/dev/null 2>&1 || "$here/photos.sh"
cmake --build "$build" --target lumenfold-cli site_templates template_db bench_webstages >/dev/null
cli="$build/bin/lumenfold-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" "$work/album" && chmod 700 "$work/runtime"
for ((c = 1; c <= ${COPIES:-1}; c++)); do
  for f in "$here"/.photos/photo_*.jpg; do cp "$f" "$work/album/${c}_$(basename "$f")"; done
done
n=$(ls "$work"/album/*.jpg | wc -l)

# run CMD...: "<cpu s> <wall s>" of one run.
run() { "$here/cputime.py" "$@"; }
least() { awk -v a="$1" -v b="$2" 'BEGIN{ print (b == "" || a < b) ? a : b }'; }
per() { awk -v a="$1" -v n="$2" 'BEGIN{ printf "%.0f", 1000 * a / n }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# Two projects on copies of the album (each writes its outputs beside its originals).
cp -r "$work/album" "$work/album2"
plain="$work/plain.lumenfold" gallery="$work/gallery.lumenfold"
"$cli" new "$plain" >/dev/null
"$cli" add-album "$plain" "$work/album" --directory album --short-name Bench >/dev/null
"$cli" set "$plain" SiteTemplate= >/dev/null
"$cli" new "$gallery" >/dev/null
"$cli" add-album "$gallery" "$work/album2" --directory album --short-name Bench >/dev/null
"$cli" set "$gallery" SiteTemplate=gallery >/dev/null
c0="" w0="" c1="" w1=""
for ((i = 0; i < reps; i++)); do
  read -r c w < <(run "$cli" process "$plain" --albums 1 --all --jobs "$jobs")
  c0=$(least "$c" "$c0") w0=$(least "$w" "$w0")
  read -r c w < <(run "$cli" process "$gallery" --albums 1 --all --jobs "$jobs")
  c1=$(least "$c" "$c1") w1=$(least "$w" "$w1")
done
ls "$work"/album2/ps_w2560/*.jpg >/dev/null 2>&1 || { echo "no 2560-pixel images were made"; exit 1; }

echo "== $n originals of ~18 MP, --jobs $jobs, load $(cut -d' ' -f1-3 /proc/loadavg); per picture, wall / CPU in ms (best of $reps)"
printf '  default job: %s / %s   with the gallery web sizes: %s / %s\n' \
  "$(per "$w0" "$n")" "$(per "$c0" "$n")" "$(per "$w1" "$n")" "$(per "$c1" "$n")"
printf '  with web sizes / default: CPU %sx, wall %sx  [target <= 1.35]\n' \
  "$(ratio "$c1" "$c0")" "$(ratio "$w1" "$w0")"

echo "== where a picture's time goes, each stage alone (processor ms per picture, mean)"
"$build/bench/bench_webstages" "$here"/.photos/photo_*.jpg | sed 's/^/  /'
