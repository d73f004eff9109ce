#!/usr/bin/env bash
# Installs, builds and runs the whole suite, then again under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# The peer tools that tests/peers runs against the bench (each of its tests skips without its tool).
dpkg -s xc3sprog urjtag openocd >/dev/null 2>&1 || { s=$([ "$(id -u)" -eq 0 ] || echo sudo); { $s apt-get update && DEBIAN_FRONTEND=noninteractive $s apt-get install -y --no-install-recommends xc3sprog urjtag openocd; } || echo "peer tools not installed: their tests will be skipped"; }
# What the package test builds and checks the package with (dpkg-dev, lintian, man-db).
scripts/package.sh --setup
jobs=$(nproc)

scripts/build.sh build -DBUILD_TESTING=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=OFF
# The guest image of the vm tests (Debian's kernel, downloaded once into a cache).
build/share/vokusb/vokbench-guest-image >/dev/null || echo "no guest image: the vm tests will fail"
ctest --test-dir build --output-on-failure -j "$jobs"

# The demo's build (demo_build) and the package have no sanitizer in them, and the guest
# runs (label vm) spend their time in QEMU: the first run covers them.
scripts/build.sh build-asan -DVOK_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -E '^demo_build$' -LE '^(vm|package)$'

# The threaded EZ-USB access layer under ThreadSanitizer: its own tests, and the two
# drivers that run it over the stand-in USB seam.
cmake -S . -B build-tsan -DVOK_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-tsan -j "$jobs" --target vok_usb_access_tests vok_usb_unit_tests vok_usb2_unit_tests
ctest --test-dir build-tsan -R '^vok_usb\.(AccessLayer|VokUsbWire)|^vok_usb2\.VokUsb2\.' --output-on-failure -j "$jobs"
