#!/usr/bin/env bash
# The Windows build's router login, under Wine, against the native simulated
# router on loopback: the login succeeds and the router received exactly the
# station's dialogue. Usage: login_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
source "$(dirname "$0")/wine-run-lib.sh"
need_native tools/routersim/routersim
routersim=$native/tools/routersim/routersim
address=127.0.0.91
scratch=$(mktemp -d)
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$scratch/dump" "$scratch/station"
printf '[Environment]\r\nTELNETWAITTIME(ms)=300\r\n[SETUP]\r\nTelnet Username=admin\r\nTelnet Password=secret\r\n' \
  >"$scratch/station/setup.ini"
"$routersim" --address "$address" --password secret --dump-dir "$scratch/dump" 2>"$scratch/routersim.log" &
pid=$!
wait_for "$address" 23

# That probe connection counts as the router's first; the login is its second.
output=$(cd "$scratch/station" && wine_run "$build_dir/tests/login_check.exe" "$address" | tr -d '\r')
kill -TERM "$pid"
wait "$pid" || true
pid=
echo "$output"
[ "$output" = "login 1" ] || { cat "$scratch/routersim.log"; exit 1; }
printf 'admin\r\nsecret\r\ncd /proc/ticfg\r\nls env\r\ncat env\r\n' >"$scratch/expected"
received=$(ls "$scratch"/dump/received-*.bin | sort -V | tail -1)
if ! cmp -s "$received" "$scratch/expected"; then
  echo "the router received:"; od -c "$received" | head -20
  exit 1
fi
echo "the router received exactly the login dialogue"
