#!/usr/bin/env bash
# Browser tests of the gallery template (tests/site): installs the pinned npm packages and runs
# `node --test` against Debian's chromium. Needs the programs built in build/ (lumenfold-cli and
# build/bin/templates) and the npm registry for `npm ci`. Screenshots land in build/site-shots/.
set -euo pipefail
cd "$(dirname "$0")/../tests/site"
npm ci --no-audit --no-fund --loglevel=error
node --test ./*.test.mjs
