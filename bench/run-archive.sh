#!/usr/bin/env bash
# Archive update benchmark on a large generated project: N small JPEG originals in A albums,
# processed once into its archive ("process --zip"), then:
#   1. a run with nothing to do: wall and processor time and bytes the process wrote
#      (write_bytes of /proc/PID/io, as /usr/bin/time's %O reports it in 512-byte blocks), for the
#      first such run after a change and the best of the runs after it. Targets: <= 1 s, <= 20 MB.
#   2. 10 new pictures (import-new, then the run): wall and processor time and bytes written.
#      Targets: <= 3 s, bytes <= 2 % of the archive.
# The machine's load average goes beside each figure: processor time is the steadier one on a
# shared machine.
# Both measured against the full rewrite of the archive (LUMENFOLD_ARCHIVE_FULL_REWRITE=1) in the
# same run, with 10 more new pictures for the latter. Each timing is the best of REPS runs of the
# nothing-to-do case; the new-picture cases run once each (they change the project).
# The originals are one small JPEG (cjpeg) made unique per file by a comment segment, so that
# making 50,000 of them takes seconds. Needs python3, cjpeg, unzip and /usr/bin/time. Not run by
# CI. The first processing of 50,000 pictures takes several minutes on 2 cores.
# With WORK=<folder of an earlier run kept with KEEP_WORK=1> the project there is measured again
# (N and A are then those of that project).
#   bench/run-archive.sh [build folder] [N] [A] [reps]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
count=${2:-50000}
albums=${3:-25}
reps=${4:-3}
for tool in python3 cjpeg unzip; do
  command -v $tool >/dev/null || { echo "needs $tool"; exit 2; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)"; exit 2; }
[ -f "$build/CMakeCache.txt" ] && cmake --build "$build" --target lumenfold-cli >/dev/null
cli="$build/bin/lumenfold-cli"
# TMPDIR must be on a disk, not in a memory file system (no written bytes are counted there).
if [ -n "${WORK:-}" ]; then
  work=$WORK
  [ -f "$work/p.lumenfold" ] || { echo "no project in $work"; exit 2; }
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/lumenfold-archivebench.XXXXXX")
  [ -n "${KEEP_WORK:-}" ] && echo "work: $work" || trap 'rm -rf "$work"' EXIT
fi
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"

# originals FOLDER FIRST LAST: files photo_FIRST.jpg .. photo_LAST.jpg in FOLDER.
python3 - "$work/base.ppm" <<'PY'
import random, sys
w, h = 96, 64
random.seed(3)
data = bytes(random.randint(0, 255) for _ in range(w * h * 3))
open(sys.argv[1], 'wb').write(b'P6 %d %d 255\n' % (w, h) + data)
PY
cjpeg -quality 85 -outfile "$work/base.jpg" "$work/base.ppm"
originals() {
  python3 - "$work/base.jpg" "$1" "$2" "$3" <<'PY'
import os, sys
base = open(sys.argv[1], 'rb').read()
folder, first, last = sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
os.makedirs(folder, exist_ok=True)
for i in range(first, last + 1):
    text = b'picture %d of the archive bench' % i
    com = b'\xff\xfe' + (len(text) + 2).to_bytes(2, 'big') + text
    with open('%s/photo_%06d.jpg' % (folder, i), 'wb') as f:
        f.write(base[:2] + com + base[2:])
PY
}

# measure CMD...: "<wall s> <bytes written> <processor s>" of one run.
measure() {
  local out
  out=$(/usr/bin/time -f '%e %O %U %S' "$@" 2>&1 >/dev/null | tail -1)
  awk '{printf "%s %.0f %.2f\n", $1, $2 * 512, $3 + $4}' <<<"$out"
}
best() { # best REPS CMD...: the run with the least wall time
  local best="" line
  for ((i = 0; i < reps; i++)); do
    line=$(measure "$@")
    if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN{exit !(a<b)}'; then
      best=$line
    fi
  done
  echo "$best"
}
mb() { awk -v b="$1" 'BEGIN{printf "%.1f MB", b / 1048576}'; }
pct() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f %%", 100 * a / b}'; }

project="$work/p.lumenfold"
archive="$work/out/albums.zip"
mkdir -p "$work/out"
if [ -z "${WORK:-}" ]; then
  "$cli" new "$project" >/dev/null
  "$cli" set "$project" "ZipFileName=$archive" >/dev/null
  start=$(date +%s)
  per=$(((count + albums - 1) / albums))
  for ((a = 1; a <= albums; a++)); do
    first=$(((a - 1) * per + 1))
    last=$((a * per < count ? a * per : count))
    originals "$work/album$a" "$first" "$last"
    "$cli" add-album "$project" "$work/album$a" --directory "album$a" --short-name "Album$a" \
      >/dev/null
  done
  echo "== $count pictures in $albums albums: made in $(($(date +%s) - start)) s"
  read -r wall _ _ < <(measure "$cli" process "$project" --zip)
  echo "first run ${wall}s"
  next=$count
else
  # The bench's own originals only: photo_NNNNNN.jpg, the highest number last.
  count=$(find "$work"/album* -maxdepth 1 -name 'photo_*.jpg' | wc -l)
  next=$(find "$work"/album* -maxdepth 1 -name 'photo_*.jpg' -printf '%f\n' | sort | tail -1 |
    tr -dc 0-9 | sed 's/^0*//')
  echo "== again: $count pictures"
fi
size=$(stat -c %s "$archive")
entries=$(unzip -l "$archive" | tail -1 | awk '{print $2}')
echo "archive $(mb "$size"), $entries entries"

add_ten() { # ten new originals in the first album, taken into the project
  originals "$work/album1" $((next + 1)) $((next + 10))
  next=$((next + 10))
  "$cli" import-new "$project" Album1 >/dev/null
}
load() { cut -d' ' -f1 /proc/loadavg; }
report() { # report LABEL "<wall> <bytes> <processor>" WALL-TARGET
  read -r w b c <<<"$2"
  echo "$1: ${w}s (processor ${c}s, load $(load)), wrote $(mb "$b")" \
    "($(pct "$b" "$size") of the archive)  [target $3]"
}

echo "== nothing to do (best of $reps)"
# The first such run after a change looks at everything and records the idle stamp (beside
# the project file); the runs after it compare with that record and end at once. (A kept project
# measured again may have its stamp already.)
report "first          " "$(measure "$cli" process "$project" --zip)" "-"
report "update in place" "$(best "$cli" process "$project" --zip)" "<= 1 s, <= 20 MB"
report "full rewrite   " \
  "$(best env LUMENFOLD_ARCHIVE_FULL_REWRITE=1 "$cli" process "$project" --zip)" "-"
# The full rewrite leaves a fresh file: the next update starts from the same place.
echo "== 10 new pictures"
add_ten
report "update in place" "$(measure "$cli" process "$project" --zip)" "<= 3 s, <= 2 %"
add_ten
report "full rewrite   " \
  "$(measure env LUMENFOLD_ARCHIVE_FULL_REWRITE=1 "$cli" process "$project" --zip)" "-"
unzip -tq "$archive" >/dev/null && echo "unzip -t: archive sound, $(unzip -l "$archive" | tail -1 | awk '{print $2}') entries"
