#!/bin/bash
# Boots the rig's guest once with the built programs and the guest script,
# keeps what the guest printed, and compares it on the host.
# Usage: run-rig-test.sh BUILD_DIR
set -uo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
BUILD="$(cd "$1" && pwd)"
BIN="$BUILD/bin"
OUT="$BUILD/rig-output.txt"
export SATA_MODEL="${SATA_MODEL:-QUARN SSD KD765 256GB}"
export SATA_SERIAL="${SATA_SERIAL:-QKD765RIG0001}"
export SATA_FWREV="${SATA_FWREV:-SVMU01}"
export NVME_SERIAL="${NVME_SERIAL:-QNVMERIG0001}"
# Sizes whose GB (10^9 bytes) and GiB differ, so a size in the wrong unit shows.
export SATA_MB="${SATA_MB:-4000}"
export NVME_MB="${NVME_MB:-3000}"
# The guest's images and initramfs belong to this build.
export RIG_WORK="${RIG_WORK:-$BUILD/rig-work}"
files=()
# The probe always; the programs as far as they are built.
for f in zel_rig_probe zelvane SSDZelvane; do
  [ -x "$BIN/$f" ] && files+=(-f "$BIN/$f")
done
"$HERE/run-guest.sh" -q -t 170 "${files[@]}" "$HERE/guest.sh" > "$OUT"
rc=$?
if [ $rc -ne 0 ]; then
  echo "rig: the guest did not finish (run-guest.sh exit $rc); its output:"
  cat "$OUT"
  exit 1
fi
exec "$BIN/rig_compare" "$OUT"
