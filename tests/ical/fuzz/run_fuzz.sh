#!/bin/sh
# Builds the iCalendar reader fuzzer with clang in its own build folder and runs it.
# Usage: tests/ical/fuzz/run_fuzz.sh [seconds] [build-dir]
set -eu
SECONDS_TO_RUN=${1:-60}
ROOT=${KV_SOURCE:-$(cd "$(dirname "$0")/../../.." && pwd)}
BUILD=${2:-$ROOT/build-fuzz}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVANE_FUZZ=ON -DKALVANE_BUILD_GUI=OFF \
  -DKALVANE_BUILD_TESTS=ON -DKALVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j2 --target ics_fuzz
CORPUS="$BUILD/ics_fuzz_corpus"
mkdir -p "$CORPUS"
cp "$ROOT"/tests/ical/fuzz/seeds/* "$CORPUS"/
FUZZER=$(find "$BUILD" -type f -name ics_fuzz -perm -u+x | head -n 1)
"$FUZZER" -max_total_time="$SECONDS_TO_RUN" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
  -dict="$ROOT/tests/ical/fuzz/ics.dict" "$CORPUS"
