# Shared look of every figure tools/plots.sh draws: one colour for one thing throughout.
#   right side: red; left side: blue; the whole body (pelvis, root): purple; the normal band: grey;
#   the motion-fidelity switches off: brown, on: teal; frame steps 1, 16, 33 ms: black, green, orange.
# Called with -e "out='FILE'; png=0|1" before this file is loaded; a figure may set fig_w, fig_h (pixels)
# before loading it.
# The SVGs must read the same in every viewer, not only in browsers: lines are drawn with round joins
# (ImageMagick's own SVG renderer strokes a wide mitred path with a false segment from its second point
# to its last), and marks are drawn as dots (below) rather than as points, which gnuplot writes as <use>
# references that some renderers leave out.
if (!exists("fig_w")) fig_w = 1000
if (!exists("fig_h")) fig_h = 1000
if (png) {
    set terminal pngcairo size fig_w,fig_h enhanced rounded font "Sans,12" fontscale 0.8 background "white"
} else {
    set terminal svg size fig_w,fig_h enhanced rounded font "Helvetica,13" background "white"
}
set output out
set datafile separator comma
set datafile missing NaN
set grid lc rgb "#e4e4e4" lw 1
set border lw 1
set key opaque box lc rgb "#c8c8c8"
set tics nomirror out
# A mark: a stroke a hair long with round caps, which every SVG renderer draws as a filled dot 7 px
# across (about 40 bytes, where "with circles" writes a 2 kB polygon per mark). Its length, in x-axis
# units, is the third column of the plot's using (gnuplot draws nothing for a length of 0). The key's
# entry for the marks is a plot of NaN @dotkey with the title: a filled circle of the same size.
#     f using x:y:(a hair):(0) @dot lc rgb C notitle, NaN @dotkey lc rgb C title "marks"
dot = "with vectors nohead lw 7"
dotkey = "with circles fs solid noborder"
set style circle radius screen 3.5 / fig_w

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
