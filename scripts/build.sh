#!/usr/bin/env bash
# Configures and builds the driver.  BUILD_DIR and extra CMake arguments
# may be given: scripts/build.sh build-test -DTARN_SANITIZE=ON
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${1:-build}"
shift || true
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$ROOT/$BUILD_DIR" ;; esac
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
# TARN_BUILD_TARGETS limits the build (e.g. "tarndrv" for the driver alone).
# shellcheck disable=SC2086
cmake --build "$BUILD_DIR" -j "$(nproc)" ${TARN_BUILD_TARGETS:+--target $TARN_BUILD_TARGETS}
