#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need,
# and only those that are missing.
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config git
  libsqlite3-dev sqlite3 libxxhash-dev libpq-dev postgresql
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libical-dev
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n qtkeychain-qt6-dev libsodium-dev
  poppler-utils xdg-utils desktop-file-utils appstream
  fonts-noto-cjk xvfb xauth dbus-daemon
  clang libclang-rt-14-dev python3
  dpkg-dev fakeroot lintian file gzip
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
