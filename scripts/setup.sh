#!/usr/bin/env bash
# Installs the Debian 12 packages that vok needs to build, run and test.
# Runs apt-get only for packages that are missing; uses sudo when not root.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n
  libsqlite3-dev sqlite3 unixodbc unixodbc-dev libsodium-dev libxlsxwriter-dev
  fonts-arphic-ukai fonts-arphic-uming fonts-wqy-zenhei fonts-liberation2
  postgresql odbc-postgresql
  xvfb xauth dbus poppler-utils clang-format python3-openpyxl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
