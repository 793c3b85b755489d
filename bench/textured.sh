#!/bin/sh
# Makes COUNT textured originals of 1600x1200 (p0000.jpg, p0001.jpg, ...) in FOLDER: rows of
# noise in turn, quality 85, the last pixel of each file its own, so no two files are equal.
# Needs python3 and cjpeg (libjpeg-turbo-progs).
#   bench/textured.sh FOLDER COUNT
set -eu
mkdir -p "$1"
python3 - "$1" "$2" <<'PY'
import random, subprocess, sys
out, n = sys.argv[1], int(sys.argv[2])
w, h = 1600, 1200
r = random.Random(1)
rows = [bytes(r.randrange(256) for _ in range(w * 3)) for _ in range(16)]
for i in range(n):
    img = b"P6 %d %d 255\n" % (w, h) + b"".join(rows[(y + i) % 16] for y in range(h))
    img = img[: len(img) - 3] + bytes([i % 256, i & 255, (i >> 8) & 255])
    subprocess.run(["cjpeg", "-quality", "85", "-outfile", "%s/p%04d.jpg" % (out, i)],
                   input=img, check=True)
PY
