#!/bin/bash
# Times `smartctl -a` and `zelvane info N` on the rig's two emulated drives
# in one boot of its guest: 10 runs each, three rounds. Prints the medians,
# the system calls of one `zelvane info 0`, and last one line per drive:
#   ratio info 0: 0.42      (zelvane's median / smartctl's)
# Run by hand (it is no test): benchmarks/rig/run.sh BUILD_DIR
# Needs what the rig needs (scripts/setup.sh --rig) and strace.
set -uo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
RIG="$HERE/../../tests/rig"
[ $# -eq 1 ] && [ -d "$1" ] || { sed -n 2,7p "$0"; exit 1; }
BUILD="$(cd "$1" && pwd)"
[ -x "$BUILD/bin/zelvane" ] || { echo "run.sh: no $BUILD/bin/zelvane; build it first" >&2; exit 1; }
STRACE="$(command -v strace)" || { echo "run.sh: strace is not installed (scripts/setup.sh --rig)" >&2; exit 1; }
export SATA_MODEL="${SATA_MODEL:-QUARN SSD KD765 256GB}"
export SATA_SERIAL="${SATA_SERIAL:-QKD765RIG0001}"
export SATA_FWREV="${SATA_FWREV:-SVMU01}"
export NVME_SERIAL="${NVME_SERIAL:-QNVMERIG0001}"
export SATA_MB="${SATA_MB:-4000}"
export NVME_MB="${NVME_MB:-3000}"
export RIG_WORK="${RIG_WORK:-$BUILD/rig-work}"
OUT="$BUILD/rig-bench-output.txt"
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
cc -O2 -o "$TMP/timeit" "$HERE/timeit.c" || exit 1
"$RIG/run-guest.sh" -q -t 600 -f "$BUILD/bin/zelvane" -f "$TMP/timeit" -f "$STRACE" \
  "$HERE/guest.sh" > "$OUT"
rc=$?
if [ $rc -ne 0 ]; then
  echo "run.sh: the guest did not finish (run-guest.sh exit $rc); its output:"
  cat "$OUT"
  exit 1
fi
awk '
  function median(list,   n, v, i, j, t) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j-1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j-1]; v[j-1] = t }
    return n % 2 ? v[(n+1)/2] : (v[n/2] + v[n/2+1]) / 2
  }
  $1 == "time" { all[$3] = all[$3] " " $4; round[$3, $2] = round[$3, $2] " " $4; names[$3] = 1; rounds[$2] = 1; next }
  $1 == "strace-total" { calls = $2; next }
  $1 == "strace-clock" { clocks = $2 + 0; next }
  $1 == "strace:" { next }
  { print "guest: " $0 }
  END {
    split("smartctl-sda info-0 smartctl-nvme0 info-1", order, " ")
    for (k = 1; k <= 4; k++) {
      c = order[k]; line = sprintf("%-15s median %7.1f ms  (rounds:", c, median(all[c]))
      for (r = 1; r <= 3; r++) line = line sprintf(" %.1f", median(round[c, r]))
      print line ")"
    }
    print "system calls of zelvane info 0: " calls " (" clocks " of them clock reads)"
    printf "ratio info 0: %.2f\n", median(all["info-0"]) / median(all["smartctl-sda"])
    printf "ratio info 1: %.2f\n", median(all["info-1"]) / median(all["smartctl-nvme0"])
  }' "$OUT"
