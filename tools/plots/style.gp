# Shared look of every figure tools/plots.sh draws: one colour for one thing throughout.
#   right side: red; left side: blue; the whole body (pelvis, root): purple; the normal band: grey;
#   the motion-fidelity switches off: brown, on: teal; frame steps 1, 16, 33 ms: black, green, orange.
# Called with -e "out='FILE'; png=0|1" before this file is loaded; a figure may set fig_w, fig_h (pixels)
# before loading it.
if (!exists("fig_w")) fig_w = 1000
if (!exists("fig_h")) fig_h = 1000
if (png) {
    set terminal pngcairo size fig_w,fig_h enhanced font "Sans,12" background "white"
} else {
    set terminal svg size fig_w,fig_h enhanced font "Helvetica,13" background "white"
}
set output out
set datafile separator comma
set datafile missing NaN
set grid lc rgb "#e4e4e4" lw 1
set border lw 1
set key opaque box lc rgb "#c8c8c8"
set tics nomirror out

c_right = "#c0392b"
c_left = "#2166ac"
c_body = "#6a3d9a"
c_band = "#bdbdbd"
c_bandmean = "#7a7a7a"
c_dt1 = "#000000"
c_dt16 = "#1b9e77"
c_dt33 = "#d95f02"
c_off = "#8c510a"
c_on = "#01665e"
