#!/usr/bin/env bash
# The Windows build's router login, under Wine, against the native simulated
# router on loopback: the login succeeds and the router received exactly the
# station's dialogue. Usage: login_under_wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
routersim=$source_dir/build/native/tools/routersim/routersim
if [ ! -x "$routersim" ]; then
  echo "SKIPPED: the native routersim is not built (cmake --build --preset native)"
  exit 77
fi
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
for _ in $(seq 100); do (exec 3<>"/dev/tcp/$address/23") 2>/dev/null && break; sleep 0.05; done

# That probe connection counts as the router's first; the login is its second.
output=$(cd "$scratch/station" && "$source_dir/scripts/wine-run" "$build_dir/wineprefix" "$build_dir/tests/login_check.exe" "$address" | tr -d '\r')
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
