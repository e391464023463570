#!/usr/bin/env bash
# The application shell in its real window: size, caption, background and
# grid, the left-button orbit, and closing the window. Runs the demo on a
# small still test figure, so it does not depend on the walker's motion.
. "$(dirname "$0")/common.sh"

# A still figure: a root one unit up with a spine and two legs ending in the
# feet the demo needs, and three actions that hold the rest pose.
cat >"$WORK/figure.xml" <<'XML'
<?xml version="1.0"?>
<QVArmature>
 <armature name="figure">
  <skeleton bones="6">
   <bone name="Bone" len="0.5"><matrix>1,0,0,0, 0,0,-1,0, 0,1,0,1</matrix></bone>
   <bone name="Bone.001" len="1"><matrix>1,0,0,0, 0,1,0,0.5, 0,0,1,0</matrix></bone>
   <bone name="Bone.005" len="0.5"><matrix>1,0,0,0.2, 0,-1,0,0, 0,0,-1,0</matrix></bone>
   <bone name="Bone.006" len="0.5"><matrix>1,0,0,-0.2, 0,-1,0,0, 0,0,-1,0</matrix></bone>
   <bone name="Bone.007" len="0.5"><matrix>1,0,0,0, 0,1,0,0.5, 0,0,1,0</matrix></bone>
   <bone name="Bone.008" len="0.5"><matrix>1,0,0,0, 0,1,0,0.5, 0,0,1,0</matrix></bone>
  </skeleton>
  <heirachy>
   <node name="Bone">NULL</node>
   <node name="Bone.001">Bone</node>
   <node name="Bone.005">Bone</node>
   <node name="Bone.006">Bone</node>
   <node name="Bone.007">Bone.005</node>
   <node name="Bone.008">Bone.006</node>
  </heirachy>
 </armature>
 <actions>
XML
for action in walk stand walk2; do
  echo "  <action name=\"$action\" len=\"1000\">" >>"$WORK/figure.xml"
  for _ in 1 2 3 4 5 6; do # one channel per bone
    echo '   <channel><keyframes keys="1"><key t="0"><quat w="1" x="0" y="0" z="0"/></key></keyframes></channel>' >>"$WORK/figure.xml"
  done
  echo "  </action>" >>"$WORK/figure.xml"
done
echo " </actions>
</QVArmature>" >>"$WORK/figure.xml"

make_rundir "$WORK/run" "$WORK/figure.xml"
start_demo "$WORK/run"
wait_for_running_demo
note "window $DEMO_WID, caption '$(caption)'"

geometry=$(xdotool getwindowgeometry "$DEMO_WID")
echo "$geometry" | grep -q 'Position: 0,0' || fail "the window is not at the top-left corner: $geometry"
echo "$geometry" | grep -q 'Geometry: 800x600' || fail "the window is not 800x600: $geometry"

# The picture: the clear colour above the horizon, black grid lines below.
shot start
sky=$(count_background start 800x280+0+0)
[ "$sky" -gt 200000 ] || fail "only $sky pixels of the upper part show the background colour"
lines=$(count_colour start 0 0 0 800x280+0+320)
[ "$lines" -gt 2000 ] || fail "only $lines black pixels in the lower part: no grid?"
[ "$(count_colour start 0 0 0 800x280+0+0)" -eq 0 ] || fail "black pixels above the horizon"

# Pausing holds the picture still (the figure does not move anyway).
xdotool key p
shot_when_still base 20

# sync: T twice changes the skeleton and back; once its effect shows, every
# earlier event has been handled. Afterwards the picture is shot again.
sync_events() {
  local ref=$1
  xdotool key t
  wait_for_change_from "$ref" 20 || fail "T did not change the picture"
  xdotool key t
  shot_when_still "$2" 20
}

# A left-button drag orbits the camera.
xdotool mousedown 1
xdotool mousemove 460 320
wait_for_change_from base 20 || fail "dragging with the left button did not change the view"
shot_when_still held 20
[ "$(differing base held 800x280+0+320)" -gt 1000 ] || fail "the grid did not turn with the drag"

# Releasing the button never turns the camera, and motion after the release
# does nothing.
xdotool mouseup 1
xdotool mousemove 520 380
xdotool mousemove 400 300 # not back to where the drag ended
sync_events held released
n=$(differing held released)
[ "$n" = 0 ] || fail "the view changed by $n pixels after the button was released"

# The right button never turns the camera.
xdotool mousedown 3
xdotool mousemove 470 350
xdotool mouseup 3
xdotool mousemove 420 310 # not back to the start: moves must not cancel out
sync_events released right
n=$(differing released right)
[ "$n" = 0 ] || fail "a right-button drag changed the view by $n pixels"

# No key ends the program; closing the window does, with status 0 and
# nothing on standard output.
xdotool key Escape q
sync_events right after_keys
demo_ended && fail "a key ended the program"
close_demo
[ "$DEMO_STATUS" = 0 ] || fail "closing the window ended the demo with status $DEMO_STATUS"
[ ! -s "$WORK/stdout" ] || fail "the demo wrote to standard output: $(cat "$WORK/stdout")"
note "shell: all checks passed"
