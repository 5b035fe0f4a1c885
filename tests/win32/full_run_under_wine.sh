#!/usr/bin/env bash
# A whole station run under Wine, all three stages, against the native
# simulated router, a real FTP server and flashsim.exe as the flashing tool:
# once with vornix-cli.exe --mac --boot --firmware, once through the dialog
# with the boot and firmware boxes enabled and ticked from outside. Both runs
# must succeed with the same log. Usage: full_run_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
source "$(dirname "$0")/wine-run-lib.sh"
need_native tools/routersim/routersim
need_pyftpdlib
router_address=127.0.0.96 ftp_address=127.0.0.97
scratch=$(mktemp -d)
cleanup() {
  pkill -f "flashsim.exe" 2>/dev/null || true
  pkill -f "$build_dir/src/vornix.exe" 2>/dev/null || true
  [ -n "${router:-}" ] && kill "$router" 2>/dev/null || true
  [ -n "${ftp:-}" ] && kill "$ftp" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
wait_for_tool_gone() { for _ in $(seq 100); do pgrep -f flashsim.exe >/dev/null || return 0; sleep 0.1; done; }

register_flashsim
mkdir "$scratch/ftp"
printf 'u-boot image\nBOOTVERSION=1.2.3\n' >"$scratch/ftp/u-boot.bin"
/usr/bin/python3 -m pyftpdlib -i "$ftp_address" -p 21 -u station -P station -d "$scratch/ftp" >/dev/null 2>&1 &
ftp=$!
wait_for "$ftp_address" 21

prepare_station() {
  local station=$scratch/$1
  mkdir -p "$station/7200" "$station/app_firmware"
  echo script >"$station/7200/script.txt"
  echo image >"$station/app_firmware/nsp.firmware.img"
  sed -e "s/^CPE_LAN_IP=.*/CPE_LAN_IP=$router_address/" -e "s/^PC_IP=.*/PC_IP=$ftp_address/" \
      -e 's/^TELNETWAITTIME(ms)=.*/TELNETWAITTIME(ms)=300/' -e 's/^TIME2BOOTCOPY(ms)=.*/TIME2BOOTCOPY(ms)=200/' \
      -e 's/^TIME2WAITBOOT(ms)=.*/TIME2WAITBOOT(ms)=2000/' \
      -e 's/^TiApp_register_path=.*/TiApp_register_path=Software\\Vornix\\FlashSim/' \
      -e 's/^TiApp_filename=.*/TiApp_filename=flashsim.exe/' "$source_dir/samples/setup.ini" >"$station/setup.ini"
}
start_router() {
  # Loopback answers ICMP even while the router reboots: it reboots at once here.
  "$native/tools/routersim/routersim" --address "$router_address" --reboot-ms 1 2>>"$scratch/routersim.log" &
  router=$!
  wait_for "$router_address" 23
}
stop_router() { kill "$router"; wait "$router" 2>/dev/null || true; router=; }

prepare_station cli
start_router
status=0
(cd "$scratch/cli" && wine_run_within 400 "$build_dir/src/vornix-cli.exe" \
  --mac --boot --firmware >"$scratch/cli.log" 2>"$scratch/cli.err") || status=$?
wait_for_tool_gone
stop_router
echo "== vornix-cli.exe --mac --boot --firmware (exit status $status)"
cat "$scratch/cli.log"
[ "$status" -eq 0 ] || { cat "$scratch/cli.err"; exit 1; }

prepare_station dialog
start_router
(cd "$scratch/dialog" && wine_run "$build_dir/src/vornix.exe" >/dev/null 2>&1) &
wine_run_within 400 "$build_dir/tests/dialog_driver.exe" run-all \
  >"$scratch/dialog.log" || { echo "the dialog run did not complete:"; cat "$scratch/dialog.log"; exit 1; }
wine_run "$build_dir/tests/dialog_driver.exe" close || true
wait_for_tool_gone
stop_router
# A flashing tool that starts slowly (Wine under load) is looked for again:
# those lines tell the machine's speed, not the front end.
same_run() {
  grep -v -e '^can NOT launch TI App, please install TI App inadvance$' -e '^restart TI App! ( [0-9]* times )$' "$1"
}
diff -u <(same_run "$scratch/cli.log") <(same_run "$scratch/dialog.log") || { echo "the dialog's log differs"; exit 1; }
grep -qx 'Boot Loader changed to 1.2.3' "$scratch/dialog.log"
grep -qx 'Update Firmware finish.' "$scratch/dialog.log"
echo "all three stages succeeded headless and through the dialog, with the same log"
