#!/usr/bin/env bash
# Installs what the demo needs, builds vokusb, the drivers and vokbench (no tests) into
# build/, and configures simulated Spartan-IIs with vokusb through the simulated parallel
# cables of the bench (over JTAG through each cable, and in slave serial) and through an
# EZ-USB board that starts bare.
#   scripts/demo.sh --build-only    only the build, into a fresh temporary folder
#                                   that is removed afterwards (the test suite runs this)
set -euo pipefail
cd "$(dirname "$0")/.."
# GoogleTest stays out of the demo's build even where it is installed.
demo_build=(-DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON)

if [ "${1:-}" = --build-only ]; then
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  scripts/build.sh "$dir" "${demo_build[@]}"
  for f in vokusb vokbench vok_xpar.so vok_apar.so vok_usb.so vok_usb2.so vok_qrt.so; do
    [ -e "$dir/bin/$f" ] || { echo "demo build: $f is missing" >&2; exit 1; }
  done
  exit 0
fi

scripts/setup.sh --demo
scripts/build.sh build "${demo_build[@]}"
bin=$PWD/build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$bin/vokbench" mkbit --part 2s100 -o design.bit --design demo
"$bin/vokbench" run --chain 2s100 --port 0x378:xilinx -- "$bin/vokusb" design.bit -driver vok_xpar
"$bin/vokbench" run --chain 18v02,2s100 --port 0x378:altera -- "$bin/vokusb" design.bit -driver vok_apar
"$bin/vokbench" mkbit --part 2s50 -o serial.bit --design demo --startup cclk
"$bin/vokbench" run --chain 2s50 --port 0x378:xilinx-ss -- "$bin/vokusb" serial.bit -driver vok_xpar -mode sserial
# An EZ-USB board that starts bare: the driver downloads its firmware, the board renumerates.
"$bin/vokbench" run --chain 18v02,2s100 --usb 0:an2135sc-jtag -- "$bin/vokusb" design.bit -driver vok_usb
