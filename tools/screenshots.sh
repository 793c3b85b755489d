#!/usr/bin/env bash
# Pictures of the main window (thumbnails and details view), of the start-up, project and
# options dialogs and of the processing windows during a real run, taken with a demo project
# made from real photos.
#
#   bash tools/screenshots.sh [output folder]      (default build/screenshots)
#
# LUMENFOLD_BUILD_DIR names another build folder (default build).
#
# Two runs: one headless (Qt's offscreen platform), one on a real X server (Xvfb) when it is
# installed. Each run saves its PNG files into its own sub-folder. The program grabs its own
# windows when LUMENFOLD_SCREENSHOTS names a folder; the demo project comes from
# LUMENFOLD_SCREENSHOT_PROJECT.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${LUMENFOLD_BUILD_DIR:-build}
out=$(realpath -m "${1:-$build/screenshots}")

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target lumenfold lumenfold-cli template_db >/dev/null

# Real photos: the desktop backgrounds of the mate-backgrounds package (installed, or unpacked
# from the downloaded package without installing it).
photos=/usr/share/backgrounds/mate
if [ ! -d "$photos/nature" ]; then
  pkg="$root/$build/demo-pkg"
  mkdir -p "$pkg"
  (cd "$pkg" && apt-get download mate-backgrounds >/dev/null && dpkg -x mate-backgrounds_*.deb x)
  photos="$pkg/x/usr/share/backgrounds/mate"
fi

demo="$root/$build/demo"
rm -rf "$demo"
mkdir -p "$demo/photos/nature" "$demo/photos/abstract" "$demo/config" "$demo/home/Pictures"
for f in Aqua Dune FreshFlower Garden GreenMeadow LadyBird RainDrops Storm TwoWings Wood; do
  [ -f "$photos/nature/$f.jpg" ] && cp "$photos/nature/$f.jpg" "$demo/photos/nature/"
done
[ -f "$photos/abstract/Elephants.jpg" ] && cp "$photos/abstract/Elephants.jpg" "$demo/photos/abstract/"
cp "$photos"/desktop/*.jpg "$demo/photos/abstract/" 2>/dev/null || true

# A photo whose pixels lie on their side, turned upright only by its camera tag (orientation 6):
# in every picture it must look like Garden.jpg.
if command -v jpegtran >/dev/null && command -v exiv2 >/dev/null &&
  [ -f "$demo/photos/nature/Garden.jpg" ]; then
  jpegtran -copy none -rotate 270 "$demo/photos/nature/Garden.jpg" >"$demo/photos/nature/GardenTagged.jpg"
  exiv2 -q -M"set Exif.Image.Orientation Short 6" "$demo/photos/nature/GardenTagged.jpg"
fi

project="$demo/demo.lumenfold"
cli=$build/bin/lumenfold-cli
"$cli" new "$project" --db "$demo/demo.sqlite" >/dev/null
"$cli" add-album "$project" "$demo/photos/abstract" --short-name Abstract \
  --long-name "Abstract and desktop pictures" >/dev/null
"$cli" add-album "$project" "$demo/photos/nature" --short-name Nature \
  --long-name "Flowers, water and sand" >/dev/null
# The site archive with the gallery template, so that the publish window shows a real plan.
"$cli" set "$project" SiteTemplate=gallery >/dev/null
"$cli" process "$project" --zip >/dev/null
# Categories and a signature for the picture, category and signature dialogs.
if command -v sqlite3 >/dev/null; then
  sqlite3 "$demo/demo.sqlite" <<'SQL'
INSERT INTO category VALUES (1, 'Flowers', 'Blumen', 'Blossoms of the garden', 'Blüten');
INSERT INTO category VALUES (2, 'Water', 'Wasser', 'Rain, sea and lakes', 'Regen');
INSERT INTO picture_to_category SELECT picture_id, 1 FROM picture ORDER BY picture_id LIMIT 3;
INSERT INTO picture_to_category SELECT picture_id, 2 FROM picture ORDER BY picture_id LIMIT 1;
INSERT INTO signature_item VALUES (1, 'Copyright', '© %PICTURE_TITLE% lumenfold', 'DejaVu Sans',
  14, 'fsBold', 16777215, '', 16777215);
INSERT INTO signature_item VALUES (2, 'Album', '%LONG_ALBUM_NAME%', 'DejaVu Serif', 10,
  ',fsItalic', 255, '', 16777215);
INSERT INTO signature VALUES (1, 'Corner mark');
INSERT INTO signature_map VALUES (1, 1, 9, 0, 8, 8);
INSERT INTO signature_map VALUES (1, 2, 1, 1, 8, 8);
UPDATE picture SET thumb_signature_id = 1, medium_signature_id = 1
  WHERE picture_id = (SELECT MIN(picture_id) FROM picture);
SQL
fi

run() { # platform, sub-folder, launcher...
  local platform=$1 name=$2
  shift 2
  rm -rf "$out/$name"
  mkdir -p "$out/$name"
  # A settings store and a home folder of its own, so the user's window placement and recent
  # list stay untouched and the new-project dialog shows what a new user is offered.
  HOME="$demo/home" XDG_CONFIG_HOME="$demo/config" QT_QPA_PLATFORM=$platform LUMENFOLD_SCREENSHOTS="$out/$name" \
    LUMENFOLD_SCREENSHOT_PROJECT="$project" timeout 300 "$@" "$build/bin/lumenfold"
  ls "$out/$name"
}

run offscreen offscreen
if command -v xvfb-run >/dev/null; then
  run xcb xvfb xvfb-run -a -s "-screen 0 1280x1024x24"
  # The main window at 1600×1000 in both colour schemes.
  for scheme in light dark; do
    LUMENFOLD_SCREENSHOT_SIZE=1600x1000 LUMENFOLD_SCREENSHOT_SCHEME=$scheme \
      run xcb "xvfb-$scheme" xvfb-run -a -s "-screen 0 1700x1100x24"
  done
else
  echo "xvfb-run not found: only the headless pictures were taken" >&2
fi
echo "pictures in $out"
