#!/usr/bin/env bash
# A short session with the key-value service, as a new user would type it: a server on a free
# loopback port with a fresh data folder, puts and gets of every value type, an expiry, eight
# clients at once, a server killed with SIGKILL and started again with its data, the trace of
# one request, and a clean stop. Everything it makes goes into one temporary folder, which is
# removed at the end, except the trace's timeline when TIMELINE names a file for it; the server
# is stopped on every way out.
#
#   demo.sh BIN_DIR QMTRC_DUMP [TIMELINE]
#
# BIN_DIR holds wygl_kv_server, wygl_kv and wygl_kv_free_port.
set -euo pipefail

bin=$1
qmtrc_dump_program=$2
timeline=${3:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/wygl-kv-demo.XXXXXX")
server_pid=""

stop_hard() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -KILL "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  server_pid=""
}
cleanup() {
  stop_hard
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say() { printf '\n== %s\n' "$*"; }
# Shows a command as it is typed, then runs it; a failing command is part of the show.
step() {
  printf '$ %s\n' "$1"
  eval "$1" || printf '(exit code %d)\n' "$?"
}
# Every client call is bounded: a server that hangs ends the session instead of holding it.
wygl_kv() { timeout 30 "$bin/wygl_kv" "$@"; }
qmtrc_dump() { "$qmtrc_dump_program" "$@"; }

# Starts the server and waits (at most 20 s) until it answers.
start_server() {
  "$bin/wygl_kv_server" "$service" "$work/data" >>"$work/server.out" 2>&1 &
  server_pid=$!
  for _ in $(seq 200); do
    if wygl_kv stats >/dev/null 2>&1; then
      return 0
    fi
    if ! kill -0 "$server_pid" 2>/dev/null; then
      cat "$work/server.out"
      echo "the server ended at its start" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "the server did not answer within 20 s" >&2
  exit 1
}

# Waits at most 20 s for the server to end after a stop request.
wait_for_server_end() {
  for _ in $(seq 200); do
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$server_pid" 2>/dev/null; then
    echo "the server did not stop within 20 s" >&2
    exit 1
  fi
  wait "$server_pid" || true
  server_pid=""
}

# The name carries the port: one server per service name runs on a machine, and another
# session may be running beside this one.
port=$("$bin/wygl_kv_free_port")
service=demo-$port
printf '%s %s/tcp\n' "$service" "$port" >"$work/services"
export WYGL_SERVICES=$work/services
export WYGL_KV_SERVICE=$service

say "A server on the service '$service' (127.0.0.1:$port, named in \$WYGL_SERVICES), data in a fresh folder"
start_server
cat "$work/server.out"

say "Values of every type: 'text' is an STR, \"text\" a UNI (wide) string, #hex a BIN"
step "wygl_kv put greeting \"'hello, world'\""
step "wygl_kv put wide '\"grüße\"'"
step "wygl_kv put answer 42"
step "wygl_kv put flags '(true, false, unknown, null)'"
step "wygl_kv put blob '#00ff10'"
step "wygl_kv put record \"(7, 'seven', #07)\""
for key in greeting wide answer flags blob record; do
  step "wygl_kv get $key"
done
step "wygl_kv keys"
step "wygl_kv get missing"
step "wygl_kv raw \"'put' 'oops' 12x\""

say "An expiry: 'session' goes after 1 second"
step "wygl_kv put session \"'token'\""
step "wygl_kv expire session 1"
for _ in $(seq 50); do
  wygl_kv get session >/dev/null 2>&1 || break
  sleep 0.1
done
step "wygl_kv get session"

say "Eight clients at once, 20 puts each"
clients=()
for client in $(seq 8); do
  (for n in $(seq 20); do
    wygl_kv put "client$client.$n" "$n" >/dev/null
  done) &
  clients+=($!)
done
wait "${clients[@]}"
step "wygl_kv get client8.20"
step "wygl_kv --id 0c4a0fd2-5b36-4a8e-9a53-f1f4f0a5e7d1 stats"

say "Everything so far reaches the disk; then the server is killed with SIGKILL"
step "wygl_kv sync"
kill -KILL "$server_pid"
wait "$server_pid" 2>/dev/null || true
server_pid=""
step "wygl_kv get greeting"

say "Started again: it replays its log"
: >"$work/server.out"
start_server
cat "$work/server.out"
step "wygl_kv get greeting"
step "wygl_kv get client5.17"

say "The trace of one request (its operations and state notes), decoded"
step "QMTRC_MASK=operation,state QMTRC_FILE=\"\$work/get.trc\" wygl_kv get answer"
step "qmtrc_dump --relative \"\$work/get.trc\""
if [ -n "$timeline" ]; then
  say "The same trace as a timeline, for https://ui.perfetto.dev or chrome://tracing"
  step "qmtrc_dump --chrome \"\$work/get.trc\" > \"$timeline\""
fi

say "A clean stop (SIGTERM): in-flight requests finish, the log is flushed"
kill -TERM "$server_pid"
wait_for_server_end
tail -n 1 "$work/server.out"
