#!/bin/sh
# Diagnostic run: prints what the kernel answers to the raw commands the
# plug-ins send, for each kind of disk the guest has. Not part of the verdicts.
sg_of() { # sg node of the disk whose model starts with $1
  for d in /sys/class/scsi_generic/sg*; do
    if grep -q "^$1" "$d/device/model" 2>/dev/null; then echo "/dev/${d##*/}"; return; fi
  done
}
blk_of() { ls "/sys/class/scsi_generic/${1#/dev/}/device/block/" 2>/dev/null; }
P=/bin/sgio_probe
for m in "VT IDE" "VT AHCI" "Generic SATA" "SD-DEBUG" "SAS-910" "USB-50"; do
  echo "disk '$m' sg=$(sg_of "$m") block=$(blk_of "$(sg_of "$m")")"
done
for m in "VT IDE" "VT AHCI"; do
  sg=$(sg_of "$m")
  echo "== $m ($sg) IDENTIFY no CK_COND";   $P sg $sg in 512 85 08 0e 00 00 00 01 00 00 00 00 00 00 40 ec 00
  echo "== $m ($sg) IDENTIFY CK_COND";      $P sg $sg in 512 85 08 2e 00 00 00 01 00 00 00 00 00 00 40 ec 00
  echo "== $m ($sg) CHECK POWER MODE CK_COND"; $P sg $sg none 0 85 06 20 00 00 00 00 00 00 00 00 00 00 40 e5 00
  echo "== $m ($sg) DOWNLOAD MICROCODE 07 1 blk";  $P sg $sg out 512 85 0a 06 00 07 00 01 00 00 00 00 00 00 40 92 00
  echo "== $m ($sg) DOWNLOAD MICROCODE 03 1 blk";  $P sg $sg out 512 85 0a 06 00 03 00 01 00 00 00 00 00 00 40 92 00
  echo "== $m ($sg) DOWNLOAD MICROCODE 07 CK_COND"; $P sg $sg out 512 85 0a 26 00 07 00 01 00 00 00 00 00 00 40 92 00
  echo "== $m ($sg) DOWNLOAD MICROCODE 07 lba 33:22:11"; $P sg $sg out 512 85 0a 06 00 07 00 01 00 11 00 22 00 33 40 92 00
  echo "== $m ($sg) READ VERIFY EXT past the end, lba 0x0102030405"; $P sg $sg none 0 85 07 20 00 00 00 01 01 05 02 04 00 03 40 42 00
  echo "== $m ($sg) PT12 DOWNLOAD MICROCODE 07"; $P sg $sg out 512 a1 0a 06 07 01 00 00 00 40 92 00 00
done
for m in "SAS-910" "SD-DEBUG"; do
  sg=$(sg_of "$m")
  for mode in 05 07; do
    echo "== $m ($sg) WRITE BUFFER mode $mode"; $P sg $sg out 512 3b $mode 00 00 00 00 00 02 00 00
    echo "== $m ($sg) TEST UNIT READY after";  $P sg $sg none 0 00 00 00 00 00 00
    echo "== $m ($sg) TEST UNIT READY again";  $P sg $sg none 0 00 00 00 00 00 00
  done
  echo "== $m ($sg) WRITE BUFFER mode 07 then INQUIRY"; $P sg $sg out 512 3b 07 00 00 00 00 00 02 00 00
  $P sg $sg in 96 12 00 00 00 60 00
  $P sg $sg in 96 12 00 00 00 60 00
done
usb=$(sg_of "USB-50"); ub=$(blk_of "$usb")
echo "== usb $usb $ub max_hw_sectors_kb=$(cat /sys/block/$ub/queue/max_hw_sectors_kb) max_sectors_kb=$(cat /sys/block/$ub/queue/max_sectors_kb) max_segments=$(cat /sys/block/$ub/queue/max_segments) max_segment_size=$(cat /sys/block/$ub/queue/max_segment_size)"
echo "== usb READ(10) 120 KiB";  $P sg $usb in 122880 28 00 00 00 00 00 00 00 f0 00
echo "== usb READ(10) 128 KiB";  $P sg $usb in 131072 28 00 00 00 00 00 00 01 00 00
echo "== usb sd node READ(10) 128 KiB"; $P sg /dev/$ub in 131072 28 00 00 00 00 00 00 01 00 00
echo "== usb ATA PT IDENTIFY"; $P sg $usb in 512 85 08 0e 00 00 00 01 00 00 00 00 00 00 40 ec 00
for b in /sys/block/sd*; do echo "queue $(basename $b) $(cat $b/device/model) max_hw=$(cat $b/queue/max_hw_sectors_kb)"; done | sort -u -k3 | head -20
echo "== udev usb"; udevadm info -q property -n /dev/$ub
echo "== udev ahci"; udevadm info -q property -n /dev/$(blk_of "$(sg_of "VT AHCI")")
echo "== udev nvme"; for n in /dev/nvme*n1; do udevadm info -q property -n $n; echo; done
echo "== nvme sysfs"
for c in /sys/class/nvme/nvme*; do
  echo "$c -> $(readlink -f $c) transport=$(cat $c/transport) state=$(cat $c/state) model=$(cat $c/model) serial=$(cat $c/serial) cntlid=$(cat $c/cntlid) subsysnqn=$(cat $c/subsysnqn) address=$(cat $c/address 2>/dev/null)"
  ls $c
done
for s in /sys/class/nvme-subsystem/*; do echo "$s -> $(readlink -f $s)"; ls -l $s/; cat $s/iopolicy 2>/dev/null; done
for b in /sys/block/nvme*; do
  echo "$b -> $(readlink -f $b)"; ls $b; echo "device -> $(readlink -f $b/device)"; ls $b/multipath 2>/dev/null | sed 's/^/  multipath: /'
  ls -l $b/multipath/ 2>/dev/null
done
ls -l /sys/class/block/ | grep nvme
ls -l /dev/disk/by-id/ /dev/disk/by-path/ 2>/dev/null
for c in /dev/nvme[0-9]*; do
  case ${c#/dev/nvme} in *n*) continue;; esac
  echo "== $c model=$(cat /sys/class/nvme/${c#/dev/}/model) Firmware Image Download 4 KiB"; $P nvme $c 0x11 1023 0 4096
  echo "== $c Firmware Commit slot 1 action 1"; $P nvme $c 0x10 0x9 0 0
  echo "== $c Firmware Commit slot 1 action 3"; $P nvme $c 0x10 0x19 0 0
  echo "== $c Firmware Commit slot 0 action 1"; $P nvme $c 0x10 0x8 0 0
  echo "== $c Identify controller frmw/oacs"; nvme id-ctrl $c 2>&1 | grep -E "^(mn|fr|oacs|frmw|fwug|cmic|ieee|mdts) " 
done
for n in /dev/nvme*n1; do echo "== admin through namespace $n"; $P nvme $n 0x10 0x8 0 0; done
lsblk 2>/dev/null
cat /proc/partitions
echo "== firmstep -list"; cd /opt/firmstep/bin && ./firmstep -list; echo "rc=$?"
