#!/usr/bin/env bash
# Publish benchmark against "rclone sync" of the same folder to the same local SFTP server
# (OpenSSH's sshd on 127.0.0.1 with its own host and user key, own config, non-root port),
# measured in the same run:
#   1. First publish of an N-picture site (medium and thumbnail images, the gallery template):
#      "lumenfold-cli publish" against "rclone sync SITE remote:" into an empty folder.
#      Target: at most 1.2.
#   2. One picture changed and the project processed again: files sent by publish (target: at
#      most 4) and its time against "rclone sync" of the changed folder. Target: at most 1.5.
# Needs python3, cjpeg, ssh-keygen, /usr/sbin/sshd and rclone. Benches are not run by CI.
#   bench/run-publish.sh [build folder] [N]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
count=${2:-1000}
for tool in python3 cjpeg ssh-keygen rclone; do
  command -v $tool >/dev/null || { echo "needs $tool"; exit 2; }
done
[ -x /usr/sbin/sshd ] || { echo "needs /usr/sbin/sshd (openssh-server)"; exit 2; }
[ -f "$build/CMakeCache.txt" ] && cmake --build "$build" --target lumenfold-cli >/dev/null
cli="$build/bin/lumenfold-cli"
work=$(mktemp -d "${TMPDIR:-/tmp}/lumenfold-publishbench.XXXXXX")
sshd_pid=""
cleanup() {
  [ -n "$sshd_pid" ] && kill "$sshd_pid" 2>/dev/null || true
  [ -n "${KEEP_WORK:-}" ] && echo "work: $work" || rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"

# Originals: textured pictures of 1600x1200, each with its own tone.
"$here/textured.sh" "$work/photos/a" "$count"

# The SFTP server.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/sshd" "$work/srv1" "$work/srv2"
ssh-keygen -q -t ed25519 -N "" -f "$work/sshd/host"
ssh-keygen -q -t ed25519 -N "" -f "$work/sshd/user"
cp "$work/sshd/user.pub" "$work/sshd/authorized_keys"
cat > "$work/sshd/config" <<CONF
ListenAddress 127.0.0.1
Port $port
HostKey $work/sshd/host
AuthorizedKeysFile $work/sshd/authorized_keys
PidFile $work/sshd/pid
UsePAM no
StrictModes no
PasswordAuthentication no
PermitRootLogin prohibit-password
Subsystem sftp internal-sftp
CONF
mkdir -p /run/sshd 2>/dev/null || true
/usr/sbin/sshd -D -e -f "$work/sshd/config" 2>"$work/sshd/log" &
sshd_pid=$!
sleep 1
user=$(id -un)
export RCLONE_CONFIG_BENCH_TYPE=sftp RCLONE_CONFIG_BENCH_HOST=127.0.0.1 \
  RCLONE_CONFIG_BENCH_PORT=$port RCLONE_CONFIG_BENCH_USER=$user \
  RCLONE_CONFIG_BENCH_KEY_FILE="$work/sshd/user"

p="$work/p.lumenfold"
"$cli" new "$p" >/dev/null
"$cli" add-album "$p" "$work/photos/a" --directory a >/dev/null
"$cli" set "$p" SiteFolder="$work/site" >/dev/null
"$cli" process "$p" --zip >/dev/null
"$cli" destination "$p" add web "sftp://$user@127.0.0.1:$port/$work/srv1" --key "$work/sshd/user" >/dev/null
files=$(find "$work/site" -type f ! -name '.lumenfold-site.json' | wc -l)
bytes=$(du -sb --exclude=.lumenfold-site.json "$work/site" | cut -f1)
echo "site: $files files, $bytes bytes"

# SSH logins so far (sshd logs each to its log).
logins() { grep -c 'Accepted publickey' "$work/sshd/log" || true; }
secs() { python3 -c 'import sys,time,subprocess; t=time.time(); subprocess.run(sys.argv[1:],check=True,stdout=subprocess.DEVNULL); print("%.2f"%(time.time()-t))' "$@"; }
before=$(logins)
ours=$(secs "$cli" publish "$p")
echo "first publish: $(( $(logins) - before )) SSH connections"
peer=$(secs rclone sync "$work/site" "BENCH:$work/srv2" --exclude .lumenfold-site.json)
# The same peer without the engine's remote hash commands, the way publish runs it.
mkdir -p "$work/srv3"
bare=$(secs rclone sync "$work/site" "BENCH:$work/srv3" --exclude .lumenfold-site.json --sftp-disable-hashcheck --sftp-shell-type none)
echo "first publish: lumenfold ${ours}s, rclone sync ${peer}s, ratio $(python3 -c "print('%.2f'%($ours/$peer))") (target <= 1.2)"
echo "  against rclone sync without remote hash commands ${bare}s: ratio $(python3 -c "print('%.2f'%($ours/$bare))")"

python3 - "$work/photos/a/p0007.jpg" <<'PY'
import subprocess, sys
img = b"P6 1600 1200 255\n" + bytes(range(256)) * (1600 * 1200 * 3 // 256)
subprocess.run(["cjpeg", "-quality", "85", "-outfile", sys.argv[1]], input=img, check=True)
PY
"$cli" process "$p" --zip >/dev/null
plan=$("$cli" publish "$p" --dry-run)
sent=$(echo "$plan" | grep -cE '^(upload|replace)' || true)
before=$(logins)
ours=$(secs "$cli" publish "$p")
echo "one picture changed: $(( $(logins) - before )) SSH connections"
peer=$(secs rclone sync "$work/site" "BENCH:$work/srv2" --exclude .lumenfold-site.json)
bare=$(secs rclone sync "$work/site" "BENCH:$work/srv3" --exclude .lumenfold-site.json --sftp-disable-hashcheck --sftp-shell-type none)
echo "  against rclone sync without remote hash commands ${bare}s: ratio $(python3 -c "print('%.2f'%($ours/$bare))")"
echo "one picture changed: $sent files sent (target <= 4); lumenfold ${ours}s, rclone sync ${peer}s, ratio $(python3 -c "print('%.2f'%($ours/$peer))") (target <= 1.5)"
echo "$plan" | grep -E '^(upload|replace|remove)' | sed 's/^/  /'
