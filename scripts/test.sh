#!/usr/bin/env bash
# Installs what is missing, builds vok with warnings as errors and runs the
# whole test suite: every test on the embedded engine, the database and
# form tests (NAME_pg) once more against a throwaway PostgreSQL server that
# is started here and stopped at the end, also on failure, and the check of
# the Debian package's contents.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# What only the tests need: the shared-server run (PostgreSQL and its ODBC
# driver), the display and session bus of the GUI tests, readers of the
# printed and exported reports, the package and desktop-entry checks, the
# formatter, and the sqlite3 shell of the manual scripts.
. scripts/packages.sh
install_missing \
  postgresql odbc-postgresql \
  xvfb xauth dbus \
  poppler-utils python3-openpyxl zbar-tools \
  dpkg-dev desktop-file-utils \
  clang-format sqlite3

# Sources must be formatted with the project's .clang-format.
if ! git ls-files -z 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' |
    xargs -0 clang-format --dry-run --Werror; then
  echo "Sources differ from .clang-format: run 'cmake --build build --target format'." >&2
  exit 1
fi
cmake -S . -B build-test -G Ninja -DVOK_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-test

# The server's data sources reach only the _pg tests; the others are given
# an empty odbc.ini by CTest.
export VOK_PG_DIR=""
trap 'bash scripts/pg-cluster.sh stop "$VOK_PG_DIR"' EXIT
pg_env=$(bash scripts/pg-cluster.sh start build-test/bin/vok)
eval "$pg_env"
# A private session bus lets the automation test run too.
dbus-run-session -- ctest --test-dir build-test --output-on-failure
