#!/usr/bin/env bash
# Installs the Debian packages LumenFold needs to build, run and test (skips what is there).
set -euo pipefail
packages=(cmake ninja-build g++ clang pkg-config qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite
  libsqlite3-dev libqt6svg6 libjpeg62-turbo-dev libjpeg-turbo-progs libdeflate-dev zlib1g-dev liblcms2-dev libexiv2-dev libheif-dev
  libheif-examples qt6-image-formats-plugins libimage-exiftool-perl fonts-dejavu-core
  xvfb xauth chromium unzip
  dpkg-dev desktop-file-utils appstream lintian python3
  rclone openssh-server openssh-client vsftpd qtkeychain-qt6-dev
  gnome-keyring dbus-daemon dbus-bin)
# Node.js runs the browser tests of the site template; a machine that has node keeps its own.
command -v node >/dev/null || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
