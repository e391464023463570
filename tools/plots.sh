#!/usr/bin/env bash
# Draws the walker's figures from the gait trace's CSV export (docs/gait-csv.md) with gnuplot, as SVG
# into docs/plots/ (docs/plots.md explains each):
#   NAME_slotN_joint_angles.svg  hip, knee and ankle over the cycle, over the normal band
#   NAME_slotN_pelvis.svg        pelvis list and rotation over the band, and the hips' rise and fall
#   NAME_slotN_feet.svg          each foot's ankle and ball from the side, planted frames marked
#   NAME_slotN_root_speed.svg    the root's speed at 1, 16 and 33 ms frames
# for every walk slot N of the actor file NAME.xml;
#   NAME_fidelity.svg            a start and a stop with the motion-fidelity switches off and on
# and without an actor file also
#   capture_CLIP_speed.svg       each captured walk ../shared/mocap/CLIP.bvh imported with qvimport: its
#                                root's speed in the demo against the capture's own
#
#     tools/plots.sh [ACTOR_FILE]     default data/walker.xml
#
# Installs gnuplot (tools/deps.sh docs) and builds walkertrace (in ./build, or in ./build-plots when
# ./build is not configured). The output depends only on the actor file and the code: a rerun rewrites
# the same bytes. QV_PLOTS_PNG=DIR also writes a PNG of each figure into DIR, for a look without an SVG
# viewer.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
actor=$(readlink -f "${1:-$root/data/walker.xml}")
[ -f "$actor" ] || { echo "plots.sh: no actor file $actor" >&2; exit 1; }
name=$(basename "$actor" .xml)
# Whose walk the titles name: the walker, or any other file by its name.
who="Walker"
[ "$name" = walker ] || who=$(printf '%s.xml' "$name" | tr -d "'\"\\\\" | sed 's/_/\\_/g')

"$root/tools/deps.sh" docs
# The usual ./build when it is configured; otherwise a build of the tools alone, which needs none of the
# test or benchmark packages (deps.sh docs installs the build's and gnuplot).
if [ -f "$root/build/CMakeCache.txt" ]; then
  build="$root/build"
  cmake -S "$root" -B "$build" >/dev/null
else
  build="$root/build-plots"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF \
    -DQV_BUILD_BENCHMARKS=OFF >/dev/null
fi
targets="walkertrace motiontrace"
mocap="$root/../shared/mocap"
captures=""
if [ -z "${1:-}" ] && [ -d "$mocap" ]; then
  captures=$(find "$mocap" -maxdepth 1 -name '*.bvh' | sort)
  [ -z "$captures" ] || targets="$targets qvimport"
fi
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $targets >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/walkertrace" --csv "$work" "$actor" >/dev/null
out="$root/docs/plots"
mkdir -p "$out"
tools="$root/tools/plots"

# draw FIGURE SLOT CLIP LAYOUT LEG: one figure, as SVG (and PNG when asked).
draw() {
  local fig=$1 slot=$2 clip=$3 layout=$4 leg=$5 file
  file="${name}_slot${slot}_${fig}"
  local vars="dir='$work'; dir_tools='$tools'; band='$tools/normal_gait.dat'; who='$who'; slot=$slot"
  vars="$vars; clip='$clip'"
  vars="$vars; layout='$layout'; leg=$leg"
  gnuplot -e "$vars; out='$out/$file.svg'; png=0" "$tools/$fig.gp"
  if [ -n "${QV_PLOTS_PNG:-}" ]; then
    mkdir -p "$QV_PLOTS_PNG"
    gnuplot -e "$vars; out='$QV_PLOTS_PNG/$file.png'; png=1" "$tools/$fig.gp"
  fi
  echo "$out/$file.svg"
}

# walks.csv: slot,clip,cycle_ms,layout,leg_length,height; one set of figures per walk.
tail -n +2 "$work/walks.csv" | while IFS=, read -r slot clip _cycle layout leg _height; do
  # The titles quote the name, and gnuplot's enhanced text would take _ for a subscript.
  clip=$(printf '%s' "$clip" | tr -d "'\"\\\\" | sed 's/_/\\_/g')
  for fig in joint_angles pelvis feet root_speed; do
    draw "$fig" "$slot" "$clip" "$layout" "$leg"
  done
done

# The motion-fidelity switches off and on around a start and a stop.
mkdir -p "$work/fidelity"
"$build/motiontrace" --csv "$work/fidelity" "$actor" >/dev/null
vars="dir='$work/fidelity'; dir_tools='$tools'; who='$who'"
gnuplot -e "$vars; out='$out/${name}_fidelity.svg'; png=0" "$tools/fidelity.gp"
if [ -n "${QV_PLOTS_PNG:-}" ]; then
  gnuplot -e "$vars; out='$QV_PLOTS_PNG/${name}_fidelity.png'; png=1" "$tools/fidelity.gp"
fi
echo "$out/${name}_fidelity.svg"

# Captured walks: imported as qvimport imports them, traced as the demo plays them.
for bvh in $captures; do
  clip=$(basename "$bvh" .bvh)
  "$build/qvimport" "$bvh" "$work/$clip.xml" --speed-csv "$work/$clip.speed.csv" >/dev/null
  mkdir -p "$work/$clip"
  "$build/walkertrace" --csv "$work/$clip" "$work/$clip.xml" >/dev/null
  vars="dir='$work/$clip'; capture='$work/$clip.speed.csv'; dir_tools='$tools'"
  vars="$vars; who='$(printf '%s.bvh' "$clip" | sed 's/_/\\_/g')'"
  gnuplot -e "$vars; out='$out/capture_${clip}_speed.svg'; png=0" "$tools/capture_speed.gp"
  if [ -n "${QV_PLOTS_PNG:-}" ]; then
    gnuplot -e "$vars; out='$QV_PLOTS_PNG/capture_${clip}_speed.png'; png=1" "$tools/capture_speed.gp"
  fi
  echo "$out/capture_${clip}_speed.svg"
done
