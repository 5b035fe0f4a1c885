#!/usr/bin/env bash
# Line mode with the Windows build as one of three stations: two native
# vornix-cli and one vornix-cli.exe under Wine run rounds at the same time,
# each against a simulated router of its own, drawing their MAC blocks from
# one pool on a native PostgreSQL server. No address may be handed out
# twice. With the server down, a run writes nothing to the router; with the
# server stopped (SIGSTOP), the run ends within the line's timeout.
# Usage: line_stations_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
source "$(dirname "$0")/wine-run-lib.sh"
need_native tools/routersim/routersim src/vornix-cli
port=24343
scratch=/tmp/vornix-pg-$port
password=Line-Pw.7c2
stations=$(mktemp -d)
routers=()
cleanup() {
  pg_signal CONT
  [ -n "${vornix:-}" ] && pkill -f "$build_dir/src/vornix.exe" 2>/dev/null || true
  for pid in "${routers[@]}"; do kill "$pid" 2>/dev/null || true; done
  pg_down
  rm -rf "$stations"
}
trap cleanup EXIT
pg_up
connection="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=vornix_line;Uid=vornix_line;Pwd=$password;"

station() {  # name router
  mkdir -p "$stations/$1"
  printf '[Environment]\r\nTELNETWAITTIME(ms)=100\r\nPacing=prompt\r\n[SETUP]\r\nCPE_LAN_IP=%s\r\nTelnet Username=admin\r\nTelnet Password=admin\r\n[WRITE_MAC]\r\npath=/proc/ticfg/env\r\nnumber=2\r\n0=ethaddr,lan_mac\r\n1=wan_mac\r\n[WRITE_ENV]\r\npath=/proc/ticfg/env\r\nnumber=0\r\n[LINE]\r\nDatabase=%s\r\nPool=line\r\nStation=%s\r\n' \
    "$2" "$connection" "$1" >"$stations/$1/setup.ini"
}
station admin 127.0.0.1
(cd "$stations/admin" && "$native/src/vornix-cli" --line-init && "$native/src/vornix-cli" --pool-add line 00:11:22:00:00:00 00:11:22:00:00:FF)

for n in 1 2 3; do
  "$native/tools/routersim/routersim" --address "127.0.0.9$((6 + n))" --latency 0 2>/dev/null &
  routers+=($!)
  wait_for "127.0.0.9$((6 + n))" 23
  station "st$n" "127.0.0.9$((6 + n))"
done

rounds() {  # station program...
  local name=$1 failed=0
  shift
  for _ in $(seq 8); do (cd "$stations/$name" && "$@" --mac >>"$stations/$name.log" 2>/dev/null) || failed=$((failed + 1)); done
  echo "$name: $failed of 8 runs failed"
  [ "$failed" -eq 0 ]
}
rounds st1 "$native/src/vornix-cli" & one=$!
rounds st2 "$native/src/vornix-cli" & two=$!
rounds st3 wine_run_within 120 "$build_dir/src/vornix-cli.exe" & three=$!
status=0
for pid in $one $two $three; do wait "$pid" || status=1; done
[ "$status" -eq 0 ] || { tail -20 "$stations"/st*.log; exit 1; }

echo "server: $(sql "SELECT COUNT(*), COUNT(DISTINCT mac), MIN(mac), MAX(mac), COUNT(DISTINCT station) FROM vornix_assignment")"
[ "$(sql "SELECT COUNT(*) = COUNT(DISTINCT mac) AND COUNT(*) = 48 FROM vornix_assignment")" = t ] ||
  { echo "an address was handed out twice, or a run's block is missing"; exit 1; }
[ "$(sql "SELECT COUNT(*) FROM vornix_assignment WHERE station = 'st3'")" = 16 ] || { echo "the Wine station's blocks are missing"; exit 1; }
[ "$(sql "SELECT COUNT(*) FROM vornix_run")" = 24 ] || { echo "the runs' records are not all in the database"; exit 1; }

# The server down: the Wine station writes nothing to its router.
pg_stop fast
status=0
(cd "$stations/st3" && wine_run_within 120 "$build_dir/src/vornix-cli.exe" --mac >"$stations/down.log" 2>/dev/null) || status=$?
cat "$stations/down.log"
[ "$status" -eq 1 ] || { echo "a run without its database must fail"; exit 1; }
grep -q "^Can't reach the line database: " "$stations/down.log" || exit 1
! grep -q "^Writing" "$stations/down.log" || { echo "something was written to the router"; exit 1; }
! grep -q "$password" "$stations/down.log" || { echo "the password was shown"; exit 1; }
# A server that stops answering (SIGSTOP): the run ends within the line's
# timeout; once the server goes on, the next run succeeds.
pg_start
printf 'Timeout=3\r\n' >>"$stations/st3/setup.ini"
pg_signal STOP
start=$(date +%s%N)
status=0
(cd "$stations/st3" && wine_run_within 120 "$build_dir/src/vornix-cli.exe" --mac >"$stations/stopped.log" 2>/dev/null) || status=$?
took=$((($(date +%s%N) - start) / 1000000))
pg_signal CONT
cat "$stations/stopped.log"
echo "the run against the stopped server took $took ms"
[ "$status" -eq 1 ] || { echo "a run against a stopped server must fail"; exit 1; }
grep -q "^Can't reach the line database: no answer within 3 s$" "$stations/stopped.log" || exit 1
! grep -q "^Writing" "$stations/stopped.log" || { echo "something was written to the router"; exit 1; }
# Wine's own start-up takes a few seconds of its own.
[ "$took" -lt 15000 ] || { echo "the run did not end within the timeout"; exit 1; }
# The dialog too: the run ends in time and Start comes back.
(cd "$stations/st3" && wine_run "$build_dir/src/vornix.exe" >/dev/null 2>&1) &
vornix=$!
wine_run_within 60 "$build_dir/tests/dialog_driver.exe" wait
pg_signal STOP
start=$(date +%s%N)
wine_run_within 60 "$build_dir/tests/dialog_driver.exe" run-mac >"$stations/dialog.log" || true
took=$((($(date +%s%N) - start) / 1000000))
pg_signal CONT
wine_run "$build_dir/tests/dialog_driver.exe" close || true
for _ in $(seq 100); do kill -0 "$vornix" 2>/dev/null || break; sleep 0.1; done
vornix=
cat "$stations/dialog.log"
echo "the dialog's run against the stopped server took $took ms"
grep -q "^Can't reach the line database: no answer within 3 s$" "$stations/dialog.log" ||
  { echo "the dialog's run did not end with the timeout's line"; exit 1; }
[ "$took" -lt 15000 ] || { echo "the dialog's run did not end within the timeout"; exit 1; }
(cd "$stations/st3" && wine_run_within 120 "$build_dir/src/vornix-cli.exe" --mac >"$stations/after.log" 2>/dev/null) ||
  { cat "$stations/after.log"; echo "the run after the server went on failed"; exit 1; }
[ "$(sql "SELECT COUNT(*) = COUNT(DISTINCT mac) AND COUNT(*) = 50 FROM vornix_assignment")" = t ] ||
  { echo "an address was handed out twice, or a run's block is missing"; exit 1; }
echo "three stations, one under Wine, handed out 48 addresses once each; with the server down nothing was written;"
echo "a stopped server ended the Wine station's runs (vornix-cli.exe and the dialog) within the timeout, and the next run succeeded"
