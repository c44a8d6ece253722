#!/usr/bin/env bash
# Installs what is missing, builds, runs a bounded fuzzing run of the wire
# readers, then every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
if [ "$FUZZ_SECONDS" -gt 0 ]; then
  sh tests/sync/fuzz/run_fuzz.sh "$FUZZ_SECONDS" "$PWD/build-fuzz" 2>&1 | tail -n 20
fi
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
cd build
ctest --output-on-failure -j "${JOBS:-2}" --timeout 900
