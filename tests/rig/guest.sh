#!/bin/sh
# The rig's one guest script: the oracles and the system's own programs on
# the same emulated drives, each answer in its own section for the host-side
# comparison (tests/rig/compare).
F=/guest/files
section() { echo "=====SECTION $1====="; }
end() { echo "=====END====="; }

section smartctl-sata; smartctl -a -j /dev/sda; end
section nvme-id-ctrl; nvme id-ctrl /dev/nvme0 -o json; end
section nvme-smart-log; nvme smart-log /dev/nvme0 -o json; end
section sysfs
for f in class current_link_speed current_link_width max_link_speed max_link_width; do
  echo "nvme.$f=$(cat /sys/bus/pci/devices/0000:01:00.0/$f)"
done
echo "ahci.class=$(cat /sys/bus/pci/devices/0000:00:1f.2/class)"
echo "sda.size=$(cat /sys/block/sda/size)"
echo "nvme0n1.size=$(cat /sys/block/nvme0n1/size)"
end

# A pattern on LBA 96..111; the probe trims 100..107; then read it back past the cache.
dd if=/dev/zero bs=512 count=16 2>/dev/null | tr '\000' 'A' | dd of=/dev/sda bs=512 seek=96 conv=fsync 2>/dev/null
section probe; $F/zel_rig_probe --trim 100 8; end
sync; echo 3 > /proc/sys/vm/drop_caches
section trim-readback; dd if=/dev/sda bs=512 skip=96 count=16 2>/dev/null | od -An -v -tx1; end

# The system's own operations over the Linux platform; its TRIM takes LBA 200..203.
dd if=/dev/zero bs=512 count=8 2>/dev/null | tr '\000' 'B' | dd of=/dev/sda bs=512 seek=198 conv=fsync 2>/dev/null
# A criteria file for the rig's SATA drive (lines end with CR LF).
printf '#SMART start\r\nBE,64,1,32,1,64,0,Temperature,\r\n09,64,1,0,4,FFFFFFFF,0,,\r\n#SMART end\r\n#Identify start\r\n27-46,QUARN SSD KD765 256GB\r\n100-103,0x0000000000200000\r\n83,14,1\r\n#Identify end\r\n' > /tmp/ZelvaneDvtRig.txt
section system; (cd /tmp && $F/zel_rig_probe --system --trim 200 4 --dvt /tmp/ZelvaneDvtRig.txt); end
section dvt-files; for f in $F/*.log; do echo "== $(basename "$f")"; cat "$f"; done; end
sync; echo 3 > /proc/sys/vm/drop_caches
section system-trim-readback; dd if=/dev/sda bs=512 skip=198 count=8 2>/dev/null | od -An -v -tx1; end

# The programs themselves on the real machine of the guest, where they are built.
if [ -x $F/zelvane ]; then
  section zelvane-list; (cd /tmp && $F/zelvane --json list; echo "exit=$?"); end
  section zelvane-info; (cd /tmp && $F/zelvane --json info 0; echo "exit=$?"); end
  section zelvane-details; (cd /tmp && $F/zelvane --json details 0 --smart; echo "exit=$?"); end
fi
