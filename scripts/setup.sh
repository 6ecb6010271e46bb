#!/usr/bin/env bash
# Installs the Debian packages that building and testing need. Safe to run again.
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev pkg-config libudev-dev umockdev libumockdev-dev nlohmann-json3-dev python3-jsonschema)
# Installed without their recommendations: ansible-core's pulls in every collection.
lean=(ansible-core)
missing=()
missing_lean=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
for p in "${lean[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing_lean+=("$p")
done
if ((${#missing[@]} + ${#missing_lean[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  if ((${#missing[@]})); then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
  fi
  if ((${#missing_lean[@]})); then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing_lean[@]}"
  fi
fi
