#!/bin/sh
# The benchmark's guest script: the SATA disk gets the rig's mounted FAT
# volume, then smartctl and zelvane read both drives, 10 runs each, in three
# rounds; then strace counts the system calls of one `zelvane info 0`.
F=/guest/files
printf 'o\nn\np\n1\n2048\n\nt\nc\nw\n' | fdisk /dev/sda >/dev/null 2>&1
blockdev --rereadpt /dev/sda
[ -x /lib/systemd/systemd-udevd ] && udevadm settle --timeout=10
mkdosfs -n ZELVANE /dev/sda1 >/dev/null
mkdir -p /mnt/d && mount -t vfat /dev/sda1 /mnt/d
cd /tmp
# Each program once before timing, so that both start from a warm page cache.
/usr/sbin/smartctl -a /dev/sda >/dev/null 2>&1
$F/zelvane info 0 >/dev/null 2>&1
for round in 1 2 3; do
  for run in "smartctl-sda /usr/sbin/smartctl -a /dev/sda" \
             "info-0 $F/zelvane info 0" \
             "smartctl-nvme0 /usr/sbin/smartctl -a /dev/nvme0" \
             "info-1 $F/zelvane info 1"; do
    set -- $run
    name=$1; shift
    $F/timeit 10 "$@" | sed "s/^/time $round $name /"
  done
done
$F/strace -f -c -o /tmp/strace.txt $F/zelvane info 0 >/dev/null 2>&1
# The "total" line: % time, seconds, usecs/call, calls, [errors,] total.
echo "strace-total $(awk '$NF == "total" { print $4 }' /tmp/strace.txt)"
# Clock reads are system calls only where the guest's clock source has no
# fast path (QEMU's emulated HPET); they are counted apart.
echo "strace-clock $(awk '$NF == "clock_gettime" { print $4 }' /tmp/strace.txt)"
sed 's/^/strace: /' /tmp/strace.txt
