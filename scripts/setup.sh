#!/usr/bin/env bash
# Installs what the project needs to build and test on Debian 12.
# Usage: scripts/setup.sh [--rig]   (--rig adds QEMU and the drive oracles)
set -euo pipefail

packages=(cmake g++ make pkg-config ca-certificates
          libgtest-dev libgmock-dev googletest libbenchmark-dev
          nlohmann-json3-dev libsqlite3-dev libcurl4-openssl-dev)
# The desktop window (Qt 6 Widgets) and fonts with CJK and Cyrillic glyphs.
packages+=(qt6-base-dev qt6-tools-dev qt6-l10n-tools fonts-wqy-microhei fonts-dejavu-core)
if [ "${1:-}" = "--rig" ]; then
  packages+=(qemu-system-x86 linux-image-amd64 busybox-static smartmontools
             nvme-cli hdparm cpio kmod udev strace)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
