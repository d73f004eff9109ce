#!/usr/bin/env bash
# Builds the Debian package vokusb_VERSION_ARCH.deb from a Release build without the
# tests (hardened with Debian's build flags), checks it with lintian, and prints its path.
#   scripts/package.sh [--build-dir DIR] [--out DIR] [--no-lintian]
#        DIR defaults: build-deb/ and the repository's top folder
#   scripts/package.sh --setup    only installs what building and checking a package needs
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-deb
out=.
lintian=1
setup_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --no-lintian) lintian=0; shift ;;
    --setup) setup_only=1; shift ;;
    *) echo "usage: scripts/package.sh [--build-dir DIR] [--out DIR] [--no-lintian] | --setup" >&2; exit 2 ;;
  esac
done

# dpkg-dev computes the dependencies (dpkg-shlibdeps, with file telling CPack which
# files are programs) and gives the build flags;
# man-db renders the manual pages for the package test.
tools=(dpkg-dev file lintian man-db)
if [ "$setup_only" = 1 ] || [ "${VOK_PACKAGE_SETUP:-1}" = 1 ]; then
  scripts/setup.sh --demo "${tools[@]}"
  [ "$setup_only" = 0 ] || exit 0
fi

# Debian's flags with every hardening feature; CMake reads them when it first configures.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"
# The optimisation level is Debian's (-O2 in those flags), not the Release type's -O3.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/vokusb_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vokusb_*.deb)
# CPack adds a post-removal script that runs ldconfig for any library under /usr/lib.
# Without it, removing the package leaves nothing behind, not even dpkg's record.
unpacked="$build/deb-unpacked"
rm -rf "$unpacked"
dpkg-deb -R "$deb" "$unpacked"
rm -f "$unpacked/DEBIAN/postrm"
dpkg-deb --root-owner-group -Zxz -b "$unpacked" "$deb" >/dev/null
rm -rf "$unpacked"
mkdir -p "$out"
cp "$deb" "$out/"
deb="$out/$(basename "$deb")"
if [ "$lintian" = 1 ]; then
  lintian --fail-on error,warning --display-info "$deb"
fi
echo "$deb"
