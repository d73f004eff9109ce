#!/usr/bin/env bash
# Builds the package (lintian must find no error or warning), unpacks it into a
# temporary root with dpkg-deb -x and configures a bench FPGA with the unpacked
# programs and drivers. Needs no root and installs nothing.
#   unpacked_run.sh BUILD_DIR
set -euo pipefail
build=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
for tool in dpkg-deb dpkg-shlibdeps dpkg-buildflags file lintian man; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (scripts/package.sh --setup)"; exit 77; }
done
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

VOK_PACKAGE_SETUP=0 "$src/scripts/package.sh" --build-dir "$build" --out "$tmp" >"$tmp/package.log" 2>&1 ||
  { tail -40 "$tmp/package.log"; fail "scripts/package.sh"; }
deb=$(tail -1 "$tmp/package.log")
dpkg-deb -x "$deb" "$tmp/root"

for page in "$tmp"/root/usr/share/man/man1/*.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "${page##*/} renders with warnings: $warnings"
done

# The unpacked programs come first on PATH; the drivers and the ppdev library are
# found only through their place beside /usr/bin.
export PATH="$tmp/root/usr/bin:$PATH"
unset VOKBENCH
cd "$tmp"
vokbench mkbit --part 2s100 -o design.bit >/dev/null
status=0
vokbench run --chain 2s100 --port 0x378:xilinx -- vokusb design.bit -driver vok_xpar >run.log 2>&1 || status=$?
[ "$status" = 0 ] && grep -q '^Complete!' run.log && grep -q 'configured yes' run.log ||
  { cat run.log; fail "not configured (exit status $status)"; }
vokbench run --port 0x378:xilinx --ppdev -- true || fail "vokbench run --ppdev did not find vokbench_ppdev.so"

# The completion lists the drivers of the unpacked folder.
drivers=$(bash -c 'source "$1"; COMP_WORDS=(vokusb -driver vok_x); COMP_CWORD=2; _vokusb; echo "${COMPREPLY[*]}"' \
  _ "$tmp/root/usr/share/bash-completion/completions/vokusb")
[ "$drivers" = vok_xpar ] || fail "completion of '-driver vok_x' gave '$drivers'"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes; unpacked run configured"
