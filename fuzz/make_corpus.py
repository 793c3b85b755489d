#!/usr/bin/env python3
"""Writes the committed seed files of fuzz/corpus/ (run from any folder)."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
PAGES = ["Welcome", "Path selection", "Album detail", "Thumbnails", "Face selection", "Rename",
         "Signature", "Category", "Summary"]


def b(v):
    return b"\x09" if v else b"\x08"


def i(v):
    if -128 <= v <= 127:
        return b"\x02" + struct.pack("<b", v)
    if -32768 <= v <= 32767:
        return b"\x03" + struct.pack("<h", v)
    return b"\x04" + struct.pack("<i", v)


def t(s):
    try:
        raw = s.encode("ascii")
    except UnicodeEncodeError:
        raw = s.encode("utf-8")
        return b"\x14" + struct.pack("<I", len(raw)) + raw
    if len(raw) <= 255:
        return b"\x06" + bytes([len(raw)]) + raw
    return b"\x0c" + struct.pack("<I", len(raw)) + raw


def t16(s):
    raw = s.encode("utf-16-le")
    return b"\x12" + struct.pack("<I", len(raw) // 2) + raw


def project(conn="Provider=SQLite;Data Source=/home/user/site/db.sqlite", thumb_folder="ps_thumb",
            rename="%SHORT_ALBUM_NAME%_%N000%.jpg", zip_name="/home/user/site/albums.zip",
            site="", text=t, medium_folder="ps_medium"):
    return b"".join([
        t("$lumenFold2@"), text(conn), b(True), i(200), i(150), text(thumb_folder), t("tn_"),
        i(90), b(True), i(800), i(768), text(medium_folder), t("m_"), i(90), b(False),
        t("ps_large"), t("l_"), i(90), b(False), b(False), i(0), i(3), t("".join(PAGES)), i(1),
        text(rename), text(zip_name), b(False), b(False), b(False), b(True), b(True), text(site),
        b(True)])


def main():
    os.makedirs(HERE, exist_ok=True)
    files = {
        "default.lumenfold": project(),
        "nonascii.lumenfold": project(conn="Provider=SQLite;Data Source=/home/zoë/Fotky/db.sqlite",
                                      thumb_folder="náhledy", rename="%SHORT_ALBUM_NAME%_ü_%N00%.jpg",
                                      zip_name="/home/zoë/Fotky/albums.zip", site="Šablona"),
        "truncated.lumenfold": project()[:-60],
        "utf16.lumenfold": project(text=t16, medium_folder="střední 中"),
        "bigints.lumenfold": project().replace(i(200) + i(150), i(127) + i(32768), 1),
    }
    for name, data in files.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


main()
