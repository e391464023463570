#!/usr/bin/env bash
# The real program on actor files the loader refuses: a fixed message, one of
# the loader's consistency checks, nesting deep enough to overflow the
# parser's stack, and a FIFO and a directory in the file's place. Each run
# prints exactly one line, "EXIT ON ERROR: XML ERROR: " and the detail, and
# ends with status 1. (test_errors.sh covers a missing
# file, malformed XML and the demo's own requirements.)
. "$(dirname "$0")/common.sh"

# expect_refusal NAME EXPECTED_LINE_PATTERN ACTOR_FILE
expect_refusal() {
  local name=$1 pattern=$2 file=$3
  make_rundir "$WORK/$name" "$file"
  start_demo "$WORK/$name"
  wait_for_demo_exit 60
  [ "$DEMO_STATUS" = 1 ] || fail "$name: exit status $DEMO_STATUS, expected 1"
  [ "$(wc -l <"$WORK/stdout")" -eq 1 ] || fail "$name: expected one line of output"
  grep -Eqx "$pattern" "$WORK/stdout" || fail "$name: unexpected output: $(cat "$WORK/stdout")"
  note "$name: $(cat "$WORK/stdout")"
}

# A fixed message: the action's length spelled out.
cat >"$WORK/length.xml" <<'XML'
<QVArmature>
 <armature name="a">
  <skeleton bones="1"><bone name="Bone" len="1"><matrix>1,0,0,0,0,1,0,0,0,0,1,0</matrix></bone></skeleton>
  <heirachy><node name="Bone">NULL</node></heirachy>
 </armature>
 <actions><action name="x" length="1000"/></actions>
</QVArmature>
XML
expect_refusal length "EXIT ON ERROR: XML ERROR: Expecting 'length' attribute for 'action'\\." "$WORK/length.xml"

# A refusal of the loader's own: a bone that is its own ancestor.
sed -e 's|<skeleton bones="1">.*</skeleton>|<skeleton bones="3"><bone name="R" len="1"><matrix>1,0,0,0,0,1,0,0,0,0,1,0</matrix></bone><bone name="A" len="1"><matrix>1,0,0,0,0,1,0,0,0,0,1,0</matrix></bone><bone name="B" len="1"><matrix>1,0,0,0,0,1,0,0,0,0,1,0</matrix></bone></skeleton>|' \
    -e 's|<heirachy>.*</heirachy>|<heirachy><node name="R">NULL</node><node name="A">B</node><node name="B">A</node></heirachy>|' \
    "$WORK/length.xml" >"$WORK/cycle.xml"
expect_refusal cycle 'EXIT ON ERROR: XML ERROR: .*ancestor.*' "$WORK/cycle.xml"

# Elements nested 50 000 deep: refused before parsing, no crash.
awk 'BEGIN { for (i = 0; i < 50000; i++) printf "<a>"; for (i = 0; i < 50000; i++) printf "</a>"; print "" }' >"$WORK/deep.xml"
expect_refusal deep 'EXIT ON ERROR: XML ERROR: .*nested.*' "$WORK/deep.xml"

# A FIFO (nothing ever writes to it) and a directory in the actor file's
# place: refused before they are opened, so the demo neither blocks nor reads.
expect_refusal_of_path() {
  local name=$1 kind=$2
  start_demo "$WORK/$name"
  wait_for_demo_exit 60
  [ "$DEMO_STATUS" = 1 ] || fail "$name: exit status $DEMO_STATUS, expected 1"
  [ "$(wc -l <"$WORK/stdout")" -eq 1 ] || fail "$name: expected one line of output"
  grep -qx "EXIT ON ERROR: XML ERROR: the actor file './data/walker.xml' is $kind, not a regular file." "$WORK/stdout" ||
    fail "$name: unexpected output: $(cat "$WORK/stdout")"
  note "$name: $(cat "$WORK/stdout")"
}
make_rundir "$WORK/fifo" ""
mkfifo "$WORK/fifo/data/walker.xml" || fail "mkfifo failed"
expect_refusal_of_path fifo "a FIFO"
make_rundir "$WORK/directory" ""
mkdir "$WORK/directory/data/walker.xml"
expect_refusal_of_path directory "a directory"

echo "PASS"
