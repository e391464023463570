#!/usr/bin/env bash
# qvdemo [ACTOR_FILE]: the character of a file named on the command line,
# wherever the demo is started, with the cross-fade and the contact locks on; a file whose root has no forward direction,
# and a wrong command line, are each refused with one line and status 1.
. "$(dirname "$0")/common.sh"

# expect_refusal NAME EXPECTED_LINE_PATTERN ARG...
expect_refusal() {
  local name=$1 pattern=$2
  shift 2
  make_rundir "$WORK/$name" ""
  start_demo "$WORK/$name" "$@"
  wait_for_demo_exit 60
  [ "$DEMO_STATUS" = 1 ] || fail "$name: exit status $DEMO_STATUS, expected 1"
  [ "$(wc -l <"$WORK/stdout")" -eq 1 ] || fail "$name: expected one line of output: $(cat "$WORK/stdout")"
  grep -Eqx "$pattern" "$WORK/stdout" || fail "$name: unexpected output: $(cat "$WORK/stdout")"
  note "$name: $(cat "$WORK/stdout")"
}

# The walker, named by an absolute path, from a directory that has no
# ./data/walker.xml of its own: it runs, says that a named file starts with
# the cross-fade and the contact locks on, and closing the window ends it
# well.
make_rundir "$WORK/elsewhere" ""
start_demo "$WORK/elsewhere" "$QV_SOURCE/data/walker.xml"
wait_for_running_demo
close_demo
[ "$DEMO_STATUS" = 0 ] || fail "the walker named on the command line: exit status $DEMO_STATUS"
[ "$(cat "$WORK/stdout")" = "qvdemo: $QV_SOURCE/data/walker.xml: cross-fade (B) on, contact locks (F) on" ] ||
  fail "unexpected output: $(cat "$WORK/stdout")"

# Three bones whose feet hang from the root at its own head: the locks would
# have no forward direction and the character would walk in place.
identity="1,0,0,0,0,1,0,0,0,0,1,0"
key='<key t="0"><quat w="1" x="0" y="0" z="0"/></key>'
channel="<channel><keyframes keys=\"1\">$key</keyframes></channel>"
{
  echo '<QVArmature><armature name="onroot"><skeleton bones="3">'
  for b in Root Bone.007 Bone.008; do echo "<bone name=\"$b\" len=\"1\"><matrix>$identity</matrix></bone>"; done
  echo '</skeleton><heirachy><node name="Root">NULL</node><node name="Bone.007">Root</node><node name="Bone.008">Root</node></heirachy></armature><actions>'
  for a in walk stand walk2; do echo "<action name=\"$a\" len=\"1000\">$channel$channel$channel</action>"; done
  echo '</actions></QVArmature>'
} >"$WORK/onroot.xml"
expect_refusal onroot "EXIT ON ERROR: XML ERROR: the root bone's first child 'Bone.007' sits on the root, .*" "$WORK/onroot.xml"

expect_refusal two_files "EXIT ON ERROR: usage: qvdemo \\[ACTOR_FILE\\]" "$QV_SOURCE/data/walker.xml" extra
expect_refusal option "EXIT ON ERROR: usage: qvdemo \\[ACTOR_FILE\\]" --fast

echo "PASS"
