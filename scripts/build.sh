#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR): everything, or only
# the targets named in $TARGETS (separated by blanks).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@"
read -r -a targets <<< "${TARGETS:-}"
cmake --build "$BUILD_DIR" -j "${JOBS:-2}" ${targets[@]+--target "${targets[@]}"}
