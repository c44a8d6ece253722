#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the server's tests and benchmarks:
#   pg_cluster.sh start DIR    make it in DIR and start it; prints its URI
#   pg_cluster.sh stop DIR     stop it and remove DIR
#   pg_cluster.sh pause DIR    stop it, keeping its data
#   pg_cluster.sh resume DIR   start it again
# It listens on a Unix socket in DIR only, trusts local connections and
# syncs nothing to disk. initdb refuses root, so as root the cluster runs
# as nobody.
set -euo pipefail
cmd="${1:-}"
dir="${2:-}"
if [ -z "$cmd" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop|pause|resume DIR" >&2
  exit 2
fi
bin="${PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}"
if [ ! -x "$bin/initdb" ]; then
  echo "$0: no PostgreSQL server programs (install the postgresql package)" >&2
  exit 1
fi
as_owner() {
  if [ "$(id -u)" = 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}
run() {
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w -t 60 \
    -o "-k $dir -c listen_addresses='' -c fsync=off -c full_page_writes=off -c max_connections=200" "$@"
}
case "$cmd" in
  start)
    if [ -d "$dir/data" ]; then as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true; fi
    rm -rf "$dir"
    mkdir -p "$dir"
    chmod 700 "$dir"
    [ "$(id -u)" = 0 ] && chown nobody "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U kalvane --auth=trust -E UTF8 --no-locale -N >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
    run start >/dev/null || { cat "$dir/log" >&2; exit 1; }
    echo "postgresql://kalvane@/postgres?host=$dir"
    ;;
  stop)
    if [ -d "$dir/data" ]; then as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true; fi
    rm -rf "$dir"
    ;;
  pause) as_owner "$bin/pg_ctl" -D "$dir/data" -m fast stop >/dev/null ;;
  resume) run start >/dev/null ;;
  *) echo "$0: unknown command $cmd" >&2; exit 2 ;;
esac
