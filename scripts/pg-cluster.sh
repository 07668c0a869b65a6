#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests of the shared-server path.
#
#   env=$(bash scripts/pg-cluster.sh start [VOK_BINARY]) && eval "$env"
#   bash scripts/pg-cluster.sh stop [FOLDER]                  # default $VOK_PG_DIR
#   bash scripts/pg-cluster.sh halt|resume|restart [FOLDER]
#
# halt stops the server and keeps its folder (clients then meet a server
# that cannot be reached), resume starts it again on the same port, and
# restart does both, as a site's server restart does to open connections.
#
# start makes a cluster in a temporary folder, listening on 127.0.0.1 at a
# free port, with one role `vok` (password login) owning five department
# databases vok1 … vok5, each created with the program's own schema script
# (`vok --dsn-schema postgresql`). It writes odbc.ini (data sources VOK1 …
# VOK5, driver "PostgreSQL Unicode", credentials of the role in the data
# source) and odbcinst.ini into the folder and prints the exports that point
# unixODBC at them: ODBCINI, ODBCSYSINI and VOK_PG_DIR (the folder, for stop).
set -euo pipefail

PGBIN=${PGBIN:-/usr/lib/postgresql/15/bin}
DRIVER=${PSQLODBC_DRIVER:-/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so}

# initdb and pg_ctl refuse to run as root: run them as postgres then.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

free_port() {
  python3 - <<'EOF' 2>/dev/null && return
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()
EOF
  local p
  for p in $(seq 54320 54420); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
      echo "$p"
      return
    fi
  done
  echo "pg-cluster: no free port" >&2
  return 1
}

start() {
  local vok=${1:-}
  if [ ! -x "$PGBIN/initdb" ] || [ ! -f "$DRIVER" ]; then
    echo "pg-cluster: postgresql or odbc-postgresql is not installed" >&2
    return 1
  fi
  local dir port password
  dir=$(mktemp -d "${TMPDIR:-/tmp}/vok-pg.XXXXXX")
  # A start that fails half-way leaves no server running.
  CLUSTER_DIR=$dir
  trap '[ $? -eq 0 ] || stop "$CLUSTER_DIR"' EXIT
  chmod 755 "$dir"
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir"
  fi
  port=$(free_port)
  password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')

  {
    as_owner "$PGBIN/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C.UTF-8 \
      --auth-local=trust --auth-host=scram-sha-256 --no-sync
    as_owner mkdir -p "$dir/sock"
    echo "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$dir/sock -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
      >"$dir/options"
    resume "$dir"
  } >"$dir/setup.log" 2>&1 || {
    cat "$dir/setup.log" >&2
    [ -f "$dir/server.log" ] && cat "$dir/server.log" >&2
    return 1
  }

  local psql=(as_owner psql -X -q -v ON_ERROR_STOP=1 -h "$dir/sock" -p "$port" -U postgres)
  "${psql[@]}" -d postgres -c "CREATE ROLE vok LOGIN PASSWORD '$password'" >>"$dir/setup.log"
  local schema=""
  if [ -n "$vok" ]; then
    schema=$(QT_QPA_PLATFORM=offscreen "$vok" --dsn-schema postgresql)
  fi
  local n
  for n in 1 2 3 4 5; do
    "${psql[@]}" -d postgres -c "CREATE DATABASE vok$n OWNER vok" >>"$dir/setup.log"
    if [ -n "$schema" ]; then
      printf '%s\n' "$schema" | as_owner psql -X -q -v ON_ERROR_STOP=1 -h "$dir/sock" \
        -p "$port" -U vok -d "vok$n" >>"$dir/setup.log"
    fi
  done

  # The files belong to the caller; the password is the role's, not a person's.
  local ini="$dir/odbc"
  mkdir -p "$ini"
  cat >"$ini/odbcinst.ini" <<EOF
[PostgreSQL Unicode]
Description=PostgreSQL ODBC driver (Unicode version)
Driver=$DRIVER
EOF
  # The data sources are the caller's (ODBCINI), outside the driver folder
  # (ODBCSYSINI), so that no second copy of them is read as system-wide.
  local sources="$dir/odbc.ini"
  : >"$sources"
  for n in 1 2 3 4 5; do
    cat >>"$sources" <<EOF
[VOK$n]
Description=vok department $n (test server)
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$port
Database=vok$n
Username=vok
Password=$password
SSLmode=disable

EOF
  done
  chmod 600 "$sources"

  echo "export VOK_PG_DIR='$dir'"
  echo "export ODBCINI='$sources'"
  echo "export ODBCSYSINI='$ini'"
  echo "pg-cluster: PostgreSQL on 127.0.0.1:$port, data sources VOK1…VOK5 in $sources" >&2
}

cluster_dir() {
  local dir=${1:-${VOK_PG_DIR:-}}
  case "$dir" in
    */vok-pg.*) ;;
    *) echo "pg-cluster: '$dir' is not a cluster folder of this script" >&2; return 1 ;;
  esac
  [ -d "$dir" ] || { echo "pg-cluster: $dir does not exist" >&2; return 1; }
  echo "$dir"
}

halt() {
  local dir
  dir=$(cluster_dir "${1:-}")
  as_owner "$PGBIN/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
}

resume() {
  local dir
  dir=$(cluster_dir "${1:-}")
  as_owner "$PGBIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "$(cat "$dir/options")" start >/dev/null
}

stop() {
  local dir=${1:-${VOK_PG_DIR:-}}
  if [ -z "$dir" ] || [ ! -d "$dir" ]; then
    return 0
  fi
  case "$dir" in
    */vok-pg.*) ;;
    *) echo "pg-cluster: $dir is not a cluster folder of this script" >&2; return 1 ;;
  esac
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$PGBIN/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  halt) shift; halt "$@" ;;
  resume) shift; resume "$@" ;;
  restart) shift; halt "$@" && resume "$@" ;;
  *) echo "usage: $0 start [VOK_BINARY] | stop [FOLDER] | halt|resume|restart [FOLDER]" >&2; exit 2 ;;
esac
