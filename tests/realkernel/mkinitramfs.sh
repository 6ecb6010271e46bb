#!/usr/bin/env bash
# Builds the guest's initramfs: busybox, the kernel modules the drives need (with
# their dependencies), the host's udev so that the guest's libudev sees the same
# properties and links as on an installed system, the firmstep tree from a build
# directory with the shared libraries it loads, and the guest scripts.
#
#   mkinitramfs.sh KERNEL_VERSION BUILD_DIR OUTPUT [EXTRA_BINARY...]
# Extra binaries land in the guest's /bin.
set -euo pipefail
kver=$1 build="$(realpath "$2")" out=$3
shift 3
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT

# Copies the shared libraries a binary loads, except those of the build tree, to
# their own paths under the stage.
copy_libs_of() {
  local lib
  for lib in $(ldd "$1" 2>/dev/null | awk '/=> \//{print $3} $1 ~ /^\//{print $1}'); do
    case "$lib" in "$build"/*) continue ;; esac
    [ -e "$stage$lib" ] || install -D -m 0755 "$lib" "$stage$lib"
  done
}

# Copies binaries to the same paths under the stage, with their libraries.
copy_with_libs() {
  local f
  for f in "$@"; do
    install -D -m 0755 "$f" "$stage$f"
    copy_libs_of "$f"
  done
}

mkdir -p "$stage"/{bin,sbin,dev,proc,sys,run,tmp,etc/udev,opt/firmstep/bin,opt/firmstep/lib/corvane-plugins}
install -m 0755 /bin/busybox "$stage/bin/busybox"

# Modules: the kernel's storage, USB and NVMe stacks, scsi_debug and the NVMe
# target with its TCP transport. modprobe resolves each one's dependencies.
modules=(libata ata_piix ahci sd_mod sg virtio_pci virtio_scsi xhci_pci ehci_pci usb_storage nvme nvme_core
         scsi_debug nvmet nvmet_tcp nvme_tcp nvme_fabrics crc32c_generic crc32c_intel configfs)
for m in "${modules[@]}"; do
  modprobe -S "$kver" --show-depends "$m" 2>/dev/null | awk '$1=="insmod"{print $2}'
done | sort -u | while read -r ko; do
  install -D -m 0644 "$ko" "$stage$ko"
done
cp /lib/modules/"$kver"/modules.{order,builtin,builtin.modinfo} "$stage/lib/modules/$kver/" 2>/dev/null || true
depmod -b "$stage" "$kver"
copy_with_libs /bin/kmod
ln -s /bin/kmod "$stage/sbin/modprobe"

# udev: the daemon, udevadm, its helpers and rules.
copy_with_libs /lib/systemd/systemd-udevd /bin/udevadm /lib/udev/ata_id /lib/udev/scsi_id
cp -r /lib/udev/rules.d "$stage/lib/udev/"
[ -f /lib/udev/hwdb.bin ] && cp /lib/udev/hwdb.bin "$stage/lib/udev/"
printf 'root:x:0:0:root:/root:/bin/sh\n' >"$stage/etc/passwd"
printf 'root:x:0:\ndisk:x:6:\ntape:x:26:\ncdrom:x:24:\ndialout:x:20:\n' >"$stage/etc/group"

# firmstep as the build tree lays it out.
install -m 0755 "$build/bin/firmstep" "$stage/opt/firmstep/bin/"
install -m 0644 "$build/bin/firmstep.ini" "$stage/opt/firmstep/bin/"
cp "$build"/lib/*.so "$stage/opt/firmstep/lib/"
cp "$build"/lib/corvane-plugins/*.so "$stage/opt/firmstep/lib/corvane-plugins/"
for f in "$build/bin/firmstep" "$build"/lib/*.so "$build"/lib/corvane-plugins/*.so; do
  copy_libs_of "$f"
done

for extra in "$@"; do
  install -m 0755 "$extra" "$stage/bin/"
  copy_libs_of "$extra"
done

install -m 0755 "$here/guest/init" "$stage/init"
cp "$here"/guest/*.sh "$stage/bin/" 2>/dev/null || true
(cd "$stage" && find . | cpio -o -H newc --quiet) | gzip -1 >"$out"
