# start_server ROOT [SERVER_OPTION...] : starts the loopback test server on a folder (options such as
# --delay-ms N go to vandrel-test-server); sets server_pid and base_url. Every server a case starts is
# stopped when the case ends.
server_pids=()
start_server() {
  local portfile root=$1
  shift
  portfile=$(mktemp)
  "$VANDREL_BENCH_BUILD/tests/vandrel-test-server" "$root" "$@" > "$portfile" &
  server_pid=$!
  server_pids+=("$server_pid")
  for _ in $(seq 100); do [ -s "$portfile" ] && break; sleep 0.05; done
  base_url="http://127.0.0.1:$(head -n1 "$portfile")/"
  rm -f "$portfile"
  trap 'kill "${server_pids[@]}" 2>/dev/null || true' EXIT
}
