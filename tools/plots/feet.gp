# Each foot's ankle and ball seen from the side over three strides, in world space; planted frames (foot
# lock engaged) marked on the ankle's path, so a slide shows as a smear of marks instead of one.
# -e "dir='CSV dir'; dir_tools='tools/plots'; who='Walker'|'FILE.xml'; slot=N; clip='name'; out='FILE'; png=0|1"
fig_w = 1300
fig_h = 800
load dir_tools."/style.gp"
f = sprintf("%s/slot%d_feet.csv", dir, slot)
set multiplot layout 2,1 margins 0.09,0.97,0.08,0.88 spacing 0,0.06 \
    title sprintf("{/:Bold %s \"%s\" (slot %d): the feet seen from the side, three strides}\n{/*0.85 world space, 16 ms frames; filled marks: ankle in frames with the foot lock engaged (one mark per frame)}", who, clip, slot) font ",15"
set xlabel ""
set ylabel "height (units)"
set yrange [-0.05:*]
set offsets 0, 0, graph 0.25, 0   # headroom for the key above the swing arcs
set key top left horizontal
set xzeroaxis lt 1 lc rgb "#606060" lw 1
locked(lock, v) = column(lock) > 0 ? column(v) : NaN
hair = 0.002  # a mark's length (style.gp), units along the walk: a fifth of a pixel

plot f using "right_ankle_fwd":"right_ankle_up" with lines lw 2.5 lc rgb c_right title "right ankle", \
     f using "right_ball_fwd":"right_ball_up" with lines lw 1.5 dt (6,4) lc rgb c_right title "right ball", \
     f using "right_ankle_fwd":(locked("right_locked", "right_ankle_up")):(hair):(0) @dot lc rgb c_right notitle, \
     NaN @dotkey lc rgb c_right title "planted (lock on)"

set xlabel "distance along the walk (units)"
plot f using "left_ankle_fwd":"left_ankle_up" with lines lw 2.5 lc rgb c_left title "left ankle", \
     f using "left_ball_fwd":"left_ball_up" with lines lw 1.5 dt (6,4) lc rgb c_left title "left ball", \
     f using "left_ankle_fwd":(locked("left_locked", "left_ankle_up")):(hair):(0) @dot lc rgb c_left notitle, \
     NaN @dotkey lc rgb c_left title "planted (lock on)"
unset multiplot
