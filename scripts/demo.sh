#!/usr/bin/env bash
# Installs, builds, and configures a simulated Spartan-II with vokusb through a simulated
# Xilinx parallel cable on the bench.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
bin=$PWD/build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$bin/vokbench" mkbit --part 2s100 -o design.bit --design demo
"$bin/vokbench" run --chain 2s100 --port 0x378:xilinx -- "$bin/vokusb" design.bit -driver vok_xpar
