#!/usr/bin/env bash
# Cost of the site template's extra web sizes: "lumenfold-cli process --all" on ~18 MP photos
# (bench/photos.sh) with the default settings (medium 800 x 768, thumbnail 200 x 150, no large
# images) and no site template against the same run with the gallery template chosen, whose template.json asks for
# 700 (covers), 1600 and 2560 pixels on the long edge. Best of REPS runs, CPU (all threads) and
# wall time; then each stage of a picture (decodes, resamples, encodes) timed alone (bench_webstages).
#   bench/run-websizes.sh [build folder] [reps] [jobs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
reps=${2:-3}
jobs=${3:-1}
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)"; exit 2; }
ls "$here"/.photos/photo_*.jpg >/dev/null 2>&1 || "$here/photos.sh"
cmake --build "$build" --target lumenfold-cli site_templates template_db bench_webstages >/dev/null
cli="$build/bin/lumenfold-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" "$work/album" && chmod 700 "$work/runtime"
cp "$here"/.photos/photo_*.jpg "$work/album/"
n=$(ls "$work"/album/*.jpg | wc -l)

# best_of CMD...: "<least wall s> <least cpu s>" over REPS runs.
best_of() {
  local wall="" cpu="" i w u s c
  for ((i = 0; i < reps; i++)); do
    read -r w u s < <(/usr/bin/time -f '%e %U %S' "$@" 2>&1 >/dev/null | tail -1)
    c=$(awk -v a="$u" -v b="$s" 'BEGIN{print a + b}')
    if [ -z "$wall" ] || awk -v a="$w" -v b="$wall" 'BEGIN{exit !(a<b)}'; then wall=$w; fi
    if [ -z "$cpu" ] || awk -v a="$c" -v b="$cpu" 'BEGIN{exit !(a<b)}'; then cpu=$c; fi
  done
  echo "$wall $cpu"
}
per() { awk -v a="$1" -v n="$2" 'BEGIN{ printf "%.0f", 1000 * a / n }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

project="$work/p.lumenfold"
"$cli" new "$project" >/dev/null
"$cli" add-album "$project" "$work/album" --directory album --short-name Bench >/dev/null
"$cli" set "$project" SiteTemplate= >/dev/null
read -r w0 c0 < <(best_of "$cli" process "$project" --albums 1 --all --jobs "$jobs")
"$cli" set "$project" SiteTemplate=gallery >/dev/null
read -r w1 c1 < <(best_of "$cli" process "$project" --albums 1 --all --jobs "$jobs")
ls "$work"/album/ps_w2560/*.jpg >/dev/null 2>&1 || { echo "no 2560-pixel images were made"; exit 1; }

echo "== $n originals of ~18 MP, --jobs $jobs; per picture, wall / CPU in ms (best of $reps)"
printf '  default job: %s / %s   with the gallery web sizes: %s / %s\n' \
  "$(per "$w0" "$n")" "$(per "$c0" "$n")" "$(per "$w1" "$n")" "$(per "$c1" "$n")"
printf '  with web sizes / default: CPU %sx, wall %sx  [target <= 1.35]\n' \
  "$(ratio "$c1" "$c0")" "$(ratio "$w1" "$w0")"

echo "== where a picture's time goes, each stage alone (processor ms per picture, mean)"
"$build/bench/bench_webstages" "$work"/album/photo_*.jpg | sed 's/^/  /'
