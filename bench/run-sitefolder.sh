#!/usr/bin/env bash
# Site folder benchmark: what keeping the site as a folder (the setting SiteFolder) adds to a
# processing run. N pictures (1600x1200, medium and thumbnail images, the gallery template) are
# processed with --zip once; then, with and without SiteFolder (the folder already made by an
# earlier run), two runs are timed: everything made again ("process --all --zip", the same bytes
# again) and a run with nothing to do ("process --zip"). Target: at most 5 % more.
# Each timing is the best of REPS wall times. Needs python3 and cjpeg. Benches are not run by CI.
#   bench/run-sitefolder.sh [build folder] [N] [reps]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
count=${2:-300}
reps=${3:-3}
for tool in python3 cjpeg; do command -v $tool >/dev/null || { echo "needs $tool"; exit 2; }; done
[ -f "$build/CMakeCache.txt" ] && cmake --build "$build" --target lumenfold-cli >/dev/null
cli="$build/bin/lumenfold-cli"
work=$(mktemp -d "${TMPDIR:-/tmp}/lumenfold-sitefolderbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" "$work/photos/a" && chmod 700 "$work/runtime"
"$here/textured.sh" "$work/photos/a" "$count"
p="$work/p.lumenfold"
"$cli" new "$p" >/dev/null
"$cli" add-album "$p" "$work/photos/a" --directory a >/dev/null
"$cli" process "$p" --zip >/dev/null
secs() { python3 -c 'import sys,time,subprocess; t=time.time(); subprocess.run(sys.argv[1:],check=True,stdout=subprocess.DEVNULL); print("%.3f"%(time.time()-t))' "$@"; }
best() { # command...
  local b="" t i
  for ((i = 0; i < reps; i++)); do
    t=$(secs "$@")
    if [ -z "$b" ] || python3 -c "import sys; sys.exit(not ($t < $b))"; then b=$t; fi
  done
  echo "$b"
}
measure() { # label
  local all none
  all=$(best "$cli" process "$p" --all --zip)
  none=$(best "$cli" process "$p" --zip)
  echo "$all $none"
}
read -r all0 none0 < <(measure)
"$cli" set "$p" SiteFolder="$work/site" >/dev/null
"$cli" process "$p" --zip >/dev/null # makes the folder
read -r all1 none1 < <(measure)
echo "== $count pictures, best of $reps wall seconds; site folder: $(find "$work/site" -type f | wc -l) files"
python3 - "$all0" "$all1" "$none0" "$none1" <<'PY'
import sys
a0, a1, n0, n1 = map(float, sys.argv[1:])
print("everything made again  without %.2f s  with site folder %.2f s  ratio %.3f  [target <= 1.05]" % (a0, a1, a1 / a0))
print("nothing to do          without %.2f s  with site folder %.2f s  ratio %.3f  [target <= 1.05]" % (n0, n1, n1 / n0))
PY
