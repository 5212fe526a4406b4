#!/usr/bin/env bash
# Builds the Debian package of the driver and its setup library (release
# build, no sanitizers) and prints its path.
#   scripts/package.sh [BUILD_DIR]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${1:-$ROOT/build-pkg}"
TARN_BUILD_TARGETS="tarndrv tarndrvs" "$ROOT/scripts/build.sh" "$BUILD_DIR" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF
cd "$BUILD_DIR"
cpack -G DEB >/dev/null
ls "$BUILD_DIR"/*.deb
