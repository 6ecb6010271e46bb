#!/usr/bin/env bash
# The real-kernel suite: boots the distribution's kernel in QEMU with disks of
# every kind QEMU and the kernel offer (IDE, AHCI, virtio-scsi, USB mass
# storage, NVMe with and without a multi-controller subsystem, scsi_debug, an
# NVMe/TCP target), runs the built firmstep inside the guest against the
# kernel's own libata, SCSI, sg, usb-storage and NVMe code, and judges what it
# printed (check.sh).
#
#   tests/realkernel/run.sh [--build DIR] [--probe] [--keep DIR]
#
# --build DIR  the build tree whose firmstep runs in the guest (default: build)
# --probe      instead of the suite, print the kernel's raw answers to the
#              commands the plug-ins send (a diagnostic; see sgio_probe.c)
# --keep DIR   keep the console log and the scenario outputs in DIR
#
# The first line printed says whether the suite runs and how (KVM or TCG), or
# why it is skipped. Exit status: 0 passed or skipped, 1 an assertion failed,
# 2 the guest did not run to its end.
set -uo pipefail
export PATH="$PATH:/usr/sbin:/sbin"  # depmod and modprobe
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$root/build" mode=suite keep=""
while (($#)); do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --probe) mode=probe; shift ;;
    --keep) keep="$2"; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--probe] [--keep DIR]" >&2; exit 2 ;;
  esac
done
# How long the guest may take before it counts as hung.
guest_bound=${REALKERNEL_TIMEOUT:-480}

skip() { echo "realkernel: skipped ($1)"; exit 0; }
command -v qemu-system-x86_64 >/dev/null || skip "no qemu-system-x86_64"
kernel=""
for k in $(ls -1 /boot/vmlinuz-* 2>/dev/null | sort -V -r); do
  if [ -d "/lib/modules/${k#/boot/vmlinuz-}/kernel" ]; then kernel=$k; break; fi
done
[ -n "$kernel" ] || skip "no kernel image with its modules in /boot and /lib/modules"
kver=${kernel#/boot/vmlinuz-}
[ -r "$kernel" ] || skip "kernel image $kernel not readable"
for tool in busybox depmod modprobe cpio /lib/systemd/systemd-udevd udevadm; do
  command -v "$tool" >/dev/null || skip "no $tool"
done
[ -x "$build/bin/firmstep" ] || skip "no firmstep in $build/bin (build first)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
qemu_base=(qemu-system-x86_64 -machine pc -m 1024 -smp 2 -display none -no-reboot -nodefaults
           -kernel "$kernel" -serial "file:$work/console.log")

# KVM is used only when a guest really boots with it: on some hosts /dev/kvm
# opens but a guest never starts. A tiny initramfs answers within seconds.
accel=tcg
if [ -w /dev/kvm ]; then
  mkdir -p "$work/kvm/bin" && cp "$(command -v busybox)" "$work/kvm/bin/busybox"
  printf '#!/bin/busybox sh\n/bin/busybox echo @@RK-KVM-OK >/dev/console\n/bin/busybox poweroff -f\n' >"$work/kvm/init"
  chmod +x "$work/kvm/init"
  (cd "$work/kvm" && find . | cpio -o -H newc --quiet | gzip -1 >"$work/kvm.cpio.gz")
  timeout 10 "${qemu_base[@]}" -accel kvm -cpu host -initrd "$work/kvm.cpio.gz" \
    -append "console=ttyS0 panic=-1 quiet" >/dev/null 2>&1
  grep -q "@@RK-KVM-OK" "$work/console.log" 2>/dev/null && accel=kvm
  rm -f "$work/console.log"
fi
echo "realkernel: running under ${accel^^} (kernel $kver, firmstep from $build)"

extras=()
if [ "$mode" = probe ]; then
  cc -O1 -Wall -Wextra -static -o "$work/sgio_probe" "$here/sgio_probe.c" || exit 2
  extras+=("$work/sgio_probe")
  command -v nvme >/dev/null && extras+=("$(command -v nvme)")
fi
"$here/mkinitramfs.sh" "$kver" "$build" "$work/initrd.cpio.gz" "${extras[@]}" || exit 2

source "$here/machine.sh"
cpu=(-cpu max)
[ "$accel" = kvm ] && cpu=(-cpu host)
# Kernel messages stay off the console in the suite, where they could split the
# lines that check.sh reads; the diagnostic run shows errors too.
loglevel=1
[ "$mode" = probe ] && loglevel=4
start=$(date +%s)
timeout "$guest_bound" "${qemu_base[@]}" -accel "$accel" "${cpu[@]}" -initrd "$work/initrd.cpio.gz" \
  -append "console=ttyS0 panic=-1 quiet loglevel=$loglevel rk.mode=$mode" "${qemu_drives[@]}" >"$work/qemu.out" 2>&1
qemu_status=$?
seconds=$(($(date +%s) - start))
[ -n "$keep" ] && mkdir -p "$keep" && cp "$work/console.log" "$keep/console.log" 2>/dev/null

if [ "$mode" = probe ]; then
  cat "$work/console.log"
  exit 0
fi
if ! grep -q "@@RK guest done" "$work/console.log" 2>/dev/null; then
  echo "realkernel: the guest did not finish (qemu status $qemu_status after ${seconds}s)"
  cat "$work/qemu.out"
  tail -n 40 "$work/console.log" 2>/dev/null
  echo "realkernel: 0 passed, 1 failed"
  exit 2
fi
echo "realkernel: guest ran ${seconds}s"
"$here/check.sh" "$work/console.log" ${keep:+"$keep"}
