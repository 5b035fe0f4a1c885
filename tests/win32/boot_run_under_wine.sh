#!/usr/bin/env bash
# MAC writing and boot code update under Wine against the native simulated
# router and a real FTP server on loopback: once with vornix-cli.exe --mac
# --boot, once through the dialog with the boot box enabled and ticked from
# outside. Both must prove the new boot loader, with the same log.
# Usage: boot_run_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
source "$(dirname "$0")/wine-run-lib.sh"
need_native tools/routersim/routersim
need_pyftpdlib
router_address=127.0.0.93 ftp_address=127.0.0.94
scratch=$(mktemp -d)
cleanup() {
  pkill -f "$build_dir/src/vornix.exe" 2>/dev/null || true
  [ -n "${router:-}" ] && kill "$router" 2>/dev/null || true
  [ -n "${ftp:-}" ] && kill "$ftp" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$scratch/ftp" "$scratch/cli" "$scratch/dialog"
printf 'u-boot image\nBOOTVERSION=1.2.3\n' >"$scratch/ftp/u-boot.bin"
for where in cli dialog; do
  sed -e "s/^CPE_LAN_IP=.*/CPE_LAN_IP=$router_address/" -e "s/^PC_IP=.*/PC_IP=$ftp_address/" \
      -e 's/^TELNETWAITTIME(ms)=.*/TELNETWAITTIME(ms)=300/' -e 's/^TIME2BOOTCOPY(ms)=.*/TIME2BOOTCOPY(ms)=200/' \
      -e 's/^TIME2WAITBOOT(ms)=.*/TIME2WAITBOOT(ms)=2000/' "$source_dir/samples/setup.ini" >"$scratch/$where/setup.ini"
done
/usr/bin/python3 -m pyftpdlib -i "$ftp_address" -p 21 -u station -P station -d "$scratch/ftp" >/dev/null 2>&1 &
ftp=$!
# Loopback answers ICMP even while the router reboots, so the station would
# find it before its telnet is back: the router reboots at once here.
start_router() {
  "$native/tools/routersim/routersim" --address "$router_address" --reboot-ms 1 2>>"$scratch/routersim.log" &
  router=$!
  wait_for "$router_address" 23
}
wait_for "$ftp_address" 21

start_router
status=0
(cd "$scratch/cli" && wine_run_within 300 "$build_dir/src/vornix-cli.exe" --mac --boot \
  >"$scratch/cli.log" 2>"$scratch/cli.err") || status=$?
kill "$router"; wait "$router" 2>/dev/null || true
echo "== vornix-cli.exe --mac --boot under Wine (exit status $status)"
cat "$scratch/cli.log"
[ "$status" -eq 0 ] || { cat "$scratch/cli.err"; exit 1; }
grep -qx 'Boot Loader changed to 1.2.3' "$scratch/cli.log"

start_router
(cd "$scratch/dialog" && wine_run "$build_dir/src/vornix.exe" >/dev/null 2>&1) &
vornix=$!
wine_run_within 300 "$build_dir/tests/dialog_driver.exe" run-mac-boot \
  >"$scratch/dialog.log" || { echo "the dialog run did not complete:"; cat "$scratch/dialog.log"; exit 1; }
wine_run "$build_dir/tests/dialog_driver.exe" close || true
for _ in $(seq 100); do kill -0 "$vornix" 2>/dev/null || break; sleep 0.1; done
echo "== the dialog's log"
cat "$scratch/dialog.log"
diff -u "$scratch/cli.log" "$scratch/dialog.log" || { echo "the logs differ"; exit 1; }
echo "both runs logged the same lines and proved boot loader 1.2.3"
