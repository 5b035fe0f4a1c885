#!/usr/bin/env bash
# Shows vornix.exe on a virtual screen (Xvfb) and takes screenshots of the
# dialog and of its About box into the build tree, for a person to look at.
# Usage: screenshot.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
shots=$build_dir/screenshots
mkdir -p "$shots"
rm -f "$shots"/dialog.png "$shots"/about.png

# A prefix with the real graphics driver: the null driver draws nothing.
prefix=$build_dir/wineprefix-x11
"$source_dir/scripts/wine-prefix" "$prefix" x11

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
scratch=$(mktemp -d)
cleanup() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
export DISPLAY=$display WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done

# A window is drawn after it is shown: shots until two in a row agree, show
# more than a flat colour and differ from the shot given, if any (at most
# 100 shots).
shoot() {  # file [earlier file]
  local earlier=${2:+$(identify -format '%#' "$2")} last= now
  for _ in $(seq 100); do
    import -display "$display" -window root "$1"
    now=$(identify -format '%#' "$1")
    [ "$now" = "$last" ] && [ "$now" != "$earlier" ] && [ "$(identify -format '%k' "$1")" -gt 8 ] && return 0
    last=$now
    sleep 0.3
  done
}

cp "$source_dir/samples/setup.ini" "$scratch/"
(cd "$scratch" && "$wine" "$build_dir/src/vornix.exe" >/dev/null 2>&1 &)
"$wine" "$build_dir/tests/dialog_driver.exe" wait
shoot "$shots/dialog.png"
"$wine" "$build_dir/tests/dialog_driver.exe" about
shoot "$shots/about.png" "$shots/dialog.png"
"$wine" "$build_dir/tests/dialog_driver.exe" close

# A screenshot that is one flat colour shows nothing.
for shot in dialog about; do
  colours=$(identify -format '%k' "$shots/$shot.png")
  echo "$shot.png: $colours colours"
  [ "$colours" -gt 8 ] || { echo "$shot.png shows nothing" >&2; exit 1; }
done
