#!/usr/bin/env bash
# Installs the Debian 12 packages that vok needs to build and run; the
# packages only the tests need are installed by scripts/test.sh.
# Runs apt-get only for packages that are missing; uses sudo when not root.
set -euo pipefail
. "$(dirname "$0")/packages.sh"

install_missing \
  cmake ninja-build g++ pkg-config \
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev libqt6opengl6-dev qt6-qpa-plugins qt6-translations-l10n \
  libsqlite3-dev unixodbc unixodbc-dev libsodium-dev zlib1g-dev libisal-dev libzint-dev libzip-dev libexpat1-dev \
  fonts-arphic-ukai fonts-arphic-uming fonts-wqy-zenhei fonts-liberation2
