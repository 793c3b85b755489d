#!/usr/bin/env bash
# Renaming and synchronisation of one album of many pictures with lumenfold-cli, against `mv` of
# the same files (one mv per file, as a shell script would rename them). The pictures are small
# stand-in files: neither command decodes them. Usage: bench/run-albums.sh [PICTURES]
set -euo pipefail
cd "$(dirname "$0")/.."
count="${1:-5000}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target lumenfold-cli template_db >/dev/null
cli="$PWD/build/bin/lumenfold-cli"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

mkdir -p "$work/album" "$work/peer"
for i in $(seq -f "%05g" 1 "$count"); do
  printf 'picture %s' "$i" >"$work/album/img_$i.jpg"
  printf 'picture %s' "$i" >"$work/peer/img_$i.jpg"
done
"$cli" new "$work/site.lumenfold" >/dev/null
"$cli" add-album "$work/site.lumenfold" "$work/album" --short-name Bench >/dev/null

seconds() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }

t0=$(seconds)
"$cli" rename "$work/site.lumenfold" Bench --template 'bench_%N00000%.jpg' --start 1 >/dev/null
t1=$(seconds)
(cd "$work/peer" && for f in img_*.jpg; do mv -- "$f" "mv_$f"; done)
t2=$(seconds)
"$cli" sync "$work/site.lumenfold" >/dev/null || [ $? -eq 3 ]
t3=$(seconds)
"$cli" info "$work/site.lumenfold" >/dev/null
t4=$(seconds)

rename=$(elapsed "$t0" "$t1")
mv=$(elapsed "$t1" "$t2")
sync=$(elapsed "$t2" "$t3")
info=$(elapsed "$t3" "$t4")
printf 'pictures:                 %d\n' "$count"
printf 'lumenfold-cli rename:     %.2f s (ratio to mv: %.2f)\n' "$rename" "$(echo "$rename / $mv" | bc -l)"
printf 'mv, one per file:         %.2f s\n' "$mv"
printf 'lumenfold-cli sync:       %.2f s\n' "$sync"
printf 'lumenfold-cli info (load): %.2f s (start-up and project load, part of both)\n' "$info"
