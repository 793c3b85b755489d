#!/usr/bin/env bash
# Builds the Debian package from an existing build folder, unpacks it into a fresh folder
# prefix and runs the installed programs from there: --help, --version and a small project
# (new, add-album, process --zip) on generated JPEG files. Also validates the desktop entry and
# the AppStream metadata, and runs lintian on the package.
#
#   bash tools/ci-package.sh [build folder]      (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rm -f "$build"/lumenfold_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
debs=("$build"/lumenfold_*.deb)
deb=${debs[0]}
echo "package: $deb"
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Depends\|Installed-Size\):/  \1:/p'

# The package's files must be where a desktop looks for them.
dpkg-deb --contents "$deb" | awk '{print $6}' >"$work/contents"
for f in ./usr/bin/lumenfold ./usr/bin/lumenfold-cli ./usr/share/lumenfold/template.db \
  ./usr/share/lumenfold/help/index.html ./usr/share/applications/de.kelm.LumenFold.desktop \
  ./usr/share/metainfo/de.kelm.LumenFold.metainfo.xml \
  ./usr/share/mime/packages/de.kelm.LumenFold.xml \
  ./usr/share/icons/hicolor/scalable/apps/de.kelm.LumenFold.svg \
  ./usr/share/icons/hicolor/256x256/apps/de.kelm.LumenFold.png; do
  grep -qxF "$f" "$work/contents" || { echo "missing in the package: $f" >&2; exit 1; }
done

# Debian's package checks: any warning or error fails; the tags that stay are overridden with
# their reasons in packaging/lintian-overrides (installed with the package).
if ! lintian --fail-on warning,error --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1; then
  grep -v '^running with root privileges' "$work/lintian.log" >&2
  echo "lintian found problems in $deb" >&2
  exit 1
fi
echo "lintian: no warnings or errors ($(grep -c '^[IP]:' "$work/lintian.log" || true) notes)"

root="$work/root"
dpkg-deb -x "$deb" "$root"
prefix="$root/usr"
cli="$prefix/bin/lumenfold-cli"

desktop-file-validate "$prefix/share/applications/de.kelm.LumenFold.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/de.kelm.LumenFold.metainfo.xml"
grep -q 'glob pattern="\*.lumenfold"' "$prefix/share/mime/packages/de.kelm.LumenFold.xml"
grep -q '^MimeType=application/x-lumenfold;' "$prefix/share/applications/de.kelm.LumenFold.desktop"

# Both programs answer without a display.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/lumenfold" --help | grep '^usage: lumenfold' >/dev/null
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/lumenfold" --version
"$cli" --help | grep '^usage: lumenfold-cli' >/dev/null
"$cli" --version

# A small project made by the installed copy: it must find template.db under share/lumenfold.
export XDG_CONFIG_HOME="$work/config" HOME="$work/home"
photos="$work/photos/summer"
mkdir -p "$photos" "$HOME"
for i in 1 2 3; do
  # A generated picture: a colour ramp as a plain PPM, encoded by cjpeg.
  python3 - "$work/p$i.ppm" "$i" <<'PY'
import sys
w, h, k = 320, 240, int(sys.argv[2])
with open(sys.argv[1], "wb") as f:
    f.write(b"P6 %d %d 255\n" % (w, h))
    f.write(bytes(v for y in range(h) for x in range(w)
                  for v in ((x * k) % 256, (y * 2) % 256, (x + y + 40 * k) % 256)))
PY
  cjpeg -quality 90 "$work/p$i.ppm" >"$photos/picture$i.jpg"
done
project="$work/site/site.lumenfold"
mkdir -p "$work/site"
"$cli" new "$project"
"$cli" add-album "$project" "$photos" --short-name Summer --long-name "Summer by the sea"
"$cli" process "$project" --zip
zip="$work/site/albums.zip"
[ -f "$zip" ] || { echo "no archive at $zip" >&2; exit 1; }
python3 - "$zip" <<'PY'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
thumbs = [n for n in names if "/ps_thumb/" in n and n.endswith(".jpg")]
assert len(thumbs) == 3, names
print("archive: %d entries, %d thumbnails" % (len(names), len(thumbs)))
PY
echo "installed package works"
