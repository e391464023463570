# The root's horizontal speed, frame by frame, over three strides at 1, 16 and 33 ms frames.
# -e "dir='CSV dir'; dir_tools='tools/plots'; who='Walker'|'FILE.xml'; slot=N; clip='name'; out='FILE'; png=0|1"
fig_w = 1300
fig_h = 700
load dir_tools."/style.gp"
f = sprintf("%s/slot%d_root_speed.csv", dir, slot)
set title sprintf("{/:Bold %s \"%s\" (slot %d): the root's horizontal speed}\n{/*0.85 travel in each frame over the frame's length, three strides from a right heel strike}", who, clip, slot) font ",15"
set xlabel "time (ms)"
set ylabel "speed (units/s)"
# The key sits in headroom above the curves, where it covers no data.
set key top center horizontal
set offsets 0, 0, graph 0.12, 0
set yrange [0:*]
step(d) = column("dt_ms") == d ? column("speed") : NaN
hair = 0.5  # a mark's length (style.gp), ms: a fifth of a pixel
plot f using "time_ms":(step(1)) with lines lw 1 lc rgb c_dt1 title "1 ms frames", \
     f using "time_ms":(step(16)) with lines lw 2.5 lc rgb c_dt16 title "16 ms frames", \
     f using "time_ms":(step(33)) with lines lw 2.5 lc rgb c_dt33 title "33 ms frames", \
     f using "time_ms":(step(33)):(hair):(0) @dot lc rgb c_dt33 notitle
