#!/usr/bin/env bash
# Runs a command on a private Xvfb display (24-bit, 1024x768) and stops the
# server afterwards. The command's exit status is the script's.
#
# The server picks a free display number itself (-displayfd), so several
# runs can start at once without racing for a number, and it reports the
# number only once it accepts connections. -noreset keeps it from resetting
# whenever its last client disconnects: a client that connects during such a
# reset (say, right after the readiness probe) is refused.
set -u

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "with_xvfb.sh: Xvfb is not installed (Debian package xvfb)" >&2
  exit 1
fi

server_pid=""
numfile=$(mktemp "${TMPDIR:-/tmp}/with_xvfb.XXXXXX")
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  fi
  rm -f "$numfile"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

for attempt in 1 2 3; do
  : >"$numfile"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$numfile" >/dev/null 2>&1 &
  server_pid=$!
  num=""
  # Up to 30 s: a loaded machine can be slow to start the server.
  for i in $(seq 1 300); do
    # The number is complete once its line ends.
    if [ "$(wc -l <"$numfile")" -ge 1 ]; then
      num=$(head -n 1 "$numfile" | tr -dc '0-9')
      break
    fi
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -n "$num" ] && kill -0 "$server_pid" 2>/dev/null && xdpyinfo -display ":${num}" >/dev/null 2>&1; then
    export DISPLAY=":${num}"
    "$@"
    exit $?
  fi
  kill "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null
  server_pid=""
done
echo "with_xvfb.sh: could not start Xvfb" >&2
exit 1
