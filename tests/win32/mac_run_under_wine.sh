#!/usr/bin/env bash
# One MAC writing run through the dialog of vornix.exe under Wine, driven as
# an operator would (tick "MAC Writing", press Start), against the native
# simulated router; then the same run with the native vornix-cli. Both logs
# must be the same, and setup.ini must be advanced by both.
# Usage: mac_run_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
source "$(dirname "$0")/wine-run-lib.sh"
need_native tools/routersim/routersim src/vornix-cli
address=127.0.0.92
scratch=$(mktemp -d)
cleanup() {
  [ -n "${vornix:-}" ] && pkill -f "$build_dir/src/vornix.exe" 2>/dev/null || true
  [ -n "${router:-}" ] && kill "$router" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$scratch/dialog" "$scratch/cli" "$scratch/scan"
for where in dialog cli scan; do
  sed -e "s/^CPE_LAN_IP=.*/CPE_LAN_IP=$address/" -e 's/^TELNETWAITTIME(ms)=.*/TELNETWAITTIME(ms)=300/' \
    "$source_dir/samples/setup.ini" >"$scratch/$where/setup.ini"
done
"$native/tools/routersim/routersim" --address "$address" 2>"$scratch/routersim.log" &
router=$!
wait_for "$address" 23

(cd "$scratch/dialog" && wine_run "$build_dir/src/vornix.exe" >/dev/null 2>&1) &
vornix=$!
wine_run_within 180 "$build_dir/tests/dialog_driver.exe" run-mac \
  >"$scratch/dialog.log" || { echo "the dialog run did not complete:"; cat "$scratch/dialog.log"; exit 1; }
wine_run "$build_dir/tests/dialog_driver.exe" close || true
for _ in $(seq 100); do kill -0 "$vornix" 2>/dev/null || break; sleep 0.1; done
kill -0 "$vornix" 2>/dev/null && { echo "vornix.exe did not end when its dialog was closed"; exit 1; }
vornix=

(cd "$scratch/cli" && "$native/src/vornix-cli" --mac >"$scratch/cli.log" 2>/dev/null) || {
  echo "the native run failed:"; cat "$scratch/cli.log"; exit 1; }

echo "== the dialog's log under Wine"
cat "$scratch/dialog.log"
diff -u "$scratch/cli.log" "$scratch/dialog.log" || { echo "the logs differ"; exit 1; }
grep -q 'Verify OK : ProductID = "VX100"' "$scratch/dialog.log"
for where in dialog cli; do
  tr -d '\r' <"$scratch/$where/setup.ini" | grep -q '^start_mac=00:11:22:00:00:02$' || {
    echo "setup.ini of the $where run was not advanced:"; grep start_mac "$scratch/$where/setup.ini"; exit 1; }
done
echo "both runs logged the same lines and advanced start_mac to 00:11:22:00:00:02"

# A station that scans its units' serials: Start asks for one first;
# Escape there starts no run, a scan and Enter runs for that unit.
printf '[SERIAL]\r\nSource=scan\r\nName=SerialNumber\r\n' >>"$scratch/scan/setup.ini"
(cd "$scratch/scan" && wine_run "$build_dir/src/vornix.exe" >/dev/null 2>&1) &
vornix=$!
wine_run_within 60 "$build_dir/tests/dialog_driver.exe" cancel-scan || { echo "Escape at the serial prompt ran"; exit 1; }
[ ! -e "$scratch/scan/vornix-journal.jsonl" ] || { echo "a run was recorded after Escape"; exit 1; }
wine_run_within 180 "$build_dir/tests/dialog_driver.exe" run-mac-scan VX0001 >"$scratch/scan.log" || {
  echo "the scanned run did not complete:"; cat "$scratch/scan.log"; exit 1; }
wine_run "$build_dir/tests/dialog_driver.exe" close || true
for _ in $(seq 100); do kill -0 "$vornix" 2>/dev/null || break; sleep 0.1; done
vornix=
echo "== the scanned unit's run"
cat "$scratch/scan.log"
grep -qx 'Writing SerialNumber VX0001' "$scratch/scan.log"
grep -qx 'Verify OK : SerialNumber = "VX0001"' "$scratch/scan.log"
grep -q '"serial":"VX0001"' "$scratch/scan/vornix-journal.jsonl"
grep -q '^VX0001 00:11:22:00:00:00 2 ' "$scratch/scan/vornix-units.txt" || {
  echo "the unit was not bound to its block:"; cat "$scratch/scan/vornix-units.txt"; exit 1; }
echo "the dialog asked for the serial, Escape ran nothing, and the scanned unit got its block"
