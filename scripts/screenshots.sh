#!/usr/bin/env bash
# Screenshots of the month, week and day views of the real window, on a
# demo store in a scratch home, under Xvfb. Usage: scripts/screenshots.sh [OUTDIR]
# TODAY=YYYY/MM/DD fixes the calendar's today (and the demo items around it),
# SELECT=YYYY/MM/DD shows another day, SIZE=WxH sizes the window.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
OUT="$(realpath -m "${1:-$BUILD_DIR/screenshots}")"
cmake --build "$BUILD_DIR" --target kalvane_shots
mkdir -p "$OUT"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" \
  "$BUILD_DIR/tests/app/kalvane_shots" ${SIZE:+--size "$SIZE"} ${TODAY:+--today "$TODAY"} ${SELECT:+--select "$SELECT"} shots "$OUT"
