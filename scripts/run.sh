#!/usr/bin/env bash
# Installs what is missing, builds the calendar, its alarm program and its
# help page (nothing else: the tests are built by scripts/test.sh), and
# starts the calendar.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# The help page is copied beside the client when the build is configured.
TARGETS="kalvane kv_alarm" scripts/build.sh
KALVANE="${BUILD_DIR:-build}/app/kalvane"
if [ -x "$KALVANE" ]; then
  exec "$KALVANE" "$@"
else
  echo "$KALVANE was not built; see the build output above." >&2
  exit 1
fi
