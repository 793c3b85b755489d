#!/usr/bin/env bash
# Processing benchmark: "lumenfold-cli process" with the default settings (medium 800 x 768,
# thumbnail 200 x 150, Lanczos, quality 90, no large images) against peers measured in the same
# run, on ~18 MP photos (bench/photos.sh) and on the mixed photos of the mate-backgrounds package
# (all of them, then only the baseline ones):
#   - vipsthumbnail making the same two outputs (one run per size; its default threads and one);
#   - djpeg -scale 1/2 decoding each original only;
#   - PSNR of our outputs, before encoding and as written, and of vipsthumbnail's files against
#     the same outputs made from a full-resolution decode (not encoded);
#   - peak memory per worker against the decoded size of the largest original.
# Each timing is the best of REPS runs (the machine may be shared).
#   bench/run-process.sh [build folder] [reps]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
reps=${2:-3}
for tool in vipsthumbnail djpeg; do
  command -v $tool >/dev/null || { echo "needs $tool (apt-get install libvips-tools libjpeg-turbo-progs)"; exit 2; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)"; exit 2; }
ls "$here"/.photos/photo_*.jpg >/dev/null 2>&1 || "$here/photos.sh"
cmake --build "$build" --target lumenfold-cli bench_process_psnr >/dev/null
cli="$build/bin/lumenfold-cli"
psnrtool="$build/bench/bench_process_psnr"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"

# best_of CMD...: runs the command REPS times; prints "<least wall s> <least cpu s> <peak rss
# KiB>" (the rss of the run with the least CPU time). On a shared machine the CPU time (user +
# system, all threads) is the steady figure; the wall time shows what a second worker brings.
best_of() {
  local wall="" cpu="" rss="" i w u s m
  for ((i = 0; i < reps; i++)); do
    read -r w u s m < <(/usr/bin/time -f '%e %U %S %M' "$@" 2>&1 >/dev/null | tail -1)
    local c
    c=$(awk -v a="$u" -v b="$s" 'BEGIN{print a + b}')
    if [ -z "$wall" ] || awk -v a="$w" -v b="$wall" 'BEGIN{exit !(a<b)}'; then wall=$w; fi
    if [ -z "$cpu" ] || awk -v a="$c" -v b="$cpu" 'BEGIN{exit !(a<b)}'; then cpu=$c; rss=$m; fi
  done
  echo "$wall $cpu $rss"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
per() { awk -v a="$1" -v n="$2" 'BEGIN{ printf "%.0f", 1000 * a / n }'; }

djpeg_all() { for f in "$@"; do djpeg -scale 1/2 -outfile /dev/null "$f"; done; }
vips_all() {
  local dir=$1
  shift
  vipsthumbnail "$@" -s 800x768 -o "$dir/m_%s.jpg[Q=90]"
  vipsthumbnail "$@" -s 200x150 -o "$dir/tn_%s.jpg[Q=90]"
}
export -f djpeg_all vips_all

# mark TEXT: "  [TEXT]" after a figure the targets speak of; nothing for a diagnostic set.
marks=1
mark() { [ "$marks" = 1 ] && printf '  [%s]' "$1" || true; }

bench_set() {
  local title=$1
  shift
  local photos=("$@") n=$#
  local set="$work/$title"
  rm -rf "$set"
  mkdir -p "$set/album" "$set/vips"
  cp "${photos[@]}" "$set/album/"
  "$cli" new "$set/p.lumenfold" >/dev/null
  "$cli" add-album "$set/p.lumenfold" "$set/album" --directory album --short-name Bench >/dev/null
  local originals=("$set"/album/*.jpg)

  echo "== $title: $n originals; per picture, wall / CPU in ms (best of $reps)"
  local w1 c1 r1 w2 c2 r2 r0 vw vc v1w v1c dw dc
  # Ours: every picture of album 1, regenerated each time.
  read -r w1 c1 r1 < <(best_of "$cli" process "$set/p.lumenfold" --albums 1 --all --jobs 1)
  read -r w2 c2 r2 < <(best_of "$cli" process "$set/p.lumenfold" --albums 1 --all --jobs 2)
  # The same program and project with nothing to do: the memory every run has anyway.
  read -r _ _ r0 < <(best_of "$cli" process "$set/p.lumenfold")
  read -r vw vc _ < <(best_of bash -c 'vips_all "$@"' bash "$set/vips" "${originals[@]}")
  read -r v1w v1c _ < <(VIPS_CONCURRENCY=1 best_of bash -c 'vips_all "$@"' bash "$set/vips" "${originals[@]}")
  read -r dw dc _ < <(best_of bash -c 'djpeg_all "$@"' bash "${originals[@]}")

  # Quality, and the largest original decoded. Lowest PSNR over all outputs ("-": the peer's
  # output has another size than ours, so it is left out).
  local pipe=99 file=99 peer=99 largest=0 f name pm pt fm ft vm vt w h
  lowest() { awk -v a="$1" -v b="$2" -v c="$3" 'BEGIN{m=a; if(b!="-" && b<m)m=b; if(c!="-" && c<m)m=c; printf "%.2f", m}'; }
  for f in "${originals[@]}"; do
    name=$(basename "$f")
    read -r pm pt fm ft vm vt w h < <("$psnrtool" "$f" "$set/album/ps_medium/m_$name" \
      "$set/album/ps_thumb/tn_$name" "$set/vips/m_${name%.*}.jpg" "$set/vips/tn_${name%.*}.jpg")
    pipe=$(lowest "$pipe" "$pm" "$pt")
    file=$(lowest "$file" "$fm" "$ft")
    peer=$(lowest "$peer" "$vm" "$vt")
    largest=$(awk -v a="$largest" -v b=$((w * h * 4)) 'BEGIN{print (b>a)?b:a}')
  done

  printf '  ours --jobs 1: %s / %s   ours --jobs 2: %s / %s\n' \
    "$(per "$w1" "$n")" "$(per "$c1" "$n")" "$(per "$w2" "$n")" "$(per "$c2" "$n")"
  printf '  vipsthumbnail (two outputs): %s / %s, on one thread %s / %s   djpeg -scale 1/2: %s / %s\n' \
    "$(per "$vw" "$n")" "$(per "$vc" "$n")" "$(per "$v1w" "$n")" "$(per "$v1c" "$n")" \
    "$(per "$dw" "$n")" "$(per "$dc" "$n")"
  printf '  vipsthumbnail / ours --jobs 1: CPU %sx, wall %sx (vips on one thread: wall %sx)%s\n' \
    "$(ratio "$vc" "$c1")" "$(ratio "$vw" "$w1")" "$(ratio "$v1w" "$w1")" "$(mark 'target >= 2.5')"
  printf '  ours --jobs 1 / djpeg -scale 1/2: CPU %sx, wall %sx%s\n' \
    "$(ratio "$c1" "$dc")" "$(ratio "$w1" "$dw")" "$(mark 'target <= 1.6')"
  printf '  vipsthumbnail / ours --jobs 2: wall %sx%s\n' \
    "$(ratio "$vw" "$w2")" "$(mark 'target >= 4; needs two idle cores')"
  printf '  lowest PSNR against the full-resolution pipeline (same kernel, not encoded):\n'
  printf '    our outputs before encoding: %s dB%s\n' "$pipe" \
    "$(mark 'target >= 40: what the reduced DCT decode costs')"
  printf '    our written files: %s dB, vipsthumbnail'"'"'s files: %s dB  (JPEG quality 90 itself costs this much)\n' \
    "$file" "$peer"
  local m1 m2
  m1=$(awk -v a="$r1" -v b="$r0" 'BEGIN{print (a-b)*1024}')
  m2=$(awk -v a="$r2" -v b="$r0" 'BEGIN{print (a-b)*1024/2}')
  printf '  peak memory per worker / largest original decoded (%s MB): --jobs 1 %sx, --jobs 2 %sx%s\n' \
    "$(awk -v a="$largest" 'BEGIN{printf "%.1f", a/1048576}')" "$(ratio "$m1" "$largest")" "$(ratio "$m2" "$largest")" \
    "$(mark 'target <= 1.5')"
}

bench_set photos18mp "$here"/.photos/photo_*.jpg
mapfile -t mixed < <(find "$here/.photos/pkg/root" -type f -iname '*.jpg' | sort)
bench_set mixed "${mixed[@]}"
# The same without its progressive files: their entropy decoding (one pass each for us, one per
# output size for vipsthumbnail) is most of the mixed set's time and sets the ratio's ceiling.
progressive() { python3 - "$1" <<'PY'
import sys
d = open(sys.argv[1], 'rb').read()
i = 2
while i + 4 <= len(d) and d[i] == 0xff:
    marker, length = d[i + 1], int.from_bytes(d[i + 2:i + 4], 'big')
    if marker in (0xc2, 0xc6, 0xca, 0xce):
        sys.exit(0)
    if marker in (0xc0, 0xc1, 0xc3, 0xc5, 0xc7, 0xc9, 0xcb, 0xcd, 0xcf, 0xda):
        break
    i += 2 + length
sys.exit(1)
PY
}
baseline=()
for f in "${mixed[@]}"; do progressive "$f" || baseline+=("$f"); done
marks=0 # not a set the targets name: no target marks
bench_set mixed_baseline_only "${baseline[@]}"
