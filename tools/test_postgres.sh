#!/usr/bin/env bash
# A throwaway PostgreSQL server for the registry tests.
#
#   tools/test_postgres.sh start   installs Debian's postgresql if it is missing, starts a
#                                  cluster of its own in $PGTEST_DIR (port $PGTEST_PORT) and
#                                  prints the URL of an empty UTF-8 database on stdout
#   tools/test_postgres.sh stop    stops that cluster and removes its folder
#
# The cluster runs as the user "postgres" when started by root (the server refuses root),
# as the current user otherwise.  It listens on a Unix socket in its folder only.
# Anything that goes wrong prints nothing on stdout: the tests then skip, saying why.
set -uo pipefail
DIR="${PGTEST_DIR:-/tmp/quillon-pgtest}"
PORT="${PGTEST_PORT:-54329}"
DB=quillon_test

as_owner() {
  if [ "$(id -u)" = 0 ]; then su postgres -s /bin/sh -c "$*"; else sh -c "$*"; fi
}

bindir() {
  ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1
}

case "${1:-}" in
  start)
    if [ -z "$(bindir)" ]; then
      SUDO=""; [ "$(id -u)" = 0 ] || SUDO="sudo -n"
      { $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq postgresql; } >&2 || exit 0
    fi
    BIN="$(bindir)"
    [ -n "$BIN" ] || exit 0
    if ! as_owner "'$BIN/pg_ctl' -D '$DIR/data' status" >/dev/null 2>&1; then
      rm -rf "$DIR" && mkdir -p "$DIR"
      [ "$(id -u)" = 0 ] && chown postgres "$DIR"
      as_owner "'$BIN/initdb' -D '$DIR/data' -E UTF8 --locale=C -U postgres --auth=trust" >"$DIR.log" 2>&1 || exit 0
      as_owner "'$BIN/pg_ctl' -D '$DIR/data' -l '$DIR/server.log' -w -o \"-p $PORT -k $DIR -c listen_addresses=''\" start" \
        >>"$DIR.log" 2>&1 || exit 0
    fi
    as_owner "'$BIN/psql' -h '$DIR' -p $PORT -U postgres -qAtc \"SELECT 1 FROM pg_database WHERE datname='$DB'\"" \
      2>/dev/null | grep -q 1 || as_owner "'$BIN/createdb' -h '$DIR' -p $PORT -U postgres -E UTF8 -T template0 $DB" \
      >>"$DIR.log" 2>&1 || exit 0
    echo "postgresql://postgres@/$DB?host=$DIR&port=$PORT"
    ;;
  stop)
    BIN="$(bindir)"
    [ -n "$BIN" ] && as_owner "'$BIN/pg_ctl' -D '$DIR/data' -m fast stop" >/dev/null 2>&1
    rm -rf "$DIR" "$DIR.log"
    ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
