#!/usr/bin/env bash
# vornix-cli.exe --gang --mac under Wine in tests/support/gang-bed: BusyBox
# routers 1-3 all at 192.168.1.1, one behind each port; port 1 named by its
# alias, port 2 by its index, port 3's adapter set down, port 4's missing.
# Routers 1 and 2 each get a block of their own; ports 3 and 4 say why they
# do not run. Wine makes sockets in its server, so a prefix of the test's own
# has its server in the station's namespace; Wine ignores IP_UNICAST_IF, and
# the bed's rules by source address carry each port's connection, bound to
# its address (docs/architecture.md, "Gang ports under Wine").
# Usage: gang_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
bed_tool=$source_dir/tests/support/gang-bed bed=vxwine-gang prefix=$build_dir/wineprefix-gang
[ "$(id -u)" -eq 0 ] || { echo "SKIPPED: needs root (network namespaces)"; exit 77; }
[ -r "$bed_tool" ] || { echo "SKIPPED: no tests/support/gang-bed"; exit 77; }
scratch=$(mktemp -d)
in_station() { ip netns exec "$bed-st" "$@"; }
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  bash "$bed_tool" down "$bed" >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM  # ctest's time-out too: the namespaces go on every way out

"$source_dir/scripts/wine-prefix" "$prefix"
status=0
bash "$bed_tool" up "$bed" 3 >"$scratch/bed.log" 2>&1 || status=$?
[ "$status" -ne 77 ] || { echo "SKIPPED: $(cat "$scratch/bed.log")"; exit 77; }
[ "$status" -eq 0 ] || { cat "$scratch/bed.log"; exit 1; }
in_station ip link set veth3 down
index=$(in_station cat /sys/class/net/veth2/ifindex)
# A server left outside the namespace by an earlier run would make the sockets there.
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
in_station env WINEPREFIX="$prefix" wineserver -p </dev/null >/dev/null 2>&1

mkdir "$scratch/station"
sed -e 's/^TELNETWAITTIME(ms)=.*/TELNETWAITTIME(ms)=1000/' -e 's/^Pacing=.*/Pacing=prompt/' \
  "$source_dir/samples/setup.ini" >"$scratch/station/setup.ini"
printf '[GANG]\nPorts=4\nPort1=veth1\nPort2=%s\nPort3=veth3\nPort4=vxw-none\n' "$index" >>"$scratch/station/setup.ini"
for k in 1 2 3 4; do echo "Port${k}_PC_IP=192.168.1.10$k" >>"$scratch/station/setup.ini"; done

status=0
(cd "$scratch/station" && in_station timeout 300 "$source_dir/scripts/wine-run" "$prefix" \
  "$build_dir/src/vornix-cli.exe" --gang --mac >"$scratch/out.txt" 2>"$scratch/err.txt") || status=$?
echo "== vornix-cli.exe --gang --mac: exit status $status"
cat "$scratch/out.txt" "$scratch/err.txt"
[ "$status" -eq 0 ] || { echo "the gang must exit 0 when both ports that ran passed"; exit 1; }

hardware() { ip netns exec "$bed-r$1" cat /sys/class/net/eth0/address; }
/usr/bin/python3 - "$scratch/out.txt" "$(awk '$1 == "dir" { print $2 }' "$scratch/bed.log")" "$index" \
  "$scratch/station/vornix-journal.jsonl" "$(hardware 1)" "$(hardware 2)" <<'PY'
import json, os, re, sys
out, bed, index, journal, first, second = sys.argv[1:]
lines = open(out, encoding="utf-8").read().splitlines()
assert lines[-4:] == ["Port 1 (veth1): passed", "Port 2 (%s): passed" % index, "Port 3 (veth3): not run",
                      "Port 4 (vxw-none): not run"], lines[-4:]
assert "[3] Can't use port 3 (veth3): the adapter veth3 is down (no link)" in lines
assert "[4] Can't use port 4 (vxw-none): there is no network adapter vxw-none" in lines
def addresses(router):  # the MAC addresses in router K's store
    path = os.path.join(bed, "r%d/root/proc/ticfg/env" % router)
    text = open(path).read() if os.path.exists(path) else ""
    return set(re.findall(r"(?m)^\S+ (\S\S(?::\S\S){5})$", text))
# Two ports through one router would leave the other router bare.
assert addresses(1) | addresses(2) == {"00:11:22:00:00:0%d" % i for i in range(4)}, (addresses(1), addresses(2))
assert len(addresses(1)) == len(addresses(2)) == 2 and not addresses(3)
print("routers 1 and 2 each hold a block of their own; ports 3 and 4 said why they did not run")
# Wine's GetIpNetTable2 lists each port's router on that port's interface.
seen = {r["port"]: r.get("routerHardware") for r in map(json.loads, open(journal).read().splitlines())}
assert seen == {1: first.upper(), 2: second.upper()}, (seen, first, second)
print("each port's record names its own router's hardware address:", seen)
PY
