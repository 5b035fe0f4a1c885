#!/usr/bin/env bash
# vornix.exe's gang window under Wine on a virtual screen, in
# tests/support/gang-bed: N BusyBox routers (4 unless told) all at
# 192.168.1.1, one behind each port, router 3's password not the station's.
# The operator's steps go through the window's controls (gang_driver.exe):
# Start (Enter) runs every port; Escape while ports run asks, names them,
# and No lets the run go on; every tile ends with its port's true result
# and first MAC, as the journal says; port 3's tile shows its failure line,
# and a double click shows its whole log; Escape with nothing running ends
# the program unasked. A second run left with Yes (port 1 held at its
# verify, so that a run is still going) ends every port's process;
# the next start records the killed runs as interrupted. The window opens
# with [GANG] naming one port fewer; the last is added before Start, which
# reads the section again and runs every port. Screenshots, mid-run and finished, go to
# BUILD_DIR/screenshots/gang-N-running.png and gang-N-finished.png. Then,
# with [SERIAL] Source=scan, serials scanned into the tiles (a shot in
# gang-N-serials.png): only the tiles with one run, each for its unit.
# VORNIX_WINE_DPI=144 shows it at that DPI (96 unless told; shots then named
# gang-N-DPI-*.png).
# Usage: gang_window_under_wine.sh SOURCE_DIR BUILD_DIR [N]
set -euo pipefail
source_dir=$1 build_dir=$2 ports=${3:-4}
bed_tool=$source_dir/tests/support/gang-bed bed=vxwine-gw$ports prefix=$build_dir/wineprefix-gang-x11
shots=$build_dir/screenshots
[ "$(id -u)" -eq 0 ] || { echo "SKIPPED: needs root (network namespaces)"; exit 77; }
[ -r "$bed_tool" ] || { echo "SKIPPED: no tests/support/gang-bed"; exit 77; }
scratch=$(mktemp -d)
in_station() { ip netns exec "$bed-st" "$@"; }
xvfb=
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  bash "$bed_tool" down "$bed" >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM  # ctest's time-out too: the namespaces go on every way out

# A prefix with the real graphics driver: the null driver draws nothing.
"$source_dir/scripts/wine-prefix" "$prefix" x11
status=0
bash "$bed_tool" up "$bed" "$ports" --password 3:not-the-station-s >"$scratch/bed.log" 2>&1 || status=$?
[ "$status" -ne 77 ] || { echo "SKIPPED: $(cat "$scratch/bed.log")"; exit 77; }
[ "$status" -eq 0 ] || { cat "$scratch/bed.log"; exit 1; }

display=:$((200 + RANDOM % 100))
in_station Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
export DISPLAY=$display WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
# Wine makes sockets in its server: the server runs in the station's namespace.
wineserver -k 2>/dev/null || true
in_station wineserver -p </dev/null >/dev/null 2>&1
dpi=${VORNIX_WINE_DPI:-96} shot=gang-$ports
[ "$dpi" = 96 ] || shot=gang-$ports-$dpi
# The prefix outlives the test: its DPI is set on every run.
in_station "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1

mkdir "$scratch/station"
cp "$source_dir/samples/setup.ini" "$scratch/station/setup.ini"
# The window opens with one port fewer; the last is added to [GANG] before
# Start, which reads the section again and runs every port.
opened=$((ports > 1 ? ports - 1 : ports))
printf '[GANG]\nPorts=%d\n' "$opened" >>"$scratch/station/setup.ini"
for k in $(seq "$ports"); do printf 'Port%d=veth%d\nPort%d_PC_IP=192.168.1.%d\n' "$k" "$k" "$k" $((100 + k)); done \
  >>"$scratch/station/setup.ini"

(cd "$scratch/station" && in_station timeout 600 "$wine" "$build_dir/src/vornix.exe" >"$scratch/exe.out" 2>&1) &
program=$!
driver() { in_station timeout 300 "$wine" "$build_dir/tests/gang_driver.exe" "$@"; }

# A window is drawn after it is shown: shots until two in a row agree (at most 60).
mkdir -p "$shots"
shoot() {
  local last= now
  for _ in $(seq 60); do
    import -display "$display" -window root "$1"
    now=$(identify -format '%#' "$1")
    [ "$now" = "$last" ] && return 0
    last=$now
    sleep 0.3
  done
}

driver wait >"$scratch/idle.txt"
sed -i "s/^Ports=$opened\r\?\$/Ports=$ports/" "$scratch/station/setup.ini"
driver start >"$scratch/running.txt"
driver escape-no >"$scratch/question.txt"
driver wait-mac >/dev/null
shoot "$shots/$shot-running.png"
driver wait-done >"$scratch/done.txt"
shoot "$shots/$shot-finished.png"
driver log 3 >"$scratch/log3.txt"
shoot "$shots/$shot-log.png"
driver log-close >/dev/null
driver close
ours() {  # the station namespace's processes of vornix.exe
  local pid
  for pid in $(ip netns pids "$bed-st" 2>/dev/null); do
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q 'vornix\.exe' && echo "$pid"
  done
  return 0
}
gone() {  # vornix.exe and every port's process have ended (a bound for a hang, not a speed)
  local i
  for i in $(seq 600); do
    if ! kill -0 "$program" 2>/dev/null && [ -z "$(ours)" ]; then
      [ "$i" -le 100 ] || echo "(the processes took $((i / 10)) s to end)"
      return 0
    fi
    sleep 0.1
  done
  return 1
}
gone || { echo "vornix.exe did not end after Escape"; exit 1; }
cp "$scratch/station/vornix-journal.jsonl" "$scratch/first-journal.jsonl"

# Again, left while the ports write: Yes ends them all; the next start
# records them. (setup.ini has every port from now on.)
# Port 1 holds at its verify, so that Yes finds a run to end however soon
# the others start or end.
gate=$scratch/hold-gate
(cd "$scratch/station" && VORNIX_TEST_HOLD_AT=Verifying VORNIX_TEST_HOLD_PORT=1 VORNIX_TEST_HOLD_GATE="Z:${gate//\//\\}" \
  in_station timeout 600 "$wine" "$build_dir/src/vornix.exe" >"$scratch/exe.out" 2>&1) &
program=$!
driver start >/dev/null
for _ in $(seq 1200); do [ -e "$gate.held" ] && break; sleep 0.1; done  # a bound for a hang
[ -e "$gate.held" ] || { echo "port 1 never reached its verify"; exit 1; }
driver escape-yes >"$scratch/leave.txt"
gone || {
  echo "a process of vornix.exe outlived the window left with Yes:"
  for pid in $(ours); do echo "  $pid: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"; done
  exit 1
}
(cd "$scratch/station" && in_station timeout 600 "$wine" "$build_dir/src/vornix.exe" >"$scratch/exe.out" 2>&1) &
program=$!
driver wait >/dev/null
driver close
gone || { echo "vornix.exe did not end after Escape"; exit 1; }
for f in idle running question done log3 leave; do echo "== $f"; cat "$scratch/$f.txt"; done

/usr/bin/python3 - "$scratch" "$ports" "$opened" <<'PY'
import json, re, sys
scratch, ports, opened = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def tiles(name):
    rows = {}
    for line in open("%s/%s.txt" % (scratch, name), encoding="cp1252").read().splitlines():
        fields = line.split("|")
        if fields[0].isdigit(): rows[int(fields[0])] = fields[1:7]
    return rows
idle, running, done = tiles("idle"), tiles("running"), tiles("done")
assert sorted(idle) == list(range(1, opened + 1)), idle
assert sorted(running) == list(range(1, ports + 1)), running
for k, (title, state, stage, mac, time, last) in idle.items():
    assert (title, state, stage, time) == ("Port %d: veth%d" % (k, k), "IDLE", "", ""), idle[k]
assert all(row[1].startswith("RUNNING") or row[1] == "FAILED" for row in running.values()), running

question = [l for l in open(scratch + "/question.txt").read().splitlines() if l.startswith("question|")][0]
match = re.match(r"question\|Ports? ([\d, and]+) (is|are) still running\. Leaving now stops (its run|their runs) "
                 r"and may leave (its router|their routers) half-written\.  Leave anyway\?$", question)
assert match, question
named = {int(n) for n in re.findall(r"\d+", match.group(1))}
assert named and named <= {k for k, row in running.items() if row[1].startswith("RUNNING")}, (named, running)

records = {}
for line in open(scratch + "/first-journal.jsonl", encoding="utf-8"):
    record = json.loads(line)
    records[record["port"]] = record
assert sorted(records) == list(range(1, ports + 1)), sorted(records)
macs = set()
for k, (title, state, stage, mac, time, last) in done.items():
    record = records[k]
    if k == 3:
        assert (state, stage, last) == ("FAILED", "Stage: MAC Writing", "Can't login the router"), done[k]
        assert record["result"] == "failed", record
        assert mac == "First MAC: -", done[k]
    else:
        assert state == "PASSED" and record["result"] == "succeeded", (done[k], record["result"])
        first = record["mac"]["addresses"][0]["written"]
        assert mac == "First MAC: " + first, (done[k], first)
        assert first not in macs
        macs.add(first)
    assert re.match(r"Time: \d+:\d\d$", time), done[k]
summary = [l for l in open(scratch + "/done.txt").read().splitlines() if l.startswith("summary|")][0]
assert summary == "summary|Done: %d passed, 1 failed" % (ports - 1), summary

log = [l[4:] for l in open(scratch + "/log3.txt", encoding="cp1252").read().splitlines() if l.startswith("log|")]
assert log == records[3]["log"] or log == [l.replace("\r", "\\r").replace("\n", "\\n") for l in records[3]["log"]], \
    (log, records[3]["log"])
assert "Can't login the router" in log, log
# The second run: a record at most for each port (a port killed before its
# run began has none), the ports killed by Yes interrupted.
second = [json.loads(line) for line in open(scratch + "/station/vornix-journal.jsonl", encoding="utf-8")][ports:]
numbers = [r["port"] for r in second]
assert len(numbers) == len(set(numbers)) and set(numbers) <= set(range(1, ports + 1)), numbers
killed = [r["port"] for r in second if r["result"] == "interrupted"]
assert killed, [(r["port"], r["result"]) for r in second]
print("the ports killed when the operator left: %s, recorded interrupted at the next start" % killed)
print("every tile shows its port's true result and first MAC; port 3's its failure line and its whole log")
PY

# Serials scanned into the tiles: each scan fills the first tile without
# one, a click on a tile's serial clears it, a serial on one tile is not
# taken for another, and Start runs only the tiles that have one; a unit
# that passed leaves its tile, one that failed keeps its serial.
journaled=$(wc -l <"$scratch/station/vornix-journal.jsonl")
printf '[SERIAL]\nSource=scan\nName=SerialNumber\n' >>"$scratch/station/setup.ini"
(cd "$scratch/station" && in_station timeout 600 "$wine" "$build_dir/src/vornix.exe" >"$scratch/exe.out" 2>&1) &
program=$!
driver wait >/dev/null
for serial in VX0001 VX0002 VX0003; do driver scan "$serial" >/dev/null; done
driver clear 2 >/dev/null
driver scan VX0001 >"$scratch/scanned.txt"
shoot "$shots/$shot-serials.png"
driver start >/dev/null
driver wait-done >"$scratch/serials.txt"
driver close
gone || { echo "vornix.exe did not end after Escape"; exit 1; }
for f in scanned serials; do echo "== $f"; cat "$scratch/$f.txt"; done
/usr/bin/python3 - "$scratch" "$ports" "$journaled" <<'PY'
import json, sys
scratch, ports, journaled = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def rows(name):
    return {int(l.split("|")[0]): l.split("|")[1:] for l in open("%s/%s.txt" % (scratch, name), encoding="cp1252")
            .read().splitlines() if l.split("|")[0].isdigit()}
said = [l for l in open(scratch + "/scanned.txt").read().splitlines() if l.startswith("said|")]
assert said == ["said|VX0001 is port 1's already"], said
scanned = rows("scanned")
assert [scanned[k][6] for k in (1, 2, 3)] == ["Serial: VX0001", "Serial: -", "Serial: VX0003"], scanned
records = [json.loads(l) for l in open(scratch + "/station/vornix-journal.jsonl", encoding="utf-8")][journaled:]
assert sorted((r["port"], r["serial"], r["result"]) for r in records) == \
    [(1, "VX0001", "succeeded"), (3, "VX0003", "failed")], [(r["port"], r.get("serial"), r["result"]) for r in records]
done = rows("serials")
assert (done[1][1], done[1][6]) == ("PASSED", "Serial: -"), done[1]
assert (done[3][1], done[3][6]) == ("FAILED", "Serial: VX0003"), done[3]
for k in range(4, ports + 1):
    assert done[k][1] == "NOT RUN" and done[k][6] == "Serial: -", done[k]
assert done[2][1] == "NOT RUN", done[2]
units = open(scratch + "/station/vornix-units.txt").read()
assert units.startswith("VX0001 ") and "VX0003" not in units, units
print("scanned serials fill the tiles in slot order; only the tiles with one ran, each run for its unit")
PY
