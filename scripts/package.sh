#!/usr/bin/env bash
# Builds the Debian package build/vok_VERSION_ARCH.deb: installs what is
# missing (the build packages and dpkg-dev, whose dpkg-shlibdeps finds the
# run-time libraries), configures build/ as the README does and runs CPack.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
. scripts/packages.sh
install_missing dpkg-dev

cmake -S . -B build -G Ninja
cmake --build build --target package
ls build/vok_*.deb
