#!/usr/bin/env bash
# Sets everything up, builds, and runs the programs on the embedded demo machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
bin="${BUILD_DIR:-build}/bin"
echo "== zelvane --machine demo list"
"$bin/zelvane" --machine demo list
echo
echo "== zelvane --machine demo info 0"
"$bin/zelvane" --machine demo info 0
echo
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "== SSDZelvane --machine demo (the window)"
  "$bin/SSDZelvane" --machine demo
else
  shots="${BUILD_DIR:-build}/screenshots"
  echo "== no display: SSDZelvane --machine demo --screenshots $shots"
  QT_QPA_PLATFORM=offscreen "$bin/SSDZelvane" --machine demo --screenshots "$shots"
fi
