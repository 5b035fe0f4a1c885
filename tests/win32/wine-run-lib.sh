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

# A PostgreSQL server of the test's own, for the line database: pg_up starts
# a fresh cluster in $scratch on 127.0.0.1:$port with the role and database
# vornix_line (password $password), pg_down stops it and removes it. initdb
# refuses root: the cluster belongs to the postgres user. pg_up also gives
# the script's programs (native, and Wine's through its odbc32) a
# registration of the driver of their own, its log off: under Debian's
# (CommLog=1) each process that closed a connection leaves a
# /tmp/psqlodbc_*.log behind.
pg_bin() { ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1; }
as_postgres() { runuser -u postgres -- "$@"; }
# The live server of our data directory (a pid file may outlive its process).
postmaster() {
  local pid
  pid=$(head -1 "$scratch/data/postmaster.pid" 2>/dev/null) || return 1
  [ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "-D $scratch/data" && echo "$pid"
}
pg_stop() { postmaster >/dev/null && as_postgres "$(pg_bin)/pg_ctl" -D "$scratch/data" -m "$1" -w stop >/dev/null 2>&1; }
pg_start() {
  as_postgres "$(pg_bin)/pg_ctl" -D "$scratch/data" -l "$scratch/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$scratch -c fsync=off" start >/dev/null ||
    { cat "$scratch/server.log"; exit 1; }
}
# The server and all it started stop (STOP) or go on (CONT): a server that no
# longer answers while the kernel still accepts and acknowledges.
pg_signal() { local pid; pid=$(postmaster) || return 0; kill "-$1" "$pid"; pkill "-$1" -P "$pid" || true; }
sql() { as_postgres "$(pg_bin)/psql" -X -q -h "$scratch" -p "$port" -U postgres -d vornix_line -At -v ON_ERROR_STOP=1 -c "$1"; }
pg_up() {
  local bin
  bin=$(pg_bin)
  [ -n "$bin" ] && [ -x "$bin/initdb" ] || { echo "FAILED: no PostgreSQL server (scripts/install-deps)"; exit 1; }
  [ "$(id -u)" -eq 0 ] || { echo "FAILED: needs root to run the server as the postgres user"; exit 1; }
  # A server left by a crashed earlier run on this port goes first.
  pg_stop immediate || { stale=$(postmaster) && kill -9 "$stale"; } || true
  rm -rf "$scratch"
  mkdir -p "$scratch"
  chown postgres: "$scratch"
  mkdir "$scratch/odbc"
  printf '[PostgreSQL Unicode]\nDriver=psqlodbcw.so\nSetup=libodbcpsqlS.so\nDebug=0\nCommLog=0\n' >"$scratch/odbc/odbcinst.ini"
  export ODBCSYSINI=$scratch/odbc
  as_postgres "$bin/initdb" -D "$scratch/data" -U postgres -E UTF8 --no-locale --auth-local=trust \
    --auth-host=scram-sha-256 --no-sync >"$scratch/initdb.log" 2>&1 || { cat "$scratch/initdb.log"; exit 1; }
  pg_start
  as_postgres "$bin/psql" -X -q -h "$scratch" -p "$port" -U postgres -d postgres -v ON_ERROR_STOP=1 \
    -c "CREATE ROLE vornix_line LOGIN PASSWORD '$password'" -c "CREATE DATABASE vornix_line OWNER vornix_line"
}
pg_down() { pg_stop fast || true; rm -rf "$scratch"; }
