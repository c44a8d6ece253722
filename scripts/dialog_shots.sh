#!/usr/bin/env bash
# Pictures of the item dialogs under Xvfb, into $1 (default build/shots).
set -euo pipefail
cd "$(dirname "$0")/.."
OUT="${1:-build/shots}"
mkdir -p "$OUT"
cmake --build "${BUILD_DIR:-build}" --target dialog_shots
xvfb-run -a "${BUILD_DIR:-build}/tests/dialogs/dialog_shots" "$OUT"
ls "$OUT"
