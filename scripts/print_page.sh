#!/usr/bin/env bash
# Prints one page of the real window (month, week or day view of a demo
# store) to PDF and turns it into PNG with pdftoppm.
# Usage: scripts/print_page.sh [OUTDIR] [month|week|day]; TODAY and SELECT as in screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
OUT="$(realpath -m "${1:-$BUILD_DIR/printed}")"
MODE="${2:-month}"
cmake --build "$BUILD_DIR" --target kalvane_shots
mkdir -p "$OUT"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" \
  "$BUILD_DIR/tests/app/kalvane_shots" ${TODAY:+--today "$TODAY"} ${SELECT:+--select "$SELECT"} print "$OUT/page-$MODE.pdf" "$MODE"
pdftoppm -png -r 100 -singlefile "$OUT/page-$MODE.pdf" "$OUT/page-$MODE"
echo "$OUT/page-$MODE.png"
