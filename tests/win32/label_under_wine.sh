#!/usr/bin/env bash
# A label through the Windows spooler (win:NAME, data type RAW) under Wine.
# Wine's spooler prints through CUPS: the queue is a CUPS of the test's own
# (tests/support/cups-queue) whose raw queue prints into a file, so what the
# Windows build handed the spooler is compared byte for byte with what left
# it. A printer the spooler does not know is refused in one line.
# Usage: label_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
cups=$source_dir/tests/support/cups-queue
# A prefix of its own: every Wine process that loads the spooler takes the
# prefix's printers from the CUPS it sees, and drops those it does not see.
# A Windows test beside this one (no CUPS of its own) dropped the queue
# between this test's process adding it and opening it.
prefix=$build_dir/wineprefix-label
label_check() { timeout 120 "$source_dir/scripts/wine-run" "$prefix" "$build_dir/tests/label_spool_check.exe" "$@"; }
scratch=$(mktemp -d)
chmod 0755 "$scratch"  # the queue's backend runs as the user lp
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  bash "$cups" stop "$scratch/cups" >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
"$source_dir/scripts/wine-prefix" "$prefix"

status=0
server=$(bash "$cups" start "$scratch/cups" vxzebra 2>"$scratch/cups.err") || status=$?
[ "$status" -ne 77 ] || { echo "SKIPPED: $(cat "$scratch/cups.err")"; exit 77; }
[ "$status" -eq 0 ] || { cat "$scratch/cups.err"; exit 1; }
export CUPS_SERVER=$server

# A label with bytes a text path would change: a line end, a NUL, UTF-8.
printf '^XA^CI28^FO20,20^FDVX0001 \xc3\xa9^FS\r\n^FO20,60^FD\x00^FS^XZ\r\n' >"$scratch/label.zpl"
label='Z:'$(printf '%s' "$scratch/label.zpl" | tr / '\\')

output=$(cd "$scratch" && label_check win:vxzebra "$label" | tr -d '\r') ||
  { echo "win:vxzebra: $output"; exit 1; }
[ "$output" = handed ] || { echo "win:vxzebra: $output"; exit 1; }
# A bound for a hang, not a speed: CUPS prints the job when it gets to it.
for _ in $(seq 300); do [ -f "$scratch/cups/out/vxzebra.prn" ] && break; sleep 0.1; done
cmp "$scratch/label.zpl" "$scratch/cups/out/vxzebra.prn" ||
  { echo "what left the spooler:"; od -c "$scratch/cups/out/vxzebra.prn" | head; exit 1; }
echo "win:vxzebra: the spooler took the label and passed it on byte for byte"

status=0
output=$(cd "$scratch" && label_check win:vxnosuch "$label" | tr -d '\r') ||
  status=$?
[ "$status" -eq 1 ] && [[ $output == "cannot open the printer vxnosuch (error "*")" ]] ||
  { echo "win:vxnosuch ($status): $output"; exit 1; }
echo "win:vxnosuch: $output"
