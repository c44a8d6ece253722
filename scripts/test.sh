#!/usr/bin/env bash
# Installs what is missing, builds, runs a bounded fuzzing run of the wire
# readers and of the iCalendar reader, then every test through CTest, then
# the core's tests again under the address and undefined-behaviour
# sanitizers, then the Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
if [ "$FUZZ_SECONDS" -gt 0 ]; then
  sh tests/sync/fuzz/run_fuzz.sh "$FUZZ_SECONDS" "$PWD/build-fuzz" 2>&1 | tail -n 20
  sh tests/ical/fuzz/run_fuzz.sh "$FUZZ_SECONDS" "$PWD/build-fuzz" 2>&1 | tail -n 20
fi
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
(cd build && ctest --output-on-failure -j "${JOBS:-2}" --timeout 900)

# The core and its tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer (no GUI, no benchmarks), in build-asan/.
# Built with clang: a second compiler, and one that folds less before the
# checks are put in (g++ widens some overflowing products silently).
# SANITIZE=0 skips it.
if [ "${SANITIZE:-1}" != 0 ]; then
  SAN="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKALVANE_BUILD_GUI=OFF -DKALVANE_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$SAN" -DCMAKE_EXE_LINKER_FLAGS="$SAN" >/dev/null
  cmake --build build-asan -j "${JOBS:-2}"
  export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  (cd build-asan && ctest --output-on-failure -j "${JOBS:-2}" --timeout 1800)
fi

# The Debian packages: built, held to lintian, installed here, started,
# purged again (scripts/check_packages.sh; needs root or sudo).
# PACKAGES=0 skips it.
if [ "${PACKAGES:-1}" != 0 ]; then
  scripts/check_packages.sh
fi
