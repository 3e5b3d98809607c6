#!/usr/bin/env bash
# Maps the whole generated site twice, with the server configuration read
# from the local SQLite store and from the PostgreSQL store of a "remote"
# machine on loopback, and prints the time each run spent in the store.
#
# usage: bench/remote-store.sh BUILD_DIR [PAGES]      (PAGES defaults to 10000)
#
# The server is the one the libpq environment names (PGHOST, PGPORT, PGUSER,
# PGPASSWORD, PGDATABASE); with none reachable, the script runs itself again
# under pg_virtualenv, which makes a throw-away cluster for the run.
set -euo pipefail

die() { echo "bench: $*" >&2; exit 1; }

{ [ $# -ge 1 ] && [ $# -le 2 ]; } || die "usage: bench/remote-store.sh BUILD_DIR [PAGES]"
[ -d "$1" ] || die "no build directory $1"
build_dir=$(cd "$1" && pwd)
pages=${2:-10000}
case $pages in ''|*[!0-9]*) die "PAGES must be a number, not $pages" ;; esac

if ! psql -XAtqc 'SELECT 1' >/dev/null 2>&1; then
    [ -z "${SYLVIX_BENCH_VIRTUALENV:-}" ] || die "no PostgreSQL server even under pg_virtualenv"
    command -v pg_virtualenv >/dev/null || die "no PostgreSQL server reachable and no pg_virtualenv"
    echo "== no PostgreSQL server in the environment: starting a throw-away cluster"
    exec env SYLVIX_BENCH_VIRTUALENV=1 pg_virtualenv "$0" "$@"
fi

bench=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$bench/out/pages-$pages
map=$build_dir/cli/sylvix-map
reg_tool=$build_dir/cli/sylvix-reg
[ -x "$map" ] || die "$map is not built"
[ -x "$reg_tool" ] || die "$reg_tool is not built"

if ! grep -qF "\"ServerRoot\"=\"$out\"" "$out/config.reg" 2>/dev/null ||
   [ "$(sed -n 's/^pages=//p' "$out/totals.txt" 2>/dev/null)" != "$pages" ]; then
    echo "== generating $pages pages into $out"
    python3 "$bench/gen_site.py" "$out" --pages "$pages" --seed 1
fi

# The local store holds the program's own key in both runs; the remote one
# holds the server's configuration, in a schema of its own.
store=$out/remote-bench.db
rm -f "$store" "$store-wal" "$store-shm"
"$reg_tool" --store "$store" import "$out/config.reg" || die "local import failed"
export NORVANE_REGISTRY=$store
psql -XAtqc 'SET client_min_messages = warning; DROP SCHEMA IF EXISTS sylvix_bench CASCADE; CREATE SCHEMA sylvix_bench' >/dev/null
export PGOPTIONS="${PGOPTIONS:-} -c search_path=sylvix_bench"
host=${PGHOST:-localhost}
case $host in /*) host=localhost ;; esac  # a socket directory: go through TCP on loopback
start=$(date +%s%N)
"$reg_tool" -r "$host" import "$out/config.reg" || die "remote import failed"
echo "remote import of config.reg: $((($(date +%s%N) - start) / 1000000)) ms"

run() { # NAME ARGS...
    local name=$1 status=0
    shift
    /usr/bin/time -f '%e s wall, %U s user' -o "$out/$name.time" \
        "$map" --whole --format summary --quiet --jobs 1 "$@" >"$out/$name.out" 2>"$out/$name.err" ||
        status=$?
    # 1 means broken links were found: the generated site has them.
    [ "$status" -le 1 ] || { tail -n 20 "$out/$name.err" >&2; die "$name exited with $status"; }
    printf '%-22s %s; %s\n' "$name" "$(grep -v '^Command exited' "$out/$name.time")" \
        "$(grep -i 'seconds in store' "$out/$name.out" | sed 's/^[ \t]*//')"
}

echo "== sylvix-map --whole --format summary --jobs 1 ($pages pages; load: $(cut -d' ' -f1-3 /proc/loadavg))"
run local-sqlite
run remote-postgres -r "$host"
psql -XAtqc 'SET client_min_messages = warning; DROP SCHEMA sylvix_bench CASCADE' >/dev/null
rm -f "$store" "$store-wal" "$store-shm"
