#!/usr/bin/env bash
# The installer that scripts/package left in dist/, under Wine, in a prefix of
# its own that is thrown away afterwards.
# Usage: installer_under_wine.sh CASE SOURCE_DIR BUILD_DIR VERSION
#   lifecycle  /S installs the files, the shortcut and the Add/Remove entry;
#              the shortcut starts vornix.exe in the install folder and its
#              dialog shows; vornix-cli.exe there names the version; the
#              Add/Remove entry's quiet uninstall removes all of it but setup.ini
#              and label.zpl
#   keep       a station's own setup.ini and label.zpl survive an install and an uninstall
set -euo pipefail
case_name=$1 source_dir=$2 build_dir=$3 version=$4
setup=$source_dir/dist/vornix-$version-setup.exe
[ -f "$setup" ] || { echo "SKIPPED: $setup is missing: run bash scripts/package"; exit 77; }
driver=$build_dir/tests/dialog_driver.exe
[ -f "$driver" ] || { echo "SKIPPED: $driver is not built"; exit 77; }

scratch=$(mktemp -d)
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all
# No crash dialog, and no menu entries on this machine for the shortcut.
export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
cleanup() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }

"$source_dir/scripts/wine-prefix" "$WINEPREFIX"
install_dir=$WINEPREFIX/drive_c/Program\ Files/Vornix
shortcut=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Vornix.lnk
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vornix'

# A Windows program with a time limit. Its output goes to files, never to our
# caller's pipe: the Wine server and services it starts would inherit that
# and hold it open.
run() {
  local status=0
  timeout 120 "$wine" "$@" </dev/null >"$scratch/out" 2>"$scratch/err" || status=$?
  tr -d '\r' <"$scratch/out" >"$scratch/out.txt"
  return $status
}
# Until every process of the prefix has ended. The server is not persistent
# here, so it ends a moment after its last process, and "wineserver -w"
# returns then. This is how the uninstaller is waited for: it copies itself
# to a temporary folder, starts that copy and returns at once, and only the
# copy can remove uninstall.exe.
settle() { timeout 120 wineserver -w </dev/null >/dev/null 2>&1 || fail "Wine processes still running after 120 s"; }

install() {
  # wine runs the installer in its own process and returns when it has ended,
  # with its exit status (cmd would need "start /wait" for this GUI program);
  # settle() then waits for anything it may have left running.
  run "$setup" /S || fail "the installer exited $? : $(cat "$scratch/err")"
  settle
}
uninstall() {
  run reg query "$uninstall_key" /v QuietUninstallString || fail "no QuietUninstallString"
  grep -qF 'QuietUninstallString    REG_SZ    "C:\Program Files\Vornix\uninstall.exe" /S' "$scratch/out.txt" ||
    fail "QuietUninstallString: $(cat "$scratch/out.txt")"
  run 'C:\Program Files\Vornix\uninstall.exe' /S || fail "the uninstaller exited $?"
  settle
}
files() { (cd "$install_dir" && LC_ALL=C ls -A | tr '\n' ' '); }

case $case_name in
lifecycle)
  install
  [ "$(files)" = "README.txt flashsim.exe label.zpl setup.ini uninstall.exe vornix-cli.exe vornix.exe " ] ||
    fail "installed: $(files)"
  tr -d '\r' <"$install_dir/setup.ini" | cmp -s - "$source_dir/samples/setup.ini" ||
    fail "the installed setup.ini is not the sample"
  [ -f "$shortcut" ] || fail "no Start-menu shortcut"
  run reg query "$uninstall_key" || fail "no Add/Remove entry"
  for value in "DisplayName    REG_SZ    Vornix" "DisplayVersion    REG_SZ    $version" \
      'UninstallString    REG_SZ    "C:\Program Files\Vornix\uninstall.exe"'; do
    grep -qxF "    $value" "$scratch/out.txt" || fail "the Add/Remove entry lacks $value: $(cat "$scratch/out.txt")"
  done
  echo "installed: $(files)"

  # The operator's way in: the Start-menu shortcut.
  run start 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Vornix.lnk' || fail "start of the shortcut failed"
  run "$driver" wait || fail "no Vornix dialog appeared: $(cat "$scratch/err")"
  # The program reads setup.ini from its current folder: Wine keeps a
  # process's Unix current directory on its Windows one.
  pid=
  for candidate in $(pgrep -f 'C:\\Program Files\\Vornix\\vornix.exe' || true); do
    tr '\0' '\n' <"/proc/$candidate/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && pid=$candidate
  done
  [ -n "$pid" ] || fail "no vornix.exe process of this prefix"
  [ "$(readlink "/proc/$pid/cwd")" = "$install_dir" ] || fail "vornix.exe started in $(readlink "/proc/$pid/cwd")"
  run "$driver" close || true
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  ! kill -0 "$pid" 2>/dev/null || fail "vornix.exe did not end when its dialog was closed"
  echo "the shortcut started vornix.exe in the install folder and its dialog showed"

  (cd "$install_dir" && run 'C:\Program Files\Vornix\vornix-cli.exe' --version) || fail "vornix-cli.exe --version exited $?"
  printf 'vornix-cli %s\n' "$version" | cmp -s - "$scratch/out" || fail "vornix-cli.exe --version printed: $(cat "$scratch/out")"
  echo "vornix-cli.exe --version: $(cat "$scratch/out")"

  uninstall
  [ "$(files)" = "label.zpl setup.ini " ] || fail "left after the uninstall: $(files)"
  [ ! -e "$shortcut" ] || fail "the shortcut is still there"
  ! run reg query "$uninstall_key" || fail "the Add/Remove entry is still there"
  echo "uninstalled, setup.ini and label.zpl left"
  ;;
keep)
  mkdir -p "$install_dir"
  printf '[SETUP]\r\nCPE_LAN_IP=127.0.0.98\r\n[WRITE_MAC]\r\nstart_mac=00:11:22:33:44:55\r\n' >"$install_dir/setup.ini"
  cp "$install_dir/setup.ini" "$scratch/station.ini"
  printf '^XA^FO20,20^FDOur own {MAC}^FS^XZ\r\n' >"$install_dir/label.zpl"
  cp "$install_dir/label.zpl" "$scratch/station.zpl"
  install
  [ -f "$install_dir/vornix.exe" ] || fail "not installed: $(files)"
  cmp -s "$install_dir/setup.ini" "$scratch/station.ini" || fail "the install changed the station's setup.ini"
  cmp -s "$install_dir/label.zpl" "$scratch/station.zpl" || fail "the install changed the station's label.zpl"
  uninstall
  cmp -s "$install_dir/setup.ini" "$scratch/station.ini" || fail "the uninstall changed the station's setup.ini"
  cmp -s "$install_dir/label.zpl" "$scratch/station.zpl" || fail "the uninstall changed the station's label.zpl"
  echo "the station's setup.ini and label.zpl survived an install and an uninstall, byte for byte"
  ;;
*)
  echo "usage: installer_under_wine.sh lifecycle|keep SOURCE_DIR BUILD_DIR VERSION" >&2
  exit 2
  ;;
esac
