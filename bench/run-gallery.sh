#!/usr/bin/env bash
# Gallery benchmark: a site of 10,000 pictures in Debian's chromium against a static HTML page
# of the same thumbnails (bench/gallery.mjs). Prints the time until the album list and the first
# album's thumbnails show, and the renderer's memory, as medians with ratios to the peer.
#   bash bench/run-gallery.sh [--pictures N] [--runs N]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -d tests/site/node_modules/puppeteer-core ]; then
  (cd tests/site && npm ci --no-audit --no-fund --loglevel=error)
fi
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
node bench/gallery.mjs "$@"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
