# Hip, knee and ankle over one gait cycle, each side at its own phase, over the normal band.
# -e "dir='CSV dir'; dir_tools='tools/plots'; who='Walker'|'FILE.xml'; slot=N; clip='name'; layout='walker'|'other';
#     band='normal_gait.dat'; out='FILE'; png=0|1"
load dir_tools."/style.gp"
f = sprintf("%s/slot%d_angles.csv", dir, slot)
set multiplot layout 3,1 margins 0.09,0.97,0.07,0.88 spacing 0,0.04 \
    title sprintf("{/:Bold %s \"%s\" (slot %d): sagittal joint angles over one gait cycle}\n{/*0.85 each side from its own heel strike; grey: normal adult walking, mean ± 1 SD (schematic, after Perry and Burnfield 2010)}", who, clip, slot) font ",15"
set xrange [0:100]
set xtics 0,10,100
set mxtics 2
# The key sits between the title and the first panel, where it covers no curve.
set key at screen 0.53, 0.905 center center horizontal

# Other layouts than the walker's give the thigh from the vertical instead of hip flexion (docs/gait-csv.md).
set ylabel (layout eq "walker" ? "hip flexion (°)" : "thigh from the vertical (°)")
set format x ""
set xlabel ""
plot band using 1:($2-$8-$3):($2-$8+$3) with filledcurves fc rgb c_band fs solid 0.5 noborder title "normal ± 1 SD", \
     band using 1:($2-$8) with lines dt 2 lw 1.5 lc rgb c_bandmean title "normal mean", \
     f using "phase_pct":"right_hip_deg" with lines lw 3 lc rgb c_right title "right", \
     f using "phase_pct":"left_hip_deg" with lines lw 2 dt (6,4) lc rgb c_left title "left"

set ylabel "knee flexion (°)"
unset key
plot band using 1:($4-$5):($4+$5) with filledcurves fc rgb c_band fs solid 0.5 noborder, \
     band using 1:4 with lines dt 2 lw 1.5 lc rgb c_bandmean, \
     f using "phase_pct":"right_knee_deg" with lines lw 3 lc rgb c_right, \
     f using "phase_pct":"left_knee_deg" with lines lw 2 dt (6,4) lc rgb c_left

set ylabel "ankle dorsiflexion (°)"
set format x "%g"
set xlabel "gait cycle (%)"
plot band using 1:($6-$7):($6+$7) with filledcurves fc rgb c_band fs solid 0.5 noborder, \
     band using 1:6 with lines dt 2 lw 1.5 lc rgb c_bandmean, \
     f using "phase_pct":"right_ankle_deg" with lines lw 3 lc rgb c_right, \
     f using "phase_pct":"left_ankle_deg" with lines lw 2 dt (6,4) lc rgb c_left
unset multiplot
