#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine. Runs apt
# only when something is missing, as root or through sudo.
set -euo pipefail

packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  apt_get=(apt-get)
elif command -v sudo >/dev/null 2>&1; then
  apt_get=(sudo apt-get)
else
  echo "Missing packages: ${missing[*]}; install them as root (apt-get install ${missing[*]})." >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
DEBIAN_FRONTEND=noninteractive "${apt_get[@]}" update -qq
DEBIAN_FRONTEND=noninteractive "${apt_get[@]}" install -y -qq "${missing[@]}"
