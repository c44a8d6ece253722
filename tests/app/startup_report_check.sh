#!/bin/sh
# Starts a client offscreen in a scratch home with KV_STARTUP_REPORT=1 and
# checks that it started, found its alarm program and help page in its own
# folder, loaded Qt's Japanese texts, and that the alarm program it names
# runs. Usage: startup_report_check.sh CLIENT EXPECTED_FOLDER VERSION
set -eu
client="$1"
folder="$2"
version="$3"
fail() { echo "startup check: $*" >&2; exit 1; }
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# No session bus: the run never reaches a real secret service. The timeout
# is only a watchdog: the client closes itself once it has reported.
HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/no-bus" QT_QPA_PLATFORM=offscreen \
  KV_STARTUP_REPORT=1 timeout 120 "$client" > "$scratch/report" 2> "$scratch/err" \
  || { cat "$scratch/err" >&2; fail "$client did not start and end cleanly"; }
python3 - "$scratch/report" "$folder" "$version" <<'PY' || fail "report: $(cat "$scratch/report")"
import json, os, sys
lines = [l for l in open(sys.argv[1], encoding="utf-8") if l.startswith("{")]
assert len(lines) == 1, "expected one report line"
r = json.loads(lines[0])
folder = os.path.realpath(sys.argv[2])
assert r["version"] == sys.argv[3], "version %r" % r["version"]
assert os.path.realpath(r["program_folder"]) == folder, "program folder %r" % r["program_folder"]
assert r["alarm_program"] == r["program_folder"] + "/QvxAlarm.exe"
assert r["alarm_program_executable"] is True, "alarm program not found"
assert r["help_page_readable"] is True, "help page not found"
assert r["qt_translations"] >= 1, "Qt's Japanese texts not loaded"
PY
ls "$scratch"/data/Brenlow/Quillon/*.mdb > /dev/null 2>&1 || fail "no store made in the scratch home"
"$folder/QvxAlarm.exe" --help | grep -q 'QvxAlarm.exe -S' || fail "the alarm program does not run"
echo "startup check: ok ($client)"
