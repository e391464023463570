#!/usr/bin/env bash
# Takes docs/qvimport_walk.png: a captured walk imported with qvimport and
# played by the real demo on a private Xvfb, driven with xdotool as a user
# would (hold W, a quarter turn with A), seen from a little above, walking
# across the view in mid-stride.
#
#     tools/import_screenshot.sh [CLIP.bvh]   (default: ../shared/mocap/131_02.bvh)
#
# Run after building qvdemo and qvimport; needs what tools/screenshots.sh
# needs. Timing comes from the wall clock, so the pose differs a little from
# run to run; the shot is the one of several tries with the feet widest apart.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
clip=$(readlink -f "${1:-$root/../shared/mocap/131_02.bvh}")
demo="$root/build/qvdemo"
[ -x "$demo" ] && [ -x "$root/build/qvimport" ] ||
  { echo "screenshot.sh: build qvdemo and qvimport first" >&2; exit 1; }

if [ -z "${QV_SCREENSHOTS_ON_XVFB:-}" ]; then
  QV_SCREENSHOTS_ON_XVFB=1 exec "$root/tests/with_xvfb.sh" "$0" "$clip"
fi

# shellcheck source=../../tests/window/common.sh
. "$root/tests/window/common.sh" "$demo" "$root"


"$root/build/qvimport" "$clip" "$WORK/captured.xml" || fail "qvimport failed on $clip"
mkdir -p "$WORK/run"
start_demo "$WORK/run" "$WORK/captured.xml"
wait_for_running_demo
orbit 0 18 # a little from above
# A quarter turn to the left (0.1 degree per millisecond), so that the walk
# crosses the view.
xdotool keydown w keydown a
sleep 0.9
xdotool keyup a
sleep 2.5

widest_stride walk 10 0.13
xdotool keyup w
close_demo
cp "$WORK/walk.png" "$root/docs/qvimport_walk.png"
note "written to $root/docs/qvimport_walk.png"
