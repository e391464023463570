#!/usr/bin/env bash
# A 30-bit screen (10 bits a colour): SDL 1.2 crashes inside
# SDL_SetVideoMode on the 10-bit OpenGL visuals such a screen offers first.
# The demo asks for a visual it can use instead, so it opens its window,
# draws the walker and closes normally. Runs on a second, 30-bit Xvfb of its
# own; skipped (status 77) when Xvfb cannot make one.
. "$(dirname "$0")/common.sh"

DEEP_PID=""
stop_deep_server() {
  if [ -n "$DEEP_PID" ]; then
    kill "$DEEP_PID" 2>/dev/null
    wait "$DEEP_PID" 2>/dev/null
  fi
}
trap 'cleanup; stop_deep_server' EXIT

skip() {
  echo "SKIP: $*"
  exit 77
}

: >"$WORK/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x30 -nolisten tcp -noreset 3>"$WORK/displayfd" >"$WORK/xvfb.log" 2>&1 &
DEEP_PID=$!
deep_server_ready() { [ "$(wc -l <"$WORK/displayfd")" -ge 1 ] || ! kill -0 "$DEEP_PID" 2>/dev/null; }
poll 30 deep_server_ready || skip "Xvfb did not start a 30-bit screen within 30 s"
kill -0 "$DEEP_PID" 2>/dev/null || skip "Xvfb cannot make a 30-bit screen: $(head -n 3 "$WORK/xvfb.log")"
DISPLAY=":$(head -n 1 "$WORK/displayfd" | tr -dc '0-9')"
export DISPLAY
xdpyinfo | grep -q "depth of root window: *30 planes" || skip "the Xvfb screen is not 30 bits deep"
note "30-bit screen on $DISPLAY"

[ -f "$QV_SOURCE/data/walker.xml" ] || fail "no data/walker.xml in $QV_SOURCE"
make_rundir "$WORK/run" "$QV_SOURCE/data/walker.xml"
start_demo "$WORK/run"
wait_for_running_demo
note "window $DEMO_WID, caption '$(caption)'"

shot first
W1=$(white first)
[ "$W1" -gt 500 ] || fail "only $W1 white pixels: no skeleton?"
[ "$(count_colour first 0 0 0 800x280+0+320)" -gt 2000 ] || fail "no grid below the horizon"
note "the walker drawn: $W1 white pixels"

close_demo
[ "$DEMO_STATUS" = 0 ] || fail "closing the window ended the demo with status $DEMO_STATUS"
[ ! -s "$WORK/stdout" ] || fail "the demo wrote to standard output: $(cat "$WORK/stdout")"
echo "PASS"
