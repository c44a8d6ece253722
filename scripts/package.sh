#!/usr/bin/env bash
# Builds the Debian packages kalvane and kalvane-server: a Release build
# for /usr in build-pkg/ (or $PKG_BUILD_DIR) with Debian's hardening flags,
# then CPack's DEB generator. The .deb files land in $PKG_BUILD_DIR/packages
# and their paths are printed last.
set -euo pipefail
cd "$(dirname "$0")/.."
PKG_BUILD_DIR="$(realpath -m "${PKG_BUILD_DIR:-build-pkg}")"
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$PKG_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DKALVANE_BUILD_TESTS=OFF -DKALVANE_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build "$PKG_BUILD_DIR" -j "${JOBS:-2}"
rm -rf "$PKG_BUILD_DIR/packages"
(cd "$PKG_BUILD_DIR" && cpack -G DEB -B "$PWD/packages" >/dev/null)
# CPack keeps its staging folder beside the packages.
rm -rf "$PKG_BUILD_DIR/packages/_CPack_Packages"
ls -1 "$PKG_BUILD_DIR"/packages/*.deb
