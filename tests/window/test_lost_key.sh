#!/usr/bin/env bash
# A key pressed while the pointer is outside the window never reaches the
# demo, but its release does once the pointer is in: W pressed outside and
# released inside leaves the character standing. Then W held and released
# inside still walks and stops, so the events pair as before.
. "$(dirname "$0")/common.sh"

[ -f "$QV_SOURCE/data/walker.xml" ] || fail "no data/walker.xml in $QV_SOURCE"
make_rundir "$WORK/run" "$QV_SOURCE/data/walker.xml"
start_demo "$WORK/run"
wait_for_running_demo
shot first
W1=$(white first)
[ "$W1" -gt 500 ] || fail "only $W1 white pixels: no skeleton?"
poll 30 grid_still || fail "the standing character's ground does not hold still"

# The press goes to the root window (there is no window manager: keys go to
# the window under the pointer); the release comes after the pointer moved in.
xdotool mousemove 1000 700
xdotool keydown w
xdotool mousemove 400 300
xdotool keyup w
sync_with_t # the release has been handled
for _ in 1 2 3; do
  grid_still || fail "the character walks after W was released (the press happened outside the window)"
done
note "a press outside the window and its release inside: the character stands"

xdotool keydown w
poll 30 grid_moves || fail "holding W inside the window does not walk"
xdotool keyup w
poll 30 grid_still || fail "releasing W does not stop the walk"
note "W held and released inside the window walks and stops"

close_demo
[ "$DEMO_STATUS" = 0 ] || fail "closing the window ended the demo with status $DEMO_STATUS"
echo "PASS"
