#!/usr/bin/env bash
# Renders the alarm window with Japanese texts under Xvfb into PNGs
# (build/screenshots/alarm*.png) to look at by eye: one full alarm, one
# with the longest subject and place the client sends and no description.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
OUT_DIR="${1:-$BUILD_DIR/screenshots}"
mkdir -p "$OUT_DIR"
cmake --build "$BUILD_DIR" --target alarm_snapshot >/dev/null
snap() {
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
    "$BUILD_DIR/tests/alarm/alarm_snapshot" "$@"
}
snap "$OUT_DIR/alarm.png" \
  -S "月例プロジェクト会議（第３四半期の予算見直し）" \
  -T "2024/07/16 10:00:00 - 2024/07/16 11:30:00" \
  -P "本社 ８階 第一会議室" \
  -D "$(printf '議題:\n1. 予算案の確認\n2. スケジュールの調整\n3. その他（ｶﾅ半角もこのとおり）')"
# 63 double-byte characters: the 127-byte subject limit.
long="$(printf '長い件名の予定%.0s' 1 2 3 4 5 6 7 8 9)"
snap "$OUT_DIR/alarm_long.png" -S "$long" -T "2024/07/16 00:00:00 - 2024/07/18 23:59:59" \
  -P "$long"
ls "$OUT_DIR"/alarm*.png
