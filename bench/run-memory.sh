#!/usr/bin/env bash
# Memory benchmark: peak resident memory of "lumenfold-cli process --all" (default settings with
# large images on, default workers) against the bound of 1.5 GB (1,500,000,000 bytes), on
#   - four 50 KB progressive JPEGs whose headers declare 14000 x 14000 pixels each (a flat colour
#     made with cjpeg -progressive, cut off after 50 KB, so the decoder fills the rest in);
#   - 8 ~18 MP photos (bench/photos.sh), whose time must stay within 3 % of the base code's;
# each against the code of a base revision (default main), built in a folder of its own inside
# the build folder, measured in the same run. Photo timings are the least of REPS runs.
#   bench/run-memory.sh [build folder] [base revision] [reps]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-"$here/../build"}" && pwd)
rev=${2:-main}
reps=${3:-3}
bound=1500000000
command -v cjpeg >/dev/null || { echo "needs cjpeg (apt-get install libjpeg-turbo-progs)"; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)"; exit 2; }
ls "$here"/.photos/photo_{1..8}.jpg >/dev/null 2>&1 || "$here/photos.sh" 8

cmake --build "$build" --target lumenfold-cli template_db >/dev/null
# The base code: exported from git (nothing of the work tree changes) and built once per commit.
commit=$(git -C "$here/.." rev-parse "$rev")
base="$build/membench-base-${commit:0:12}"
if [ ! -x "$base/build/bin/lumenfold-cli" ]; then
  rm -rf "$base" && mkdir -p "$base/src"
  git -C "$here/.." archive "$commit" | tar -x -C "$base/src"
  cmake -S "$base/src" -B "$base/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null
  nice cmake --build "$base/build" --parallel 2 --target lumenfold-cli template_db >/dev/null
fi
new="$build/bin/lumenfold-cli"
old="$base/build/bin/lumenfold-cli"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"

# The four pictures, each of its own colour.
mkdir -p "$work/bombs"
for i in 1 2 3 4; do
  python3 - "$i" <<'PY' | cjpeg -progressive -quality 85 >"$work/whole.jpg"
import sys
i, side = int(sys.argv[1]), 14000
out = sys.stdout.buffer
out.write(b'P6\n%d %d\n255\n' % (side, side))
row = bytes([40 * i, 140, 220 - 30 * i]) * side
for _ in range(side):
    out.write(row)
PY
  head -c 51200 "$work/whole.jpg" >"$work/bombs/bomb_$i.jpg"
done
rm -f "$work/whole.jpg"

# project CLI SET FILES...: a fresh project of the files, default settings, large images on.
project() {
  local cli=$1 set=$2
  shift 2
  rm -rf "$set" && mkdir -p "$set/album"
  cp "$@" "$set/album/"
  "$cli" new "$set/p.lumenfold" >/dev/null
  "$cli" add-album "$set/p.lumenfold" "$set/album" --directory album --short-name Bench >/dev/null
  "$cli" set "$set/p.lumenfold" LargeEnabled=1 >/dev/null
}

# measure CLI PROJECT: "<wall s> <cpu s> <peak rss KiB> <exit status>" of one run.
measure() {
  local w u s m rc
  read -r w u s m rc < <(/usr/bin/time -f '%e %U %S %M %x' "$1" process "$2" --all 2>&1 >/dev/null | tail -1)
  echo "$w $(awk -v a="$u" -v b="$s" 'BEGIN{print a + b}') $m $rc"
}
less() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a<b)}'; }

verdict() { awk -v k="$1" -v b="$bound" 'BEGIN{ printf "%.3f GB %s", k * 1024 / 1e9, (k * 1024 <= b) ? "within 1.5 GB" : "ABOVE 1.5 GB" }'; }
change() { awk -v a="$1" -v b="$2" 'BEGIN{ printf "%+.1f %%", 100 * (a - b) / b }'; }

# run_set TITLE N FILES...: N runs of each code, taking turns (so that a machine shared with
# other work treats both alike); the least wall and CPU time and the highest peak of each.
run_set() {
  local title=$1 n=$2
  shift 2
  local files=("$@") i who w c m rc
  project "$new" "$work/new_$title" "${files[@]}"
  project "$old" "$work/old_$title" "${files[@]}"
  declare -A wall cpu rss code
  for ((i = 0; i < n; i++)); do
    for who in new old; do
      local cli=$new
      [ $who = old ] && cli=$old
      read -r w c m rc < <(measure "$cli" "$work/${who}_$title/p.lumenfold")
      if [ -z "${wall[$who]:-}" ] || less "$w" "${wall[$who]}"; then wall[$who]=$w; fi
      if [ -z "${cpu[$who]:-}" ] || less "$c" "${cpu[$who]}"; then cpu[$who]=$c; fi
      if [ -z "${rss[$who]:-}" ] || less "${rss[$who]}" "$m"; then rss[$who]=$m; fi
      code[$who]=$rc
    done
  done
  echo "== $title (${#files[@]} originals; $n runs each; exit status: this code ${code[new]}, base ${code[old]})"
  printf '  peak RSS: this code %s KiB = %s   base %s KiB = %s\n' \
    "${rss[new]}" "$(verdict "${rss[new]}")" "${rss[old]}" "$(verdict "${rss[old]}")"
  printf '  least wall: this code %s s, base %s s (%s)   least CPU: this code %s s, base %s s (%s)\n' \
    "${wall[new]}" "${wall[old]}" "$(change "${wall[new]}" "${wall[old]}")" \
    "${cpu[new]}" "${cpu[old]}" "$(change "${cpu[new]}" "${cpu[old]}")"
}

echo "base: $rev (${commit:0:12}), built in $base"
run_set bombs 1 "$work"/bombs/bomb_*.jpg
run_set photos18mp "$reps" "$here"/.photos/photo_{1..8}.jpg
