#!/usr/bin/env bash
# Takes the screenshots of a start in docs/ from the real program on a
# private Xvfb, seen from the side:
#   docs/start_snap.png   without the cross-fade (the default)
#   docs/start_fade.png   with it (B)
# Each is a strip of five pictures: standing, then after each of four short
# bursts of animation (about 60 ms each) once W is down. The bursts are the
# span between two releases of P, so the times are approximate.
#
#     tools/start_screenshots.sh [QVDEMO]      (default: build/qvdemo)
#
# Needs what tools/screenshots.sh needs.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
demo=$(readlink -f "${1:-$root/build/qvdemo}")
[ -x "$demo" ] || { echo "start_screenshots.sh: no demo at $demo (build first)" >&2; exit 1; }

if [ -z "${QV_SCREENSHOTS_ON_XVFB:-}" ]; then
  QV_SCREENSHOTS_ON_XVFB=1 exec "$root/tests/with_xvfb.sh" "$0" "$demo"
fi

# shellcheck source=../../tests/window/common.sh
. "$root/tests/window/common.sh" "$demo" "$root"

standing() { shot stand_a; shot stand_b; [ "$(differing stand_a stand_b 800x120+0+480)" -lt 200 ]; }

# start TAG: five pictures of a start from standing, cropped and put side by
# side in $WORK/TAG.png.
start() {
  local i
  poll 30 standing || fail "the character did not come to a stand"
  xdotool key p
  shot_when_still "$1_0" 30
  xdotool keydown w
  for i in 1 2 3 4; do
    xdotool key --delay 60 p p
    shot_when_still "$1_$i" 30
  done
  xdotool keyup w
  xdotool key p
  for i in 0 1 2 3 4; do
    convert "$WORK/$1_$i.png" -crop 300x500+250+50 +repage -bordercolor white -border 2 "$WORK/$1_c$i.png"
  done
  convert "$WORK/$1_c0.png" "$WORK/$1_c1.png" "$WORK/$1_c2.png" "$WORK/$1_c3.png" "$WORK/$1_c4.png" \
    +append -resize 60% "$WORK/$1.png"
}

make_rundir "$WORK/run" "$root/data/walker.xml"
start_demo "$WORK/run"
wait_for_running_demo
orbit -90 8
start snap
note "start without the cross-fade"
xdotool key b
start fade
note "start with the cross-fade"
close_demo

cp "$WORK/snap.png" "$root/docs/start_snap.png"
cp "$WORK/fade.png" "$root/docs/start_fade.png"
note "written to $root/docs"
