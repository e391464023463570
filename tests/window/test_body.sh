#!/usr/bin/env bash
# M on the walker in the real demo: the bones alone at start, as ever; then
# the body, skin-coloured and lit, with the red foot points still on top;
# then the bones drawn over the body, which T still reshapes; then the bones
# alone again, the picture as it was. The body walks with the character.
. "$(dirname "$0")/common.sh"

start_walker_demo

# The whole figure stands around the middle of the window.
FIGURE=300x420+250+120
has_skin() { shot body; [ "$(skin body $FIGURE)" -gt "${1:?}" ]; }
no_skin() { shot bones; [ "$(skin bones $FIGURE)" -lt 20 ]; }

# ---- The start: the bones, no body. Paused, so that pictures compare;
# M and T change the picture while paused.
xdotool key p
shot_when_still start 30
W1=$(white start)
[ "$W1" -gt 500 ] || fail "only $W1 white pixels at start: no skeleton?"
[ "$(skin start $FIGURE)" -lt 20 ] || fail "the start shows skin-coloured pixels: the body is not off at start"

# ---- M: the body. Thousands of skin pixels in light and shade, the white
# bones gone under it, the red foot points still drawn.
xdotool key m
poll 30 has_skin 3000 || fail "M did not show the body (skin pixels: $(skin body $FIGURE))"
shot_when_still body 30
S1=$(skin body $FIGURE)
[ "$(white body)" -lt $((W1 / 10)) ] || fail "the bones still show with the body alone ($(white body) white pixels)"
[ "$(count_colour body 255 0 0)" -ge 4 ] || fail "the red foot points are hidden by the body"
shades=$(skin_colours body $FIGURE | wc -l)
[ "$shades" -ge 30 ] || fail "the body is flat: only $shades shades of skin (no lighting?)"
note "the body: $S1 skin pixels in $shades shades"

# ---- M again: the bones over the body; T still switches their shape.
xdotool key m
bones_over() { shot both; [ "$(white both)" -gt $((W1 / 2)) ] && [ "$(skin both $FIGURE)" -gt 3000 ]; }
poll 30 bones_over || fail "M did not draw the bones over the body ($(white both) white pixels)"
shot_when_still both 30
W2=$(white both)
xdotool key t
fewer_white() { shot lines; [ "$(white lines)" -lt $((W2 * 6 / 10)) ]; }
poll 30 fewer_white || fail "T did not switch the bones over the body to lines"
xdotool key t
more_white() { shot outline; [ "$(white outline)" -gt $((W2 * 8 / 10)) ]; }
poll 30 more_white || fail "T did not switch the bones over the body back"

# ---- The body walks with the character: the skin moves between pictures.
xdotool key p
xdotool keydown w
body_moves() { shot walk_a; sleep 0.2; shot walk_b; [ "$(differing walk_a walk_b $FIGURE)" -gt 500 ]; }
poll 30 body_moves || fail "the body does not move while walking"
[ "$(skin walk_b $FIGURE)" -gt 3000 ] || fail "the walking body lost its skin ($(skin walk_b $FIGURE) pixels)"
xdotool keyup w
poll 30 grid_still || fail "the character did not stop"

# ---- M once more: the bones alone, no skin left.
xdotool key m
poll 30 no_skin || fail "M did not go back to the bones alone ($(skin bones $FIGURE) skin pixels)"
shot last
[ "$(white last)" -gt $((W1 / 2)) ] || fail "the bones are missing after the third M"

close_demo
[ "$DEMO_STATUS" = 0 ] || fail "the demo ended with status $DEMO_STATUS"
[ ! -s "$WORK/stdout" ] || fail "the demo printed: $(cat "$WORK/stdout")"
note "M cycles bones, body, body with bones and back"
