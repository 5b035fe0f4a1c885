# Shared by the Wine run scripts of this folder; sourced after they set
# source_dir and build_dir.
native=$source_dir/build/native

# A Windows program of the build tree, in its prefix.
wine_run() { "$source_dir/scripts/wine-run" "$build_dir/wineprefix" "$@"; }
# The same with a time limit in seconds, for runs that could hang.
wine_run_within() { local seconds=$1; shift; timeout "$seconds" "$source_dir/scripts/wine-run" "$build_dir/wineprefix" "$@"; }

# Until something listens on address $1, port $2 (at most 5 s).
wait_for() { for _ in $(seq 100); do (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null && return 0; sleep 0.05; done; return 1; }

# Skips the test (status 77) when a prerequisite is missing.
need_native() {
  for program in "$@"; do
    [ -x "$native/$program" ] || { echo "SKIPPED: the native $program is not built (cmake --build --preset native)"; exit 77; }
  done
}
need_pyftpdlib() { /usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null || { echo "SKIPPED: python3-pyftpdlib is missing"; exit 77; }; }

# flashsim is found through the registry, as the vendor's tool is: in the
# 32-bit view, where a 32-bit tool's installer writes.
register_flashsim() {
  local tool_dir
  tool_dir=$(printf 'Z:%s\\' "$build_dir/tools/flashsim" | tr / '\\')
  wine_run reg add 'HKLM\Software\Vornix\FlashSim' /v Path /d "$tool_dir" /f /reg:32 >/dev/null 2>&1
}
