#!/usr/bin/env bash
# The committed figures (docs/plots/*.svg) must read the same in every SVG viewer, not only in a browser.
# ImageMagick's own renderer, for one, strokes a wide path with mitred joins with a false segment from its
# second point to its last, joins the parts of a dashed path that has several, and draws nothing for a
# mark that is a <use> reference; so every figure joins its lines round, draws its marks as round-capped
# dots (style.gp's @dot), and each gnuplot script asks for both. No gnuplot needed.
#
#     tests/plots/test_figures_draw_only_data.sh SOURCE_DIR
set -u
src=$(readlink -f "${1:?usage: $0 SOURCE_DIR}")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

figures=$(find "$src/docs/plots" -name '*.svg' | sort)
[ -n "$figures" ] || fail "no figure in docs/plots"
for svg in $figures; do
  name=$(basename "$svg")
  grep -q 'stroke-linejoin="miter"' "$svg" && fail "$name joins its lines mitred (draw it with tools/plots.sh)"
  # gnuplot defines its point shapes once, as <use> in <defs>; a mark placed with one carries a translate.
  grep -q "<use xlink:href='#gpPt[0-9]*' transform=" "$svg" && fail "$name draws marks as <use> references"
  # Two stroked sub-paths in one dashed path: a renderer may join them (grid lines, which break only
  # around the key and in line, may).
  grep -v 'class="gridline"' "$svg" | grep -q "stroke-dasharray=[^>]* d='M[^']* M" &&
    fail "$name has a dashed path of several parts"
done

for gp in "$src"/tools/plots/*.gp; do
  name=$(basename "$gp")
  grep -nE '^[^#]*with (lines)?points' "$gp" && fail "$name draws marks as points; use style.gp's @dot"
done
grep -q '^ *set terminal svg [^#]* rounded' "$src/tools/plots/style.gp" || fail "style.gp: the SVG terminal is not rounded"

[ "$failures" -eq 0 ] && echo "figures: $(echo "$figures" | wc -l) SVGs join round and draw marks as dots"
exit $((failures > 0))
