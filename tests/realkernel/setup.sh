#!/usr/bin/env bash
# Installs what the real-kernel suite needs: QEMU, the distribution's kernel
# with its modules, a static busybox for the guest and udev (whose daemon the
# guest runs). Safe to run again. It prints nothing: when it cannot install,
# run.sh's one line names what is missing (the apt output is kept in
# /tmp/realkernel-setup.log).
set -uo pipefail
pkgs=(qemu-system-x86 linux-image-amd64 busybox-static udev kmod cpio)
missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
((${#missing[@]})) || exit 0
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
if ! { $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
         --no-install-recommends "${missing[@]}"; } >/tmp/realkernel-setup.log 2>&1; then
  exit 1
fi
