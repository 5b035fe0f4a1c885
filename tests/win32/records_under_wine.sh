#!/usr/bin/env bash
# The run records under Wine: two runs through the dialog of vornix.exe and
# two with vornix-cli.exe (a good one and one with a wrong password) each
# leave their journal record, naming the router, the good run's addresses
# and the bad run's failure line, and a transcript with both directions and
# no password; vornix-cli.exe --history shows both. A run with prompt pacing
# logs what the fixed one logged.
# Usage: records_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
source "$(dirname "$0")/wine-run-lib.sh"
need_native tools/routersim/routersim
address=127.0.0.96
scratch=$(mktemp -d)
cleanup() {
  [ -n "${vornix:-}" ] && pkill -f "$build_dir/src/vornix.exe" 2>/dev/null || true
  [ -n "${router:-}" ] && kill "$router" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
"$native/tools/routersim/routersim" --address "$address" --latency 20 --user station --password 'Pw-9x!' \
  2>"$scratch/routersim.log" &
router=$!
wait_for "$address" 23

setup() {  # directory password [pacing]
  mkdir -p "$1"
  sed -e "s/^CPE_LAN_IP=.*/CPE_LAN_IP=$address/" -e 's/^TELNETWAITTIME(ms)=.*/TELNETWAITTIME(ms)=150/' \
    -e 's/^Telnet Username=.*/Telnet Username=station/' -e "s/^Telnet Password=.*/Telnet Password=$2/" \
    -e "s/^\[Environment\]$/[Environment]\nPacing=${3:-fixed}/" "$source_dir/samples/setup.ini" >"$1/setup.ini"
}

# The journal and transcripts of a station directory, as a quality engineer reads them.
check_station() {  # directory
  /usr/bin/python3 - "$1" <<'PY'
import json, os, sys
station = sys.argv[1]
lines = open(os.path.join(station, "vornix-journal.jsonl"), encoding="utf-8").read().splitlines()
assert len(lines) == 2, lines
good, bad = (json.loads(line) for line in lines)
assert good["router"] == bad["router"] == "127.0.0.96", (good["router"], bad["router"])
assert good["result"] == "succeeded", good
assert [a["written"] for a in good["mac"]["addresses"]] == ["00:11:22:00:00:00"] * 2 + ["00:11:22:00:00:01"], good["mac"]
assert good["mac"]["startMacAfter"] == "00:11:22:00:00:02", good["mac"]
assert bad["result"] == "failed" and bad["stages"]["mac"]["failure"] == "Can't login the router", bad
for record in (good, bad):
    text = open(os.path.join(station, record["transcript"]), encoding="utf-8").read()
    assert "] #1 -> " in text and "] #1 <- " in text, text[:500]
    assert "Pw-9x!" not in text, "a password in the transcript"
assert "Pw-9x!" not in "\n".join(lines)
print(station, ": 2 records, 2 transcripts, no password")
PY
}

# Through the dialog: vornix.exe stays open for both runs.
setup "$scratch/dialog" 'Pw-9x!'
(cd "$scratch/dialog" && wine_run "$build_dir/src/vornix.exe" >/dev/null 2>&1) &
vornix=$!
wine_run_within 180 "$build_dir/tests/dialog_driver.exe" run-mac >"$scratch/dialog-good.log"
sed -i 's/^Telnet Password=.*/Telnet Password=wrong/' "$scratch/dialog/setup.ini"
wine_run_within 180 "$build_dir/tests/dialog_driver.exe" run-mac >"$scratch/dialog-bad.log" || true
wine_run "$build_dir/tests/dialog_driver.exe" close || true
for _ in $(seq 100); do kill -0 "$vornix" 2>/dev/null || break; sleep 0.1; done
vornix=
check_station "$scratch/dialog"

# With vornix-cli.exe.
setup "$scratch/cli" 'Pw-9x!'
(cd "$scratch/cli" && wine_run_within 180 "$build_dir/src/vornix-cli.exe" --mac >"$scratch/cli-good.log" 2>/dev/null)
sed -i 's/^Telnet Password=.*/Telnet Password=wrong/' "$scratch/cli/setup.ini"
status=0
(cd "$scratch/cli" && wine_run_within 180 "$build_dir/src/vornix-cli.exe" --mac >/dev/null 2>&1) || status=$?
[ "$status" -eq 1 ] || { echo "a run with a wrong password must exit 1, not $status"; exit 1; }
check_station "$scratch/cli"
(cd "$scratch/cli" && wine_run_within 60 "$build_dir/src/vornix-cli.exe" --history >"$scratch/history.txt" 2>&1)
cat "$scratch/history.txt"
grep -q "127.0.0.96         mac                  succeeded  00:11:22:00:00:00" "$scratch/history.txt"
grep -q "127.0.0.96         mac                  failed     -" "$scratch/history.txt"
diff -u "$scratch/cli-good.log" "$scratch/dialog-good.log" || { echo "the dialog and vornix-cli.exe logged differently"; exit 1; }

# Prompt pacing: the same log as the fixed pacing's, in less time.
setup "$scratch/paced" 'Pw-9x!' prompt
started=$(date +%s%N)
(cd "$scratch/paced" && wine_run_within 180 "$build_dir/src/vornix-cli.exe" --mac >"$scratch/paced.log" 2>/dev/null)
took=$(( ($(date +%s%N) - started) / 1000000 ))
diff -u "$scratch/cli-good.log" "$scratch/paced.log" || { echo "prompt pacing logged differently"; exit 1; }
echo "records of both front ends checked; the prompt-paced run took $took ms and logged the same lines"
