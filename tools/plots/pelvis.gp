# Pelvis list and rotation over the cycle against the normal band, and the hips' rise and fall.
# -e "dir='CSV dir'; dir_tools='tools/plots'; who='Walker'|'FILE.xml'; slot=N; clip='name'; band='normal_gait.dat'; leg=L; out='FILE'; png=0|1"
load dir_tools."/style.gp"
f = sprintf("%s/slot%d_pelvis.csv", dir, slot)
set multiplot layout 3,1 margins 0.09,0.97,0.07,0.88 spacing 0,0.04 \
    title sprintf("{/:Bold %s \"%s\" (slot %d): pelvis over one gait cycle}\n{/*0.85 from the right heel strike, from the hip joints; grey: normal adult walking, mean ± 1 SD (schematic, after Perry and Burnfield 2010)}", who, clip, slot) font ",15"
set xrange [0:100]
set xtics 0,10,100
set mxtics 2
# The key sits between the title and the first panel, where it covers no curve.
set key at screen 0.53, 0.905 center center horizontal
set format x ""

set ylabel "list, right side up (°)"
plot band using 1:($10-$11):($10+$11) with filledcurves fc rgb c_band fs solid 0.5 noborder title "normal ± 1 SD", \
     band using 1:10 with lines dt 2 lw 1.5 lc rgb c_bandmean title "normal mean", \
     f using "phase_pct":"list_deg" with lines lw 3 lc rgb c_body title "the walk"

unset key
set ylabel "rotation, right side forwards (°)"
plot band using 1:($12-$13):($12+$13) with filledcurves fc rgb c_band fs solid 0.5 noborder, \
     band using 1:12 with lines dt 2 lw 1.5 lc rgb c_bandmean, \
     f using "phase_pct":"rotation_deg" with lines lw 3 lc rgb c_body

set ylabel "hips' rise (% of leg length)"
set format x "%g"
set xlabel "gait cycle (%)"
plot f using "phase_pct":(100*column("bob")/leg) with lines lw 3 lc rgb c_body
unset multiplot
