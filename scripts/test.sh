#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest,
# then a bounded fuzzing run of the wire readers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
(cd build && ctest --output-on-failure -j "${JOBS:-2}" --timeout 900)
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
if [ "$FUZZ_SECONDS" -gt 0 ]; then
  sh tests/sync/fuzz/run_fuzz.sh "$FUZZ_SECONDS" "$PWD/build-fuzz"
fi
