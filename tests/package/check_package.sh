#!/usr/bin/env bash
# The zip and the .deb that scripts/package left in dist/, as a station and a
# Debian machine get them. Usage: check_package.sh CASE SOURCE_DIR VERSION
#   zip       exactly the station's files, the text files with CRLF
#   resources the three Windows programs carry the version
#   deb       vornix-cli and routersim in /usr/bin, nothing else; the
#             package's fields; every library they load is a declared dependency
#   deb-run   vornix-cli unpacked from the .deb names the version and serves
#             the line view's pages and API until SIGTERM
set -euo pipefail
export LC_ALL=C
case_name=$1 source_dir=$2 version=$3
dist=$source_dir/dist
zip=$dist/vornix-$version-win64.zip
deb=$dist/vornix-cli_${version}_amd64.deb
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

need() { [ -f "$1" ] || { echo "SKIPPED: $1 is missing: run bash scripts/package"; exit 77; }; }
fail() { echo "FAILED: $*"; exit 1; }

case $case_name in
zip)
  need "$zip"
  listed=$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')
  expected="README.txt flashsim.exe label.zpl setup.ini vornix-cli.exe vornix.exe "
  [ "$listed" = "$expected" ] || fail "the zip holds: $listed; expected: $expected"
  for text in setup.ini label.zpl README.txt; do
    unzip -p "$zip" "$text" >"$scratch/$text"
    ! grep -qv $'\r$' "$scratch/$text" || fail "$text has a line without CRLF: $(grep -nv $'\r$' "$scratch/$text" | head -1)"
  done
  tr -d '\r' <"$scratch/setup.ini" | cmp -s - "$source_dir/samples/setup.ini" || fail "setup.ini is not the sample"
  tr -d '\r' <"$scratch/label.zpl" | cmp -s - "$source_dir/samples/label.zpl" || fail "label.zpl is not the sample"
  grep -q "^Vornix $version: " "$scratch/README.txt" || fail "README.txt does not name version $version"
  echo "the zip holds $listed with CRLF text files"
  ;;
resources)
  need "$zip"
  (cd "$scratch" && unzip -q "$zip" vornix.exe vornix-cli.exe flashsim.exe)
  IFS=. read -r major minor patch <<<"$version"
  for program in vornix vornix-cli flashsim; do
    x86_64-w64-mingw32-windres -i "$scratch/$program.exe" -O rc >"$scratch/$program.rc" || fail "$program.exe: no resources"
    for line in " FILEVERSION $major, $minor, $patch, 0" " PRODUCTVERSION $major, $minor, $patch, 0" \
        "      VALUE \"FileVersion\", \"$version\"" "      VALUE \"ProductVersion\", \"$version\"" \
        "      VALUE \"ProductName\", \"Vornix\"" "      VALUE \"OriginalFilename\", \"$program.exe\""; do
      grep -qxF "$line" "$scratch/$program.rc" || fail "$program.exe lacks: $line"
    done
  done
  # The About box's label, as the dialog template holds it.
  grep -qF "CONTROL \"Vornix Version $version\"" "$scratch/vornix.rc" || fail "the About box does not name $version"
  echo "vornix.exe, vornix-cli.exe and flashsim.exe carry version $version"
  ;;
deb)
  need "$deb"
  listed=$(dpkg-deb -c "$deb" | awk '$6 != "./" {print $1, $6}' | tr '\n' ' ')
  expected="drwxr-xr-x ./usr/ drwxr-xr-x ./usr/bin/ -rwxr-xr-x ./usr/bin/routersim -rwxr-xr-x ./usr/bin/vornix-cli "
  [ "$listed" = "$expected" ] || fail "the .deb holds: $listed; expected: $expected"
  field() { dpkg-deb -f "$deb" "$1"; }
  [ "$(field Package)" = vornix-cli ] || fail "Package: $(field Package)"
  [ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
  [ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
  [ -n "$(field Maintainer)" ] || fail "no Maintainer"
  [ -n "$(field Description)" ] || fail "no Description"
  depends=$(field Depends)
  # The package names in Depends, one a line, versions and alternatives undone.
  depended=$(sed -e 's/([^)]*)//g' -e 's/[,|]/\n/g' <<<"$depends" | tr -d ' ')
  # Every library the two programs load comes from a package the .deb depends on.
  dpkg-deb -x "$deb" "$scratch/root"
  for program in vornix-cli routersim; do
    for library in $(objdump -p "$scratch/root/usr/bin/$program" | awk '$1 == "NEEDED" {print $2}'); do
      owners=$(dpkg -S "x86_64-linux-gnu/$library" 2>/dev/null |
               awk -F': ' -v tail="/x86_64-linux-gnu/$library" \
                   'substr($2, length($2) - length(tail) + 1) == tail {sub(/:.*/, "", $1); print $1}')
      [ -n "$owners" ] || fail "$program loads $library, which no installed package provides"
      declared=no
      for owner in $owners; do
        grep -qxF "$owner" <<<"$depended" && declared=yes
      done
      [ $declared = yes ] || fail "$program loads $library of $owners, not in Depends: $depends"
    done
  done
  grep -qxF iproute2 <<<"$depended" || fail "iproute2 (ip neigh flush) is not in Depends: $depends"
  echo "the .deb holds /usr/bin/vornix-cli and /usr/bin/routersim; Depends: $depends"
  ;;
deb-run)
  need "$deb"
  dpkg-deb -x "$deb" "$scratch/root"
  status=0
  timeout 30 "$scratch/root/usr/bin/vornix-cli" --version >"$scratch/out" 2>"$scratch/err" || status=$?
  [ $status -eq 0 ] || fail "vornix-cli --version exited $status: $(cat "$scratch/err")"
  printf 'vornix-cli %s\n' "$version" | cmp -s - "$scratch/out" || fail "vornix-cli --version printed: $(cat "$scratch/out")"
  echo "the unpacked vornix-cli prints: $(cat "$scratch/out")"
  # The line view, as a line's Linux server runs it.
  mkdir "$scratch/station"
  cp "$source_dir/samples/setup.ini" "$scratch/station/"
  (cd "$scratch/station" && exec "$scratch/root/usr/bin/vornix-cli" --serve 127.0.0.174:18091) \
    >"$scratch/serve.out" 2>"$scratch/serve.err" &
  server=$!
  for _ in $(seq 100); do grep -q "serving the line view" "$scratch/serve.out" && break; sleep 0.1; done
  fetched=$(python3 - <<'PY' 2>&1
import json, urllib.request
page = urllib.request.urlopen("http://127.0.0.174:18091/", timeout=10).read().decode()
summary = json.load(urllib.request.urlopen("http://127.0.0.174:18091/api/summary", timeout=10))
print("page" if "<html" in page.lower() else "no page", summary["runs"])
PY
) || true
  kill -TERM $server
  status=0
  wait $server || status=$?
  [ "$fetched" = "page 0" ] || fail "the unpacked vornix-cli --serve answered: $fetched; it said: $(cat "$scratch/serve.out" "$scratch/serve.err")"
  [ $status -eq 0 ] || fail "vornix-cli --serve exited $status after SIGTERM"
  echo "the unpacked vornix-cli serves the line view: $(head -1 "$scratch/serve.out")"
  ;;
*)
  echo "usage: check_package.sh zip|resources|deb|deb-run SOURCE_DIR VERSION" >&2
  exit 2
  ;;
esac
