#!/usr/bin/env bash
# Retakes the walker's screenshots in docs/ from the real program on a
# private Xvfb, driven with xdotool as a user would:
#   docs/walker_stand.png   the first screen: standing
#   docs/walker_turn.png    walking while turning left
#   docs/walker_stride.png  walking past the camera, legs wide apart
#   docs/screenshot.png     the same from a raised eye, for the README
#   docs/walker_body_stand.png   the first screen with the body (M): standing
#   docs/walker_body_stride.png  the body walking past the camera, mid-stride
#
#     tools/screenshots.sh [QVDEMO]      (default: build/qvdemo)
#
# Run from anywhere after building; needs xvfb, xdotool, imagemagick and a C
# compiler with the Xlib headers (tools/deps.sh --test installs them all).
# Timing comes from the wall clock, so the poses differ a little from run
# to run; the stride shot is the widest of several tries.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
demo=$(readlink -f "${1:-$root/build/qvdemo}")
[ -x "$demo" ] || { echo "screenshots.sh: no demo at $demo (build first)" >&2; exit 1; }

if [ -z "${QV_SCREENSHOTS_ON_XVFB:-}" ]; then
  QV_SCREENSHOTS_ON_XVFB=1 exec "$root/tests/with_xvfb.sh" "$0" "$demo"
fi

# shellcheck source=../tests/window/common.sh
. "$root/tests/window/common.sh" "$demo" "$root"


make_rundir "$WORK/run" "$root/data/walker.xml"
start_demo "$WORK/run"
wait_for_running_demo
orbit 0 8
sleep 1
shot stand
note "standing"
# The body (M), standing; then M twice more, back to the bones.
xdotool key m
sleep 0.5
shot body_stand
note "the body, standing"
xdotool key m key m
sleep 0.5

# Turn left a quarter of a turn, so the character walks across the view;
# catch it halfway through the turn.
xdotool keydown w keydown a
sleep 0.45
pause_toggle
shot turn
note "turning"
pause_toggle
sleep 0.45
xdotool keyup a
sleep 2

widest_stride stride

orbit 0 14
sleep 1.2
pause_toggle
shot readme
pause_toggle
# The body walking past the camera, from the eye of the stride picture.
orbit 0 -14
xdotool key m
sleep 1
widest_stride body_stride
xdotool keyup w
close_demo

cp "$WORK/stand.png" "$root/docs/walker_stand.png"
cp "$WORK/turn.png" "$root/docs/walker_turn.png"
cp "$WORK/stride.png" "$root/docs/walker_stride.png"
cp "$WORK/readme.png" "$root/docs/screenshot.png"
cp "$WORK/body_stand.png" "$root/docs/walker_body_stand.png"
cp "$WORK/body_stride.png" "$root/docs/walker_body_stride.png"
note "written to $root/docs"
