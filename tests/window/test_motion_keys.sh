#!/usr/bin/env bash
# B and F on the walker in the real demo: F (contact locks) moves the red
# foot points from the ankles down to the points the feet stand on; B
# (cross-fade) turns the snap of a start into a gradual change. Neither does
# anything else: the character keeps walking, the caption keeps counting,
# the window stays, nothing is printed.
. "$(dirname "$0")/common.sh"

start_walker_demo

# gap NAME: how far each red point's lowest pixel lies above the lowest white
# pixel in its columns (the foot it marks), summed over the two points. The
# points are told apart by their side of the mean x.
gap() {
  convert "$WORK/$1.png" -depth 8 txt:- | awk -F'[,: ]+' 'BEGIN { n = 0 }
    /#FF0000/ { rx[n] = $1 + 0; ry[n] = $2 + 0; n++; next }
    /#FFFFFF/ { x = $1 + 0; y = $2 + 0; if (!(x in wy) || y > wy[x]) wy[x] = y }
    END {
      if (n == 0) { print "none"; exit }
      for (i = 0; i < n; i++) sum += rx[i]
      mid = sum / n
      total = 0
      for (c = 0; c < 2; c++) {
        lo = 9999; hi = -1; bottom = -1
        for (i = 0; i < n; i++)
          if ((c == 0) == (rx[i] < mid)) {
            if (rx[i] < lo) lo = rx[i]
            if (rx[i] > hi) hi = rx[i]
            if (ry[i] > bottom) bottom = ry[i]
          }
        w = bottom
        for (x = lo - 3; x <= hi + 3; x++) if ((x in wy) && wy[x] > w) w = wy[x]
        total += w - bottom
      }
      print total
    }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# gaps_while_walking TAG: the gap in five paused pictures of the walk, the
# walk resumed in between until the grid has moved.
gaps_while_walking() {
  local i
  for i in 1 2 3 4 5; do
    xdotool key p
    shot_when_still "$1_$i" 30
    [ "$(count_colour "$1_$i" 255 0 0)" -gt 0 ] || fail "no red points in $1_$i"
    gap "$1_$i"
    xdotool key p
    poll 30 grid_moves || fail "the walk did not resume"
  done
}

# ---- F while walking: the red points drop from the ankles to the ground.
xdotool keydown w
poll 30 grid_moves || fail "the grid does not move while W is held"
ankles=$(gaps_while_walking ankles | median)
xdotool key f
poll 30 grid_moves || fail "the character stopped walking after F"
contacts=$(gaps_while_walking contacts | median)
note "red points above their feet's lowest pixels: $ankles px holding ankles, $contacts px with F"
[ "$ankles" -ge 10 ] || fail "without F the red points sit only $ankles px above the feet's lowest points"
[ $((contacts + 10)) -le "$ankles" ] || fail "F did not move the red points down to the ground ($ankles -> $contacts px)"
xdotool key f
poll 30 grid_moves || fail "the character stopped walking after F again"

# ---- B: a start, seen in a short burst of animation between two pauses
# (the two releases of P). Without the cross-fade the legs snap to the walk
# cycle on the second frame; with it they have barely begun to move. The
# burst's length only sets how far the fade gets, and both cases are seen
# the same way.
xdotool keyup w
white_only() { convert "$WORK/$1.png" -fill black +opaque white "$WORK/$1_w.png"; }
bone_change() {
  white_only "$1"
  white_only "$2"
  compare -metric AE "$WORK/$1_w.png" "$WORK/$2_w.png" null: 2>&1 | sed 's/[^0-9].*//'
  echo
}
standing() { shot stand_a; shot stand_b; [ "$(differing stand_a stand_b 800x120+0+480)" -lt 200 ]; }
start_changes() {
  local i
  for i in 1 2 3 4 5; do
    poll 30 standing || fail "the character did not come to a stand"
    xdotool key p
    shot_when_still "$1_before_$i" 30
    xdotool keydown w
    xdotool key --delay 40 p p
    shot_when_still "$1_after_$i" 30
    bone_change "$1_before_$i" "$1_after_$i"
    xdotool keyup w
    xdotool key p
  done
}
snap=$(start_changes snap | median)
xdotool key b
fade=$(start_changes fade | median)
note "bone pixels changed in the first frames of a start: $snap without B, $fade with B"
[ "$snap" -gt 500 ] || fail "without B a start changed only $snap bone pixels at first"
[ $((fade * 2)) -lt "$snap" ] || fail "B did not soften the start ($snap -> $fade bone pixels)"

# ---- Nothing else changed: still walking, caption counting, no output.
xdotool keydown w
poll 30 grid_moves || fail "the character does not walk with B and F"
xdotool key f
poll 30 grid_moves || fail "the character does not walk after F"
xdotool keyup w
find_window || fail "the window is gone"
poll 30 caption_shows_count || fail "the caption reads '$(caption)'"
close_demo
[ "$DEMO_STATUS" = 0 ] || fail "closing the window ended the demo with status $DEMO_STATUS"
[ ! -s "$WORK/stdout" ] || fail "the demo wrote to standard output: $(cat "$WORK/stdout")"
[ ! -s "$WORK/stderr" ] || fail "the demo wrote to standard error: $(cat "$WORK/stderr")"
note "motion keys: all checks passed"
