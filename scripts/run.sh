#!/usr/bin/env bash
# Installs what is missing, builds, and starts the calendar.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
if [ -x build/app/kalvane ]; then
  exec build/app/kalvane "$@"
else
  echo "The calendar window is not built yet; the core libraries, tests and tools are in build/."
fi
