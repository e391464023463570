#!/usr/bin/env bash
# Runs a command on a private Xvfb display (24-bit, 1024x768) and stops the
# server afterwards. The command's exit status is the script's.
set -u

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "with_xvfb.sh: Xvfb is not installed (Debian package xvfb)" >&2
  exit 1
fi

server_pid=""
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null; }
trap cleanup EXIT

# Find a free display: try numbers until a server stays up on one.
for attempt in $(seq 1 50); do
  num=$(( 100 + (RANDOM % 800) ))
  [ -e "/tmp/.X${num}-lock" ] && continue
  Xvfb ":${num}" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  server_pid=$!
  for i in $(seq 1 100); do
    if xdpyinfo -display ":${num}" >/dev/null 2>&1; then break; fi
    if ! kill -0 "$server_pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if kill -0 "$server_pid" 2>/dev/null && xdpyinfo -display ":${num}" >/dev/null 2>&1; then
    export DISPLAY=":${num}"
    "$@"
    exit $?
  fi
  cleanup
  server_pid=""
done
echo "with_xvfb.sh: could not start Xvfb" >&2
exit 1
