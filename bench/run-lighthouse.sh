#!/usr/bin/env bash
# Lighthouse scores of a gallery site made by lumenfold-cli (ours alone): performance, largest
# contentful paint, accessibility, best practices and SEO, with Lighthouse's mobile and desktop
# settings, for the home page, an album page (12 photos of ~18 MP, bench/photos.sh) and the page
# of an album of 2,000 pictures. The site is served on 127.0.0.1 as its .htaccess asks of Apache
# (bench/lighthouse-serve.mjs). Lighthouse is installed, pinned, into bench/.lighthouse (never
# into CI) and drives Debian's chromium.
#   bench/run-lighthouse.sh [build folder] [runs per page, the median is printed]
# KEEP=folder keeps the project, the site and every report there (to read a trace afterwards).
# Below the table: the median parts of each mobile page's largest contentful paint, its element,
# and the requests that start before it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
runs=${2:-3}
version=13.6.0
for tool in node npm unzip cjpeg djpeg; do
  command -v $tool >/dev/null || { echo "needs $tool"; exit 2; }
done
export CHROME_PATH=${CHROMIUM:-/usr/bin/chromium}
[ -x "$CHROME_PATH" ] || { echo "needs chromium (apt-get install chromium)"; exit 2; }
lh="$here/.lighthouse/node_modules/.bin/lighthouse"
if [ ! -x "$lh" ] || [ "$("$lh" --version)" != "$version" ]; then
  npm install --prefix "$here/.lighthouse" --no-audit --no-fund --loglevel=error "lighthouse@$version" >/dev/null
fi
ls "$here"/.photos/photo_*.jpg >/dev/null 2>&1 || "$here/photos.sh"
cmake --build "$build" --target lumenfold-cli site_templates template_db >/dev/null
cli="$build/bin/lumenfold-cli"
work=$(mktemp -d)
server=""
if [ -n "${KEEP:-}" ]; then
  mkdir -p "$KEEP" && rm -rf "$work" && work=$(cd "$KEEP" && pwd)
  trap '[ -n "$server" ] && kill "$server" 2>/dev/null' EXIT
else
  trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
fi
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" "$work/photos" "$work/many" && chmod 700 "$work/runtime"

# The site: an album of the benchmark photos and one of 2,000 smaller pictures. A kept project
# is processed again (its pages and the template's files are written anew).
project="$work/site.lumenfold"
if [ ! -e "$project" ]; then
  cp "$here"/.photos/photo_*.jpg "$work/photos/"
  first=$(ls "$here"/.photos/photo_*.jpg | head -1)
  djpeg -scale 1/4 -pnm "$first" | cjpeg -quality 90 > "$work/many.jpg"
  for i in $(seq -w 1 2000); do cp "$work/many.jpg" "$work/many/p$i.jpg"; done
  "$cli" new "$project" >/dev/null
  "$cli" add-album "$project" "$work/photos" --directory photos --short-name "Elephants" >/dev/null
  "$cli" add-album "$project" "$work/many" --directory many --short-name "Two thousand" >/dev/null
  "$cli" set "$project" SiteTemplate=gallery ZipDatabase=true "ZipFileName=$work/site.zip" \
    SiteAddress=https://photos.example.org/ >/dev/null
fi
"$cli" process "$project" --zip >/dev/null || [ $? = 3 ]
rm -rf "$work/site" "$work"/report-*.json
unzip -q "$work/site.zip" -d "$work/site"

node "$here/lighthouse-serve.mjs" "$work/site" > "$work/address" &
server=$!
for _ in $(seq 50); do [ -s "$work/address" ] && break; sleep 0.1; done
base=$(cat "$work/address")

# score URL FORM TAG: the medians over the runs as "perf lcp_s tbt_ms cls a11y bp seo"; the
# reports are kept as report-TAG-FORM-N.json.
score() {
  local url=$1 form=$2 tag=$3 i
  local preset=()
  [ "$form" = desktop ] && preset=(--preset=desktop)
  for ((i = 0; i < runs; i++)); do
    "$lh" "$url" "${preset[@]}" --quiet --output=json --output-path="$work/report-$tag-$form-$i.json" \
      --only-categories=performance,accessibility,best-practices,seo \
      --chrome-flags="--headless=new --no-sandbox --disable-gpu" >/dev/null 2>&1 || true
  done
  node "$here/lighthouse-median.mjs" "$work" "$tag-$form" "$runs"
}

echo "Lighthouse $version, $("$CHROME_PATH" --version 2>/dev/null | head -1), median of $runs runs," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-26s %-8s %5s %6s %6s %5s %5s %5s %5s\n' page form perf 'LCP s' 'TBT ms' CLS a11y bp seo
pages=("home::home" "album (12 photos):album-1.html:album" "album (2,000 pictures):album-2.html:large")
for page in "${pages[@]}"; do
  IFS=: read -r name path tag <<<"$page"
  for form in mobile desktop; do
    read -r perf lcp tbt cls a11y bp seo < <(score "$base$path" "$form" "$tag" | head -1)
    printf '%-26s %-8s %5s %6s %6s %5s %5s %5s %5s\n' "$name" "$form" "$perf" "$lcp" "$tbt" "$cls" \
      "$a11y" "$bp" "$seo"
  done
done
echo "targets: mobile performance >= 98 and LCP <= 2.0 s, desktop performance 100, the rest 100"
echo "load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "Mobile largest contentful paint, median parts in ms:"
for page in "${pages[@]}"; do
  IFS=: read -r name path tag <<<"$page"
  echo "$name:"
  node "$here/lighthouse-median.mjs" "$work" "$tag-mobile" "$runs" | tail -n +2 | sed 's/^/  /'
done
[ -n "${KEEP:-}" ] && echo "kept in $work"
exit 0
