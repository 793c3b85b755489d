#!/usr/bin/env python3
"""Writes the committed seed files of fuzz/corpus-exif/ (run from any folder): JPEG headers with
EXIF blocks in both byte orders, colour profile chunks, and a few damaged forms."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus-exif")


def tiff(big, orientation, original, digitized):
    e = ">" if big else "<"
    out = (b"MM" if big else b"II") + struct.pack(e + "HI", 42, 8)
    texts = [t for t in (original, digitized) if t]
    ifd0 = [(0x0112, 3, 1, struct.pack(e + "HH", orientation, 0))] if orientation else []
    exif_at = 8 + 2 + 12 * (len(ifd0) + (1 if texts else 0)) + 4
    if texts:
        ifd0.append((0x8769, 4, 1, struct.pack(e + "I", exif_at)))
    out += struct.pack(e + "H", len(ifd0))
    for tag, typ, count, value in ifd0:
        out += struct.pack(e + "HHI", tag, typ, count) + value
    out += struct.pack(e + "I", 0)
    if texts:
        at = exif_at + 2 + 12 * len(texts) + 4
        out += struct.pack(e + "H", len(texts))
        for tag, text in ((0x9003, original), (0x9004, digitized)):
            if text:
                out += struct.pack(e + "HHII", tag, 2, len(text) + 1, at)
                at += len(text) + 1
        out += struct.pack(e + "I", 0)
        for t in texts:
            out += t + b"\0"
    return out


def segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


def jpeg(*segments):
    jfif = segment(0xE0, b"JFIF\0\x01\x01\0\0\x01\0\x01\0\0")
    return b"\xFF\xD8" + jfif + b"".join(segments) + b"\xFF\xDA\0\x02\xFF\xD9"


def exif(t):
    return segment(0xE1, b"Exif\0\0" + t)


def icc(profile, size):
    chunks = [profile[i:i + size] for i in range(0, len(profile), size)]
    return b"".join(segment(0xE2, b"ICC_PROFILE\0" + bytes([n + 1, len(chunks)]) + c)
                    for n, c in enumerate(chunks))


def main():
    os.makedirs(HERE, exist_ok=True)
    date = b"2021:07:14 09:30:05"
    files = {
        "le-orientation6-dates.jpg": jpeg(exif(tiff(False, 6, date, b"2021:07:15 10:00:00"))),
        "be-orientation5-date.jpg": jpeg(exif(tiff(True, 5, date, None))),
        "le-mirror2.jpg": jpeg(exif(tiff(False, 2, None, None))),
        "profile-chunks.jpg": jpeg(exif(tiff(False, 8, None, date)), icc(bytes(range(256)) * 2, 200)),
        "loop.jpg": jpeg(exif(tiff(False, 3, date, None)[:30] + struct.pack("<I", 8)
                              + tiff(False, 3, date, None)[34:])),
        "bare-tiff.bin": tiff(True, 7, date, date),
    }
    for name, data in files.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
