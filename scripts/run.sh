#!/usr/bin/env bash
# Installs what is missing, builds, and starts the calendar.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
KALVANE="${BUILD_DIR:-build}/app/kalvane"
if [ -x "$KALVANE" ]; then
  exec "$KALVANE" "$@"
else
  echo "$KALVANE was not built; see the build output above." >&2
  exit 1
fi
