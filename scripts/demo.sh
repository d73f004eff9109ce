#!/usr/bin/env bash
# Installs, builds, and configures a simulated Spartan-II with vokusb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
bin=$PWD/build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$bin/vokbench" mkbit --part 2s100 -o design.bit --design demo
echo "chain 2s100" > bench.cfg
"$bin/vokusb" design.bit -driver "$bin/vok_sim"
