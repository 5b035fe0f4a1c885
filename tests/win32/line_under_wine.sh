#!/usr/bin/env bash
# The Windows build's line database client, under Wine, against a native
# PostgreSQL server started here: odbc32's wide entry points reach the host's
# unixODBC and psqlODBC. A block is reserved and assigned, and the server
# holds exactly that afterwards. Without PostgreSQL the test fails.
# Usage: line_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
source "$(dirname "$0")/wine-run-lib.sh"
port=54336
scratch=/tmp/vornix-pg-$port
password=Wine-Pw.5e1

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -n "$bin" ] && [ -x "$bin/initdb" ] || { echo "FAILED: no PostgreSQL server (scripts/install-deps)"; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "FAILED: needs root to run the server as the postgres user"; exit 1; }
as_postgres() { runuser -u postgres -- "$@"; }
# The live server of our data directory (a pid file may outlive its process).
postmaster() {
  local pid
  pid=$(head -1 "$scratch/data/postmaster.pid" 2>/dev/null) || return 1
  [ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "-D $scratch/data" && echo "$pid"
}
pg_stop() { postmaster >/dev/null && as_postgres "$bin/pg_ctl" -D "$scratch/data" -m "$1" -w stop >/dev/null 2>&1; }
sql() { as_postgres "$bin/psql" -X -q -h "$scratch" -p "$port" -U postgres -d vornix_line -At -v ON_ERROR_STOP=1 -c "$1"; }

# A server left by a crashed earlier run on this port goes first.
pg_stop immediate || { stale=$(postmaster) && kill -9 "$stale"; } || true
cleanup() { pg_stop fast || true; rm -rf "$scratch"; }
trap cleanup EXIT
rm -rf "$scratch"
mkdir -p "$scratch"
chown postgres: "$scratch"
as_postgres "$bin/initdb" -D "$scratch/data" -U postgres -E UTF8 --no-locale --auth-local=trust \
  --auth-host=scram-sha-256 --no-sync >"$scratch/initdb.log" 2>&1 || { cat "$scratch/initdb.log"; exit 1; }
as_postgres "$bin/pg_ctl" -D "$scratch/data" -l "$scratch/server.log" -w -t 60 \
  -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$scratch -c fsync=off" start >/dev/null ||
  { cat "$scratch/server.log"; exit 1; }
as_postgres "$bin/psql" -X -q -h "$scratch" -p "$port" -U postgres -d postgres -v ON_ERROR_STOP=1 \
  -c "CREATE ROLE vornix_line LOGIN PASSWORD '$password'" -c "CREATE DATABASE vornix_line OWNER vornix_line"

connection="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=vornix_line;Uid=vornix_line;Pwd=$password;"
status=0
output=$(wine_run_within 120 "$build_dir/tests/line_check.exe" "$connection" wine-st-1 2>"$scratch/stderr" | tr -d '\r') ||
  status=$?
echo "$output"
expected="connected
tables ready
pool Linie-Süd added
reserved 00:11:22:33:00:00, 4 addresses
reserved again 00:11:22:33:00:00, the same open block
assigned to 192.168.1.1
second assign refused: cannot assign block 00:11:22:33:00:00: it is assigned, not open
run recorded
pool Linie-Süd: 00:11:22:33:00:00 - 00:11:22:33:00:FF, 4 used, 252 free
0 open
wrong password refused, masked"
if [ "$status" -ne 0 ] || [ "$output" != "$expected" ]; then
  echo "line_check.exe exited $status; expected:"
  echo "$expected"
  echo "its standard error:"
  cat "$scratch/stderr"
  exit 1
fi
if grep -q "$password" <<<"$output$(cat "$scratch/stderr")"; then echo "the password was shown"; exit 1; fi

# What the server holds, read natively.
held=$(sql "SELECT p.name, r.station, r.state, count(a.mac), min(a.mac) = r.first_mac, max(a.router)
            FROM vornix_pool p JOIN vornix_reservation r ON r.pool = p.name
            JOIN vornix_assignment a ON a.reservation_id = r.id GROUP BY p.name, r.station, r.state, r.first_mac")
echo "server: $held"
[ "$held" = "Linie-Süd|wine-st-1|assigned|4|t|192.168.1.1" ] || { echo "the server holds something else"; exit 1; }
run=$(sql "SELECT run_id, record_text FROM vornix_run")
[ "$run" = 'wine-run-1|{"pool": "Linie-Süd"}' ] || { echo "the run record is: $run"; exit 1; }
echo "the server holds exactly the assigned block and the run record"
