# An imported capture's travel in the demo against the capture's own: the root's speed of the imported
# actor file as the demo plays it (the gait trace at 16 and 33 ms frames; its 1 ms frames step too finely
# to read here) and the captured pelvis's
# horizontal speed over the same walk cycle, looped at the pace the file plays it (qvimport --speed-csv).
# -e "dir='trace CSV dir'; capture='speed CSV'; dir_tools='tools/plots'; who='131_02.bvh'; out='FILE'; png=0|1"
fig_w = 1300
fig_h = 700
load dir_tools."/style.gp"
f = dir."/slot0_root_speed.csv"
step(d) = column("dt_ms") == d ? column("speed") : NaN
hair = 0.5  # a mark's length (style.gp), ms: a tenth of a pixel
stats capture using (column("speed")) nooutput name "cap"
stats f using (step(16)) nooutput name "imp"
set title sprintf("{/:Bold Captured walk %s imported: the root's speed in the demo against the capture's own}\n{/*0.85 three loops of the imported walk from a right heel strike; dashed: means (captured %.2f, imported at 16 ms %.2f units/s, %.0f %%)}", who, cap_mean, imp_mean, 100 * imp_mean / cap_mean) font ",15"
set xlabel "time (ms)"
set ylabel "speed (units/s)"
set yrange [0:*]
# The key sits in headroom above the curves, where it covers no data.
set key top center horizontal
set offsets 0, 0, graph 0.12, 0
plot capture using "time_ms":"speed" with lines lw 3 lc rgb c_body title "captured pelvis", \
     cap_mean with lines dt 2 lw 1.5 lc rgb c_body notitle, \
     f using "time_ms":(step(16)) with lines lw 2.5 lc rgb c_dt16 title "imported, 16 ms frames", \
     f using "time_ms":(step(33)) with lines lw 2.5 lc rgb c_dt33 title "imported, 33 ms frames", \
     f using "time_ms":(step(33)):(hair):(0) @dot lc rgb c_dt33 notitle, \
     imp_mean with lines dt 2 lw 1.5 lc rgb c_dt16 notitle
