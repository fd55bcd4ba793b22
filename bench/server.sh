# Sourced by the load scripts under bench/.
#   start_server BUILD FOLDER: starts BUILD/tarvek-server in FOLDER (which receives
#     access.log and stderr.txt) on a free port; sets server_pid and port.
#   cpu_ticks PID: the user plus system CPU time the process has used, in clock ticks.

start_server() {
  local build=$1 folder=$2
  (cd "$folder" && exec "$build/tarvek-server" 0 2>stderr.txt) &
  server_pid=$!
  port=
  for _ in $(seq 100); do
    port=$(grep -oE 'running at 0\.0\.0\.0:[0-9]+' "$folder/stderr.txt" 2>/dev/null | grep -oE '[0-9]+$' || true)
    [[ -n "$port" ]] && return 0
    sleep 0.1
  done
  echo "server did not start" >&2
  return 1
}

# Fields 14 and 15 of /proc/PID/stat, counted after the command name, which may hold spaces.
cpu_ticks() {
  sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'
}
