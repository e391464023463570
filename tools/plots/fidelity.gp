# The motion-fidelity switches (cActor::mCrossFade, cActor::mContactLock) off and both on, side by side,
# around a start and a stop of the walker (motiontrace --csv): the feet from the side with the frames
# their locks hold marked, and the largest move of any bone tip in each frame.
# -e "dir='CSV dir'; dir_tools='tools/plots'; who='Walker'|'FILE.xml'; out='FILE'; png=0|1"
fig_w = 1400
fig_h = 950
load dir_tools."/style.gp"
foff = dir."/motion_off.csv"
fon = dir."/motion_on.csv"
# Both columns on the same scales, so that they compare at a glance.
stats foff using (column("move")) nooutput name "m0"
stats fon using (column("move")) nooutput name "m1"
movemax = 1.08 * (m0_max > m1_max ? m0_max : m1_max)
stats foff using (column("left_ball_fwd")) nooutput name "x0"
stats fon using (column("left_ball_fwd")) nooutput name "x1"
xmax = (x0_max > x1_max ? x0_max : x1_max) + 0.5
locked(lock, v) = column(lock) > 0 ? column(v) : NaN
hair = 0.002  # a mark's length (style.gp), units along the walk: a fifth of a pixel
walking = 3000  # ms of W held (motiontrace's export)

set multiplot layout 2,2 margins 0.07,0.98,0.07,0.88 spacing 0.06,0.15 \
    title sprintf("{/:Bold %s: a start and a stop with the motion-fidelity switches off and on}\n{/*0.85 16 ms frames; W pressed at 0 ms, released at %d ms; left: both switches off (the default), right: cross-fade (B) and contact locks (F) on}", who, walking) font ",15"

set xrange [-0.5:xmax]
set yrange [-0.05:0.75]
set xlabel "distance along the walk (units)"
set ylabel "height (units)"
set key top left horizontal maxcols 3 font ",11"
set xzeroaxis lt 1 lc rgb "#606060" lw 1
do for [k = 0:1] {
    f = k == 0 ? foff : fon
    set title (k == 0 ? "feet, switches off" : "feet, cross-fade and contact locks on") tc rgb (k == 0 ? c_off : c_on) font ",13"
    plot f using "right_heel_fwd":"right_heel_up" with lines lw 2 lc rgb c_right title "right heel", \
         f using "right_ball_fwd":"right_ball_up" with lines lw 1.5 dt (6,4) lc rgb c_right title "right ball", \
         f using "right_heel_fwd":(locked("right_locked", "right_heel_up")):(hair):(0) @dot lc rgb c_right notitle, \
         NaN @dotkey lc rgb c_right title "right lock on", \
         f using "left_heel_fwd":"left_heel_up" with lines lw 2 lc rgb c_left title "left heel", \
         f using "left_ball_fwd":"left_ball_up" with lines lw 1.5 dt (6,4) lc rgb c_left title "left ball", \
         f using "left_heel_fwd":(locked("left_locked", "left_heel_up")):(hair):(0) @dot lc rgb c_left notitle, \
         NaN @dotkey lc rgb c_left title "left lock on"
}

set xrange [*:*]
set yrange [0:movemax]
set xlabel "time since W was pressed (ms)"
set ylabel "largest bone-tip move in the frame (units)"
unset xzeroaxis
unset key
# W pressed and released, solid: gnuplot writes both markers as one path, and ImageMagick's SVG renderer
# joins the two parts of a dashed path with a dashed diagonal.
set arrow 1 from 0, graph 0 to 0, graph 1 nohead lw 1 lc rgb "#909090"
set arrow 2 from walking, graph 0 to walking, graph 1 nohead lw 1 lc rgb "#909090"
set label 1 "W pressed" at 0, graph 0.95 offset 0.5, 0 font ",11"
set label 2 "W released" at walking, graph 0.95 offset 0.5, 0 font ",11"
do for [k = 0:1] {
    f = k == 0 ? foff : fon
    set title (k == 0 ? "per-frame motion, switches off" : "per-frame motion, cross-fade and contact locks on") tc rgb (k == 0 ? c_off : c_on) font ",13"
    plot f using "time_ms":"move" with lines lw 2 lc rgb (k == 0 ? c_off : c_on)
}
unset multiplot
