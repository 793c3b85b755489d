#!/usr/bin/env bash
# Refreshes the pictures of the help pages: takes the screenshots of the demo project
# (tools/screenshots.sh) and copies every picture a help page shows into help/images, from the
# X server run when there was one, else from the headless run.
#
#   bash tools/help-images.sh
set -euo pipefail
cd "$(dirname "$0")/.."
shots=$(realpath -m "${LUMENFOLD_BUILD_DIR:-build}/screenshots")
bash tools/screenshots.sh "$shots" >/dev/null
grep -ho 'src="images/[^"]*\.png"' help/pages/*.html | sed 's|src="images/||; s|"$||' | sort -u |
while read -r name; do
  if [ -f "$shots/xvfb/$name" ]; then
    cp "$shots/xvfb/$name" help/images/
  elif [ -f "$shots/offscreen/$name" ]; then
    cp "$shots/offscreen/$name" help/images/
  else
    echo "no screenshot for help/images/$name" >&2
    exit 1
  fi
  echo "help/images/$name"
done
