#!/usr/bin/env bash
# A screenshot of the other users' week of the real window under Xvfb: a
# reference server with four users is started on a free port, filled with
# a week of items, and the calendar of one of them shows the other three.
# Usage: scripts/screenshot-other-users.sh [OUT.png]; DAY=YYYY/MM/DD shows that day's week.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
OUT="$(realpath -m "${1:-$BUILD_DIR/screenshots/other-users.png}")"
cmake --build "$BUILD_DIR" --target kalvane-server kalvane_group_shot
mkdir -p "$(dirname "$OUT")"
scratch="$(mktemp -d)"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

server="$BUILD_DIR/server/kalvane-server"
db="$scratch/team.db"
echo pw-hanako | "$server" --db "$db" add-user hanako --display "佐藤花子" >/dev/null
echo pw-taro | "$server" --db "$db" add-user taro --display "山田太郎" >/dev/null
echo pw-jiro | "$server" --db "$db" add-user jiro --display "鈴木次郎" >/dev/null
echo pw-saburo | "$server" --db "$db" add-user saburo --display "高橋三郎" >/dev/null
"$server" --db "$db" grant hanako taro >/dev/null

"$server" --db "$db" serve --port 0 --fast-sync >"$scratch/server.log" 2>&1 &
server_pid=$!
port=""
for _ in $(seq 1 100); do
  port="$(sed -n 's/.* port \([0-9]*\)$/\1/p' "$scratch/server.log")"
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the server did not start" >&2; cat "$scratch/server.log" >&2; exit 1; }

# No session bus: the run never reaches the desktop's real secret service.
HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/no-bus" \
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" \
  "$BUILD_DIR/tests/group/kalvane_group_shot" "$port" "$OUT" ${DAY:+"$DAY"}
