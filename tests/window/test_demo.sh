#!/usr/bin/env bash
# The demo with the walker from data/walker.xml, driven with the keyboard
# and the mouse: the first picture, the draw modes, walking with the camera
# following, pausing, turning, the second walk, orbiting, and closing.
. "$(dirname "$0")/common.sh"

start_walker_demo

# in_view NAME: the skeleton is on screen around its root, which the camera
# looks at: the middle of the window.
in_view() {
  local box w h x y
  box=$(colour_box "$1" 255 255 255)
  read -r w h x y <<<"$box"
  [ "$w" -gt 0 ] && [ "$x" -le 400 ] && [ $((x + w)) -ge 400 ] && [ "$y" -le 300 ] && [ $((y + h)) -ge 300 ]
}

# The green direction marker starts at the root, in the middle of the
# window; its horizontal extent shows where the character faces.
green_width() { colour_box "$1" 0 255 0 | cut -d' ' -f1; }
green_centre() {
  local w h x y
  read -r w h x y <<<"$(colour_box "$1" 0 255 0)"
  echo $((x + w / 2))
}

# ---- The first picture: the standing skeleton in white, the two red foot
# points at its bottom, over the black grid and the background colour.
shot first
W1=$(white first)
[ "$W1" -gt 500 ] || fail "only $W1 white pixels: no skeleton?"
in_view first || fail "the skeleton is not around the middle of the window"
[ "$(count_colour first 255 0 0)" -ge 4 ] || fail "no red foot points"
read -r sw sh sx sy <<<"$(colour_box first 255 255 255)"
read -r _ _ rx ry <<<"$(colour_box first 255 0 0)"
[ "$ry" -ge $((sy + sh * 8 / 10)) ] || fail "the red points (y $ry) are not at the skeleton's feet (y $sy..$((sy + sh)))"
[ "$(count_colour first 0 0 0 800x280+0+320)" -gt 2000 ] || fail "no grid below the horizon"
[ "$(count_background first 800x250+0+0)" -gt 150000 ] || fail "no background colour above the horizon"
note "first picture: $W1 white pixels, skeleton ${sw}x$sh at $sx,$sy, feet at $rx,$ry"

sync_with_t
note "T switches to line bones and back"

# ---- Standing, A turns nothing: the marker stays as it was.
shot before_a
before=$(green_width before_a)
xdotool keydown a
sync_with_t
shot after_a
xdotool keyup a
after=$(green_width after_a)
if [ $((after - before)) -gt 8 ] || [ $((before - after)) -gt 8 ]; then
  fail "A turned the standing character (marker width $before -> $after)"
fi

# ---- Holding W walks: the grid moves under the character while the camera
# keeps it in view. The nearest ground (the bottom of the window) is the
# grid alone.
xdotool keydown w
grid_moves() {
  shot walk_a
  shot walk_b
  in_view walk_b || fail "the walking character left the view"
  [ "$(differing walk_a walk_b 800x120+0+480)" -gt 1000 ]
}
for _ in 1 2 3; do
  poll 30 grid_moves || fail "the grid does not move while W is held"
done
note "W walks; the camera follows"

# ---- P freezes the picture, P again resumes.
xdotool key p
shot_when_still frozen 30
sleep 1
shot frozen_later
[ "$(differing frozen frozen_later)" = 0 ] || fail "the picture moved while paused"
xdotool key p
wait_for_change_from frozen 30 || fail "P did not resume the animation"
poll 30 grid_moves || fail "walking did not resume after the pause"
note "P pauses and resumes"

# ---- A and D held together cancel: walking straight on, the marker stays
# close to the line of sight (a turn sweeps it out to 50 pixels either side
# within a second). Both keys go down together; should one arrive a frame
# early, that frame turns by a few degrees only.
xdotool keydown d keydown a
end=$((SECONDS + 3))
while [ "$SECONDS" -lt "$end" ]; do
  shot hold
  w=$(green_width hold)
  [ "$w" -lt 40 ] || fail "A and D held together turned the character (marker $w pixels wide)"
done

# ---- A turns while walking: the marker swings out to one side.
marker_out() { shot turn; [ "$(green_width turn)" -ge 20 ]; }
xdotool keyup d
poll 30 marker_out || fail "A did not turn the walking character"
side=$(($(green_centre turn) > 400 ? 1 : -1))
# D turns it back across the line of sight.
xdotool keyup a keydown d
marker_crossed() {
  shot turn
  [ "$(green_width turn)" -ge 10 ] && [ $(($(green_centre turn) > 400 ? 1 : -1)) != "$side" ]
}
poll 30 marker_crossed || fail "D did not turn the walking character"
xdotool keyup d
note "A and D turn while walking and cancel together"

# ---- C switches to the second walk; the character keeps walking.
xdotool key c
sync_with_t
poll 30 grid_moves || fail "the character stopped walking after C"
note "C: still walking"

# ---- A left-button drag orbits: dragging down raises the eye, so the
# ground fills the upper part of the window.
ground_above() { shot orbit; [ "$(count_colour orbit 0 0 0 800x250+0+0)" -gt 1000 ]; }
xdotool mousedown 1
xdotool mousemove 400 360
poll 30 ground_above || fail "dragging did not orbit the camera"
xdotool mouseup 1
in_view orbit || fail "the character left the view after orbiting"
xdotool keyup w

# ---- Closing the window ends the program: status 0, nothing printed.
close_demo
[ "$DEMO_STATUS" = 0 ] || fail "closing the window ended the demo with status $DEMO_STATUS"
[ ! -s "$WORK/stdout" ] || fail "the demo wrote to standard output: $(cat "$WORK/stdout")"
note "demo: all checks passed"
