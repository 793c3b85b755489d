#!/bin/sh
# Makes the benchmark originals in bench/.photos: ~18 MP baseline JPEGs at quality 92 with 4:2:0
# chroma, made from the largest photo of the Debian package mate-backgrounds. Each file gets its
# own small tone change, so no two files are equal (and no cache can serve one for another).
# Needs apt-get, dpkg, python3 and cjpeg/djpeg (libjpeg-turbo-progs).
#   bench/photos.sh [count]       (default 12)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out="$here/.photos"
count=${1:-12}
mkdir -p "$out/pkg"
cd "$out/pkg"
if ! ls mate-backgrounds_*.deb >/dev/null 2>&1; then
  apt-get download mate-backgrounds
fi
[ -d root ] || dpkg -x mate-backgrounds_*.deb root
largest=$(find root -type f -iname '*.jpg' -printf '%s %p\n' | sort -n | tail -1 | cut -d' ' -f2-)
echo "source photo: $largest"
[ -f base.ppm ] || djpeg -pnm -outfile base.ppm "$largest"
i=1
while [ "$i" -le "$count" ]; do
  target="$out/photo_$i.jpg"
  if [ ! -f "$target" ]; then
    # Gain and offset per file; a binary PPM keeps its header as is.
    python3 - "$i" base.ppm variant.ppm <<'PY'
import sys
i = int(sys.argv[1])
data = open(sys.argv[2], 'rb').read()
# header: P6 <w> <h> <max> and one whitespace byte
fields, pos = [], 0
while len(fields) < 4:
    while data[pos:pos+1].isspace(): pos += 1
    if data[pos:pos+1] == b'#':
        while data[pos:pos+1] not in (b'\n', b''): pos += 1
        continue
    start = pos
    while not data[pos:pos+1].isspace(): pos += 1
    fields.append(data[start:pos])
pos += 1
gain, offset = 1.0 - 0.01 * i, 1.5 * i
lut = bytes(max(0, min(255, round(v * gain + offset))) for v in range(256))
with open(sys.argv[3], 'wb') as f:
    f.write(data[:pos])
    f.write(data[pos:].translate(lut))
PY
    cjpeg -quality 92 -sample 2x2 -outfile "$target.part" variant.ppm
    mv "$target.part" "$target"
    rm -f variant.ppm
  fi
  i=$((i + 1))
done
ls -l "$out"/photo_*.jpg
