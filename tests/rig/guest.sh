#!/bin/sh
# The rig's one guest script: the oracles and the system's own programs on
# the same emulated drives, each answer in its own section for the host-side
# comparison (tests/rig/compare).
F=/guest/files
section() { echo "=====SECTION $1====="; }
end() { echo "=====END====="; }
# A program's standard output, then its exit status and standard error.
program() {
  name=$1; shift
  section "$name"; "$@" 2>/tmp/stderr.txt; echo "exit=$?"; sed 's/^/stderr: /' /tmp/stderr.txt; end
}

# The SATA disk gets an MBR with one FAT partition from 1 MiB (disk
# signature 1A2B3C4D), mounted, so that it has a lettered volume. The TRIM
# checks below use sectors before the partition.
printf 'o\nn\np\n1\n2048\n\nt\nc\nw\n' | fdisk /dev/sda >/dev/null 2>&1
printf '\115\074\053\032' | dd of=/dev/sda bs=1 seek=440 conv=notrunc,fsync 2>/dev/null
blockdev --rereadpt /dev/sda
[ -x /lib/systemd/systemd-udevd ] && udevadm settle --timeout=10
mkdosfs -n ZELVANE /dev/sda1 >/dev/null
[ -x /lib/systemd/systemd-udevd ] && { udevadm trigger --action=change /dev/sda1; udevadm settle --timeout=10; }
mkdir -p /mnt/d && mount -t vfat /dev/sda1 /mnt/d
# 8 MiB written to the NVMe namespace, so that its data-units-written
# counter is not zero when the oracle and the programs read it.
dd if=/dev/zero bs=1M count=8 2>/dev/null | tr '\000' 'N' | dd of=/dev/nvme0n1 bs=1M conv=fsync 2>/dev/null
sync

section smartctl-sata; smartctl -a -j /dev/sda > /tmp/smartctl.json; cat /tmp/smartctl.json; end
section nvme-id-ctrl; nvme id-ctrl /dev/nvme0 -o json; end
section nvme-smart-log; nvme smart-log /dev/nvme0 -o json; end
section sysfs
for f in class current_link_speed current_link_width max_link_speed max_link_width; do
  echo "nvme.$f=$(cat /sys/bus/pci/devices/0000:01:00.0/$f)"
done
echo "ahci.class=$(cat /sys/bus/pci/devices/0000:00:1f.2/class)"
echo "sda.size=$(cat /sys/block/sda/size)"
echo "nvme0n1.size=$(cat /sys/block/nvme0n1/size)"
echo "sda1.size=$(cat /sys/block/sda/sda1/size)"
echo "mount.d=$(grep ' /mnt/d ' /proc/mounts)"
stat -f -c 'd.blockSize=%S
d.blocks=%b
d.available=%a' /mnt/d
end

# A pattern on LBA 96..111; the probe trims 100..107; then read it back past the cache.
dd if=/dev/zero bs=512 count=16 2>/dev/null | tr '\000' 'A' | dd of=/dev/sda bs=512 seek=96 conv=fsync 2>/dev/null
section probe; $F/zel_rig_probe --trim 100 8; end
sync; echo 3 > /proc/sys/vm/drop_caches
section trim-readback; dd if=/dev/sda bs=512 skip=96 count=16 2>/dev/null | od -An -v -tx1; end

# The system's own operations over the Linux platform; its TRIM takes LBA 200..203.
dd if=/dev/zero bs=512 count=8 2>/dev/null | tr '\000' 'B' | dd of=/dev/sda bs=512 seek=198 conv=fsync 2>/dev/null
# A criteria file for the rig's SATA drive (lines end with CR LF).
printf '#SMART start\r\nBE,64,1,32,1,64,0,Temperature,\r\n09,64,1,0,4,FFFFFFFF,0,,\r\n#SMART end\r\n#Identify start\r\n27-46,QUARN SSD KD765 256GB\r\n100-103,0x%016X\r\n83,14,1\r\n#Identify end\r\n' \
  "$(cat /sys/block/sda/size)" > /tmp/ZelvaneDvtRig.txt
section system; (cd /tmp && $F/zel_rig_probe --system --trim 200 4 --dvt /tmp/ZelvaneDvtRig.txt); end
section dvt-files; for f in $F/zel_rig_probe*.log; do echo "== $(basename "$f")"; cat "$f"; done; end
sync; echo 3 > /proc/sys/vm/drop_caches
section system-trim-readback; dd if=/dev/sda bs=512 skip=198 count=8 2>/dev/null | od -An -v -tx1; end

# The programs themselves on the real machine of the guest, where they are built.
if [ -x $F/zelvane ]; then
  cd /tmp
  program zelvane-list $F/zelvane --json list
  for n in 0 1; do
    program zelvane-info-$n $F/zelvane --json info $n
    program zelvane-details-$n $F/zelvane --json details $n
    program zelvane-smart-$n $F/zelvane --json details $n --smart
  done
  program zelvane-report $F/zelvane --json report /tmp/zelvane-report.txt
  section report-file; cat /tmp/zelvane-report.txt; end
  # The short self-test through the system's own operation, then the drive's
  # self-test log as the oracle reads it; the NVMe controller has no Device
  # Self-test and must say so.
  program zelvane-selftest-0 $F/zelvane --json selftest 0
  section smartctl-selftest; smartctl -l selftest -j /dev/sda; end
  program zelvane-selftest-1 $F/zelvane --json selftest 1
  section sda-sector0; dd if=/dev/sda bs=512 count=1 2>/dev/null | od -An -v -tx1; end
  # TRIM checks: the vfat volume is one whose free space is trimmed on
  # request, as fstrim does it; with less than 5 GiB free a run fills
  # nothing, and a second run is not refused, so the first ended its run
  # state in the store. The schedule goes through the same store.
  if [ -d /mnt/d ]; then
    program zelvane-trim-list $F/zelvane --json trim 0 --list
    section fstrim-d; fstrim -v /mnt/d 2>&1; echo "exit=$?"; end
    program zelvane-trim-0 $F/zelvane --json trim 0
    program zelvane-trim-again $F/zelvane --json trim 0
    program zelvane-schedule-set $F/zelvane --json schedule 0 --days 14
    program zelvane-schedule-show $F/zelvane --json schedule 0
    section trim-store; grep -c -a -i triminprogress /var/lib/ssdzelvane/registry.sqlite3; end
    # The platform's own TRIM request on that volume makes a deleted file's
    # sectors read as zeros: a 4 MiB file of 'Z', the first whole MiB of the
    # partition inside it found by reading, the file deleted, the request
    # sent, then that MiB read back past the cache.
    dd if=/dev/zero bs=1M count=4 2>/dev/null | tr '\000' 'Z' > /mnt/d/trimme.bin; sync
    mib=; for i in $(seq 0 256); do
      if dd if=/dev/sda1 bs=1M skip=$i count=1 2>/dev/null | grep -q ZZZZZZZZZZZZZZZZ; then mib=$((i + 1)); break; fi
    done
    section trim-file-before; echo "mib=$mib"; dd if=/dev/sda1 bs=1M skip=$mib count=1 2>/dev/null | od -An -v -tx1 | sort -u; end
    rm /mnt/d/trimme.bin; sync
    section volume-trim; $F/zel_rig_probe --volume-trim C:; echo "exit=$?"; end
    sync; echo 3 > /proc/sys/vm/drop_caches
    section trim-file-after; dd if=/dev/sda1 bs=1M skip=$mib count=1 2>/dev/null | od -An -v -tx1 | sort -u; end
  fi
  # Firmware: an image sent with DOWNLOAD MICROCODE to the emulated SATA
  # disk, which does not take the command. The drive's abort must read as a
  # failure; hdparm on the same disk and image for comparison.
  if true; then
    dd if=/dev/zero bs=1024 count=40 2>/dev/null | tr '\000' 'F' > /tmp/rig-fw.vic
    program zelvane-firmware-0 $F/zelvane --json firmware 0 --file /tmp/rig-fw.vic --yes
    section zelvane-firmware-log; grep -a -i "microcode" $F/zelvane.log 2>/dev/null | tail -n 5; end
    section hdparm-fwdownload
    hdparm --fwdownload /tmp/rig-fw.vic --yes-i-know-what-i-am-doing --please-destroy-my-drive /dev/sda 2>&1
    echo "exit=$?"
    end
  fi
  # Alert thresholds through the real settings store, then one round of the
  # monitor reading them back with the two drives.
  program zelvane-alerts-set $F/zelvane --json alerts --temperature 65 --remaining-life 5
  program zelvane-alerts-show $F/zelvane --json alerts
  program zelvane-monitor-once $F/zelvane monitor --once
  # Security erase checks (last: they unmount the FAT volume). The erase of
  # the SATA disk must refuse at the partition check while its volume is
  # mounted, then, unmounted, at the security feature set QEMU's disk does
  # not have; the trace log shows what the runs sent.
  if [ -b /dev/sda ]; then
    # zelvane.log collects every run's lines: start it empty for each erase.
    : > $F/zelvane.log
    program zelvane-erase-mounted $F/zelvane --json erase 0 --confirm-serial none
    section zelvane-erase-mounted-log; tr -d '\r' < $F/zelvane.log; end
    umount /mnt/d
    : > $F/zelvane.log
    program zelvane-erase-unmounted $F/zelvane --json erase 0 --confirm-serial none
    section zelvane-erase-unmounted-log; tr -d '\r' < $F/zelvane.log; end
  fi
fi

if [ -x $F/SSDZelvane ]; then
  # The criteria file, in the current directory, from what the SATA drive
  # has: its identity from smartctl, its size from sysfs, the thresholds of
  # attributes 190 and 9 from smartctl's table.
  mkdir -p /tmp/dvt && cd /tmp/dvt
  text() { sed -n "s/^  \"$1\": \"\(.*\)\",\$/\1/p" /tmp/smartctl.json; }
  thresh() {
    awk -v id="$1" '/"ata_smart_attributes"/ { a = 1 }
                    a && $0 ~ "\"id\": " id "," { f = 1 }
                    f && /"thresh":/ { gsub(/[^0-9]/, ""); print; exit }' /tmp/smartctl.json
  }
  printf '#SMART start\r\nBE,64,1,%X,1,64,0,Temperature,\r\n09,64,1,%X,4,FFFFFFFF,0,,\r\n#SMART end\r\n#Identify start\r\n27-46,%s\r\n23-26,%s\r\n100-103,0x%016X\r\n83,14,1\r\n#Identify end\r\n' \
    "$(thresh 190)" "$(thresh 9)" "$(text model_name)" "$(text firmware_version)" "$(cat /sys/block/sda/size)" \
    > ZelvaneDvtRig.txt
  section dvt-criteria; cat ZelvaneDvtRig.txt; end
  rm -f $F/SSDZelvane*.log
  section ssdzelvane-dvt; $F/SSDZelvane -dvt 0 2>&1; echo "exit=$?"; end
  # The result files beside the program; of its trace log the lines of the verification.
  section ssdzelvane-files
  for f in $F/SSDZelvane*.log; do
    echo "== $(basename "$f")"
    case "$f" in */SSDZelvane.log) grep DVT "$f" ;; *) cat "$f" ;; esac
  done
  end
fi
