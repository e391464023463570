#!/usr/bin/env bash
# The figures of tools/plots.sh read the trace's CSV export and the normal band through column names
# and file names written in tools/plots/*.gp. Runs the real export on the walker and checks that every
# file and column a figure names is there, that every value is a finite number, and that the band is a
# whole table; no gnuplot is needed, so a renamed column fails here rather than in a stale figure.
# The same for the motion-fidelity figure (motiontrace --csv) and, with QVIMPORT and the captured walks
# in ../shared/mocap, for the figure of an imported capture's speed (qvimport --speed-csv and the trace
# of the imported file).
#
#     tests/plots/test_plot_data.sh WALKERTRACE SOURCE_DIR MOTIONTRACE [QVIMPORT]
set -u
usage="usage: $0 WALKERTRACE SOURCE_DIR MOTIONTRACE [QVIMPORT]"
trace=$(readlink -f "${1:?$usage}")
src=$(readlink -f "${2:?$usage}")
motiontrace=$(readlink -f "${3:?$usage}")
qvimport=${4:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/qv_plot_data.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$trace" --csv "$work" "$src/data/walker.xml" >/dev/null || { echo "FAIL: walkertrace --csv"; exit 1; }

# Every walk listed has the four files the figures read, each with rows of finite numbers.
slots=$(tail -n +2 "$work/walks.csv" | cut -d, -f1)
[ -n "$slots" ] || fail "walks.csv lists no walk"
for slot in $slots; do
  for what in angles pelvis feet root_speed; do
    f="$work/slot${slot}_$what.csv"
    [ -f "$f" ] || { fail "no $(basename "$f")"; continue; }
    rows=$(tail -n +2 "$f" | wc -l)
    [ "$rows" -gt 0 ] || fail "$(basename "$f") has no rows"
    bad=$(tail -n +2 "$f" | awk -F, '{ for (i = 1; i <= NF; ++i) if ($i !~ /^-?[0-9]+(\.[0-9]+)?$/) { print NR + 1 ": " $i; exit } }')
    [ -z "$bad" ] || fail "$(basename "$f") line $bad is not a plain number"
  done
done

# check_columns GP HEADER...: every column GP names ("a_b" in using, column("x")) is in one of the
# header rows.
check_columns() {
  local gp=$1 cols c
  shift
  local headers=",$(IFS=,; echo "$*"),"
  cols=$( (grep -o '"[a-z]*_[a-z0-9_]*"' "$gp"; grep -o 'column("[a-z0-9_]*")' "$gp" | sed 's/column(//; s/)//') |
          tr -d '"' | sort -u)
  [ -n "$cols" ] || fail "$(basename "$gp") names no column"
  for c in $cols; do
    case "$headers" in
      *",$c,"*) ;;
      *) fail "$(basename "$gp") reads column $c, which its files lack ($*)" ;;
    esac
  done
}

# The walker's figures name their file as slot%d_WHAT.csv.
for gp in "$src"/tools/plots/*.gp; do
  what=$(grep -o 'slot%d_[a-z_]*\.csv' "$gp" | head -1 | sed 's/slot%d_//; s/\.csv//')
  [ -n "$what" ] || continue
  check_columns "$gp" "$(head -1 "$work/slot0_$what.csv")"
done

# The motion-fidelity figure: both settings' files, each with numbers only, a start and a stop in each.
if "$motiontrace" --csv "$work/fidelity" "$src/data/walker.xml" >/dev/null; then
  for setting in off on; do
    f="$work/fidelity/motion_$setting.csv"
    [ -f "$f" ] || { fail "no motion_$setting.csv"; continue; }
    bad=$(tail -n +2 "$f" | awk -F, '{ for (i = 1; i <= NF; ++i) if ($i !~ /^-?[0-9]+(\.[0-9]+)?$/) { print NR + 1 ": " $i; exit } }')
    [ -z "$bad" ] || fail "motion_$setting.csv line $bad is not a plain number"
    walks=$(tail -n +2 "$f" | cut -d, -f2 | uniq | tr -d '\n')
    [ "$walks" = "010" ] || fail "motion_$setting.csv: not standing, walking, standing ($walks)"
  done
  check_columns "$src/tools/plots/fidelity.gp" "$(head -1 "$work/fidelity/motion_off.csv")"
else
  fail "motiontrace --csv"
fi

# The captured walk's figure reads qvimport's speed file and the imported file's trace.
clip="$src/../shared/mocap/131_01.bvh"
if [ -n "$qvimport" ] && [ -f "$clip" ]; then
  if "$qvimport" "$clip" "$work/capture.xml" --speed-csv "$work/capture.speed.csv" >/dev/null &&
     "$trace" --csv "$work/capture" "$work/capture.xml" >/dev/null; then
    [ "$(tail -n +2 "$work/capture.speed.csv" | wc -l)" -gt 0 ] || fail "the capture's speed file has no rows"
    check_columns "$src/tools/plots/capture_speed.gp" "$(head -1 "$work/capture.speed.csv")" \
      "$(head -1 "$work/capture/slot0_root_speed.csv")"
  else
    fail "qvimport --speed-csv or the trace of its file"
  fi
else
  echo "plot data: no qvimport or no captured walk; the capture's figure is not checked"
fi

# The band: 51 rows at 0, 2, ... 100 % of 13 numbers each, every standard deviation positive.
band="$src/tools/plots/normal_gait.dat"
bad=$(grep -v '^#' "$band" | awk -F, '
  NF != 13 { print "row " NR ": " NF " fields"; bad = 1; exit }
  $1 != 2 * (NR - 1) { print "row " NR ": phase " $1; bad = 1; exit }
  { for (i = 3; i <= 13; i += 2) if (!($i > 0)) { print "row " NR ": SD " $i; bad = 1; exit } }
  END { if (!bad && NR != 51) print NR " rows" }')
[ -z "$bad" ] || fail "normal_gait.dat: $bad"

[ "$failures" -eq 0 ] && echo "plot data: every file and column the figures read is there"
exit $((failures > 0))
