#!/usr/bin/env bash
# The Windows build's line database client, under Wine, against a native
# PostgreSQL server started here: odbc32's wide entry points reach the host's
# unixODBC and psqlODBC. A block is reserved and assigned, and the server
# holds exactly that afterwards. Without PostgreSQL the test fails.
# Usage: line_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
source "$(dirname "$0")/wine-run-lib.sh"
port=24336
scratch=/tmp/vornix-pg-$port
password=Wine-Pw.5e1

cleanup() { pg_down; }
trap cleanup EXIT
pg_up

connection="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=vornix_line;Uid=vornix_line;Pwd=$password;"
status=0
output=$(wine_run_within 120 "$build_dir/tests/line_check.exe" "$connection" wine-st-1 2>"$scratch/stderr" | tr -d '\r') ||
  status=$?
echo "$output"
expected="connected
tables ready
pool Linie-Süd added
reserved 00:11:22:33:00:00, 4 addresses
reserved again 00:11:22:33:00:00, the run's own block
assigned to 192.168.1.1
second assign refused: cannot assign block 00:11:22:33:00:00: it is held by another run
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
