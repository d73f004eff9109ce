#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, when it is missing.
#   scripts/setup.sh           everything: the build and the tests
#   scripts/setup.sh --demo    only what building vokusb, the drivers and vokbench needs
#   scripts/setup.sh [--demo] PACKAGE...   the same, and these packages too
set -euo pipefail
# The build: the program, the drivers (firmware by SDCC and python3, libusb) and vokbench
# (CLI11, JSON).
packages=(cmake g++ make pkg-config python3 sdcc libusb-1.0-0-dev libcli11-dev nlohmann-json3-dev)
# The tests, on top; the guest that vokbench run --vm boots (QEMU, busybox, udev, and
# libusbredirparser for vokbench's side of usbredir).
test_packages=(libgtest-dev libgmock-dev libusbredirparser-dev qemu-system-x86 busybox-static udev xz-utils)
if [ "${1:-}" = --demo ]; then shift; else packages+=("${test_packages[@]}"); fi
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
