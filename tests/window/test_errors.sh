#!/usr/bin/env bash
# The fatal paths: each prints exactly one line, "EXIT ON ERROR: " and the
# reason, on standard output and ends the demo with status 1.
. "$(dirname "$0")/common.sh"

# run_fatal NAME DIR [VAR=VALUE...]: runs the demo in DIR to its end (60 s at
# most) and checks the status and that the output is one line.
run_fatal() {
  local name=$1 dir=$2
  shift 2
  (cd "$dir" && env "$@" timeout -k 5 60 "$QV_DEMO" >"$WORK/$name.out" 2>"$WORK/$name.err")
  local status=$?
  [ "$status" = 124 ] && fail "$name: the demo did not end"
  [ "$status" = 1 ] || fail "$name: status $status, expected 1 (output: $(cat "$WORK/$name.out"))"
  [ "$(wc -l <"$WORK/$name.out")" = 1 ] || fail "$name: expected one line, got: $(cat "$WORK/$name.out")"
  [ -z "$(tail -c 1 "$WORK/$name.out")" ] || fail "$name: the line does not end with a line break"
  LINE=$(cat "$WORK/$name.out")
  note "$name: $LINE"
}

# expect_line NAME PATTERN: the line printed matches the extended regex.
expect_line() {
  echo "$LINE" | grep -Eq "$2" || fail "$1: the line '$LINE' does not match '$2'"
}

# No OpenGL window can be opened: SDL's dummy video driver has none.
make_rundir "$WORK/nogl" ""
run_fatal no_opengl "$WORK/nogl" SDL_VIDEODRIVER=dummy
expect_line no_opengl '^EXIT ON ERROR: .+'

# No display at all: one line still, and nothing else on the terminal.
run_fatal no_display "$WORK/nogl" -u DISPLAY
expect_line no_display '^EXIT ON ERROR: [^[:cntrl:]]+$'

# No actor file in the working directory.
make_rundir "$WORK/missing" ""
run_fatal missing "$WORK/missing"
expect_line missing '^EXIT ON ERROR: XML ERROR: Failed to open file$'

# A file that is not well-formed XML.
make_rundir "$WORK/broken" ""
printf '<QVArmature>\n <armature name="x">\n  <skeleton bones="1">\n' >"$WORK/broken/data/walker.xml"
run_fatal broken "$WORK/broken"
expect_line broken '^EXIT ON ERROR: XML ERROR: .+'

# Well-formed, but not an actor file.
make_rundir "$WORK/wrong_root" ""
printf '<?xml version="1.0"?>\n<Armature><armature name="x"/></Armature>\n' >"$WORK/wrong_root/data/walker.xml"
run_fatal wrong_root "$WORK/wrong_root"
expect_line wrong_root "^EXIT ON ERROR: XML ERROR: Expecting 'armature' tag\\.$"

# An actor file the loader accepts but the demo cannot use: one action only.
make_rundir "$WORK/one_action" ""
cat >"$WORK/one_action/data/walker.xml" <<'XML'
<QVArmature>
 <armature name="figure">
  <skeleton bones="3">
   <bone name="Bone" len="1"><matrix>1,0,0,0, 0,1,0,0, 0,0,1,1</matrix></bone>
   <bone name="Bone.007" len="1"><matrix>1,0,0,0, 0,1,0,1, 0,0,1,0</matrix></bone>
   <bone name="Bone.008" len="1"><matrix>1,0,0,0, 0,1,0,1, 0,0,1,0</matrix></bone>
  </skeleton>
  <heirachy>
   <node name="Bone">NULL</node>
   <node name="Bone.007">Bone</node>
   <node name="Bone.008">Bone</node>
  </heirachy>
 </armature>
 <actions>
  <action name="stand" len="1000">
   <channel><keyframes keys="1"><key t="0"><quat w="1" x="0" y="0" z="0"/></key></keyframes></channel>
   <channel><keyframes keys="1"><key t="0"><quat w="1" x="0" y="0" z="0"/></key></keyframes></channel>
   <channel><keyframes keys="1"><key t="0"><quat w="1" x="0" y="0" z="0"/></key></keyframes></channel>
  </action>
 </actions>
</QVArmature>
XML
run_fatal one_action "$WORK/one_action"
expect_line one_action '^EXIT ON ERROR: XML ERROR: the walker needs three actions'

note "errors: all checks passed"
