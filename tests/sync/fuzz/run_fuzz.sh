#!/bin/sh
# Builds the record fuzzer with clang in its own build folder and runs it.
# Usage: tests/sync/fuzz/run_fuzz.sh [seconds] [build-dir]
set -eu
SECONDS_TO_RUN=${1:-60}
ROOT=${KV_SOURCE:-$(cd "$(dirname "$0")/../../.." && pwd)}
BUILD=${2:-$ROOT/build-fuzz}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVANE_FUZZ=ON -DKALVANE_BUILD_GUI=OFF \
  -DKALVANE_BUILD_TESTS=ON -DKALVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j2 --target record_fuzz
CORPUS="$BUILD/record_fuzz_corpus"
mkdir -p "$CORPUS"
# Seed with the shared record vectors (whole records, after a sign-in answer).
python3 - "$ROOT/tests/sync/vectors/records.txt" "$CORPUS" <<'PY'
import sys
path, out = sys.argv[1], sys.argv[2]
n, cur = 0, b""
for line in open(path):
    if line.startswith("hex "):
        cur += bytes(int(h, 16) for h in line.split()[1:])
    elif line.startswith("end"):
        open("%s/seed%02d" % (out, n), "wb").write(b"\0" * 16 + b"\n" + cur)
        n, cur = n + 1, b""
PY
FUZZER=$(find "$BUILD" -type f -name record_fuzz -perm -u+x | head -n 1)
"$FUZZER" -max_total_time="$SECONDS_TO_RUN" -max_len=8192 -timeout=10 -rss_limit_mb=2048 "$CORPUS"
