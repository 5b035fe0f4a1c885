#!/usr/bin/env bash
# The firmware update under Wine: vornix-cli.exe --firmware against the
# native simulated router, driving flashsim.exe (registered as the flashing
# tool) through its windows, in both variants, with a quick tool and with a
# slow one; and a tool whose entry editor never opens fails the stage.
# Usage: firmware_run_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
source "$(dirname "$0")/wine-run-lib.sh"
need_native tools/routersim/routersim
address=127.0.0.95
scratch=$(mktemp -d)
cleanup() {
  pkill -f "flashsim.exe" 2>/dev/null || true
  [ -n "${router:-}" ] && kill "$router" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
register_flashsim

"$native/tools/routersim/routersim" --address "$address" --reboot-ms 500 2>"$scratch/routersim.log" &
router=$!
wait_for "$address" 23

# The run's journal record: the stage, its result, its failure line, the variant.
check_record() {  # station result failure variant
  /usr/bin/python3 - "$@" <<'PY'
import json, sys
station, result, failure, variant = sys.argv[1:5]
record = json.loads(open(station + "/vornix-journal.jsonl", encoding="utf-8").read().splitlines()[-1])
stage = record["stages"]["firmware"]
assert record["ticked"] == ["firmware"], record["ticked"]
assert (stage["result"], stage["failure"], record["firmware"]["variant"]) == (result, failure, variant), (stage, record["firmware"])
PY
}

run_variant() {  # name format_mtd3 [flashsim switches [stuck]]
  local name=$1 format=$2 switches=${3:-} expect=${4:-finish} station=$scratch/$1
  mkdir -p "$station/7200" "$station/app_firmware"
  echo "script" >"$station/7200/script.txt"
  echo "image" >"$station/app_firmware/nsp.firmware.img"
  printf '[Environment]\r\nTELNETWAITTIME(ms)=300\r\nTiApp_register_path=Software\\Vornix\\FlashSim\r\nTiApp_filename=flashsim.exe%s\r\n[SETUP]\r\nCPE_LAN_IP=%s\r\nTelnet Username=admin\r\nTelnet Password=admin\r\nCHIP=7200\r\nENV_PATH=/proc/ticfg/env\r\n[7200]\r\nformat_mtd3=%s\r\n' \
    "${switches:+ $switches}" "$address" "$format" >"$station/setup.ini"
  rm -f "$build_dir/tools/flashsim/flashsim.log"
  local status=0
  (cd "$station" && wine_run_within 300 "$build_dir/src/vornix-cli.exe" --firmware \
    >"$station/run.log" 2>"$station/run.err") || status=$?
  # The tool closes after the station's last press: let it finish.
  for _ in $(seq 100); do pgrep -f "flashsim.exe" >/dev/null || break; sleep 0.1; done
  echo "== $name variant: vornix-cli.exe --firmware (exit status $status)"
  cat "$station/run.log"
  echo "-- flashsim saw:"
  cat "$build_dir/tools/flashsim/flashsim.log" 2>/dev/null || true
  cp "$build_dir/tools/flashsim/flashsim.log" "$station/flashsim.log"
  if [ "$expect" = stuck ]; then
    # It fails, says which dialog never came, and never claims the update done.
    [ "$status" -eq 1 ] || { echo "a stuck tool must fail the stage"; exit 1; }
    [ "$(tail -1 "$station/run.log")" = 'Not Found Entry Edit Dialog!' ] || exit 1
    ! grep -q 'Update Firmware finish.' "$station/run.log" || exit 1
    # The tool was told to quit, and did.
    [ "$(tail -1 "$station/flashsim.log")" = quit ] || { echo "the tool was left running"; exit 1; }
    check_record "$station" failed 'Not Found Entry Edit Dialog!' plain
    return
  fi
  [ "$status" -eq 0 ] || { cat "$station/run.err"; exit 1; }
  check_record "$station" succeeded '' "$([ "$format" = TRUE ] && echo format || echo plain)"
  grep -qx 'Update Firmware finish.' "$station/run.log"
  grep -qx "login $address ok" "$build_dir/tools/flashsim/flashsim.log"
  grep -q '^image Z:.*\\app_firmware\\nsp.firmware.img, item 1$' "$build_dir/tools/flashsim/flashsim.log"
  grep -qx 'notice closed' "$build_dir/tools/flashsim/flashsim.log"
  [ "$(tail -1 "$build_dir/tools/flashsim/flashsim.log")" = closed ] || { echo "flashsim was not closed"; exit 1; }
}

run_variant plain FALSE
grep -qx 'entry BOOTCFG m:f:"mtd1"' "$scratch/plain/flashsim.log"
run_variant format TRUE
grep -q '^script Z:.*\\7200\\script.txt$' "$scratch/format/flashsim.log"
grep -qx '7200 : Format MTD3 .....' "$scratch/format/run.log"
# A tool that opens every dialog 800 ms after the press is waited for.
run_variant slow-plain FALSE "--late 800"
grep -qx 'entry BOOTCFG m:f:"mtd1"' "$scratch/slow-plain/flashsim.log"
run_variant slow-format TRUE "--late 800"
grep -q '^script Z:.*\\7200\\script.txt$' "$scratch/slow-format/flashsim.log"
run_variant stuck FALSE "--no-entry-editor" stuck
echo "both variants loaded the firmware through flashsim, quick and slow; a stuck tool failed the stage"
