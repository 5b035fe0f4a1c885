#!/usr/bin/env bash
# vornix-cli.exe under Wine against Debian's BusyBox as the router
# (tests/support/busybox-router: its telnetd, login and ash): a MAC run, and
# a MAC and boot run whose cp to the boot partition takes about 3 s, and a
# firmware run driving flashsim.exe, each in fixed and prompt pacing on a
# fresh router. Every run exits 0, both pacings log the same lines, and the
# image reaches the flash byte for byte.
# Usage: busybox_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
source "$(dirname "$0")/wine-run-lib.sh"
need_pyftpdlib
register_flashsim
router_address=127.0.0.216 ftp_address=127.0.0.217
router_tool=$source_dir/tests/support/busybox-router
# One directory per address, as the native tests keep it: a router left by a
# crashed run is stopped first.
router_dir=${TMPDIR:-/tmp}/vornix-busybox-router-$router_address
scratch=$(mktemp -d)
cleanup() {
  bash "$router_tool" stop "$router_dir" >/dev/null 2>&1 || true
  rm -rf "$router_dir"
  [ -n "${ftp:-}" ] && kill "$ftp" 2>/dev/null || true
  pkill -f "flashsim.exe" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

start_router() {  # [busybox-router options]
  local status=0
  bash "$router_tool" stop "$router_dir" >/dev/null 2>&1 || true
  bash "$router_tool" start "$router_dir" "$router_address" "$@" >"$scratch/router.log" 2>&1 || status=$?
  [ "$status" -ne 77 ] || { echo "SKIPPED: $(cat "$scratch/router.log")"; exit 77; }
  [ "$status" -eq 0 ] || { cat "$scratch/router.log"; exit 1; }
}

mkdir "$scratch/ftp"
image=$scratch/ftp/u-boot.bin
{ printf '\177BOOT image\nBOOTVERSION=1.2.3\n'; head -c 409600 /dev/urandom; } >"$image"
rate=$(( $(stat -c %s "$image") / 3 ))
/usr/bin/python3 -m pyftpdlib -i "$ftp_address" -p 21 -u station -P station -d "$scratch/ftp" >/dev/null 2>&1 &
ftp=$!
wait_for "$ftp_address" 21 || { echo "no FTP server on $ftp_address:21"; exit 1; }

failed=0
run() {  # name pacing vornix-cli arguments...
  local name=$1 pacing=$2 status=0
  shift 2
  mkdir -p "$scratch/$name/7200" "$scratch/$name/app_firmware"
  echo "script" >"$scratch/$name/7200/script.txt"
  echo "image" >"$scratch/$name/app_firmware/nsp.firmware.img"
  sed -e "s/^CPE_LAN_IP=.*/CPE_LAN_IP=$router_address/" -e "s/^PC_IP=.*/PC_IP=$ftp_address/" \
    -e "s/^TELNETWAITTIME(ms)=.*/TELNETWAITTIME(ms)=$([ "$pacing" = prompt ] && echo 1000 || echo 100)/" \
    -e "s/^Pacing=.*/Pacing=$pacing/" \
    -e 's/^TIME2BOOTCOPY(ms)=.*/TIME2BOOTCOPY(ms)=500/' -e 's/^TIME2WAITBOOT(ms)=.*/TIME2WAITBOOT(ms)=3000/' \
    -e 's/^TiApp_register_path=.*/TiApp_register_path=Software\\Vornix\\FlashSim/' \
    -e 's/^TiApp_filename=.*/TiApp_filename=flashsim.exe/' \
    "$source_dir/samples/setup.ini" >"$scratch/$name/setup.ini"
  (cd "$scratch/$name" && wine_run_within 300 "$build_dir/src/vornix-cli.exe" "$@" \
    >"$scratch/$name.log" 2>"$scratch/$name.err") || status=$?
  echo "== vornix-cli.exe $* in $pacing pacing: exit status $status"
  cat "$scratch/$name.log"
  [ "$status" -eq 0 ] || { cat "$scratch/$name.err"; failed=1; }
}

for pacing in fixed prompt; do
  start_router
  run "mac-$pacing" "$pacing" --mac
  start_router --copy-rate "$rate"
  run "boot-$pacing" "$pacing" --mac --boot
  flash=$router_dir/root/var/flash/mtdblock0
  cmp "$image" "$flash" || { echo "$pacing pacing: the flash ($(stat -c %s "$flash") bytes) is not the image"; failed=1; }
  # The firmware stage logs in too, sets the boot configuration and reboots.
  start_router
  run "firmware-$pacing" "$pacing" --firmware
  for _ in $(seq 100); do pgrep -f "flashsim.exe" >/dev/null || break; sleep 0.1; done
  grep -qx 'Update Firmware finish.' "$scratch/firmware-$pacing.log" || failed=1
  grep -q '^BOOTCFG' "$router_dir/root/proc/ticfg/env" || { echo "$pacing pacing: no BOOTCFG on the router"; failed=1; }
done

# A flashing tool that Wine starts slowly is started again by the stage (its
# two lines): that is the tool's start, not the router's dialogue.
tool_start='^(can NOT launch TI App, please install TI App inadvance|restart TI App! \( [0-9]+ times \))$'
for name in mac boot firmware; do
  diff -u <(grep -Ev "$tool_start" "$scratch/$name-fixed.log") <(grep -Ev "$tool_start" "$scratch/$name-prompt.log") ||
    { echo "the $name runs logged differently in fixed and prompt pacing"; failed=1; }
done
grep -qx 'Boot Loader changed to 1.2.3' "$scratch/boot-fixed.log" || failed=1
[ "$failed" -eq 0 ] || exit 1
echo "BusyBox router: the MAC, boot and firmware runs exited 0 in both pacings with the same log, the image whole on the flash"
