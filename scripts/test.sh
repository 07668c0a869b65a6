#!/usr/bin/env bash
# Installs what is missing, builds vok with warnings as errors and runs the
# whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build-test -G Ninja -DVOK_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-test
ctest --test-dir build-test --output-on-failure
