# Helpers shared by the window tests; sourced, not run.
#
# A window test is run as  tests/with_xvfb.sh tests/window/test_X.sh QVDEMO SOURCE_DIR
# with DISPLAY set to a private 1024x768x24 Xvfb. There is no window manager:
# the demo's window sits at the top-left corner, so window pixels are screen
# pixels, and keys go to the window under the pointer.
#
# Needs xdotool, ImageMagick (import, convert, compare), a C compiler with the
# Xlib headers (for the close helper, see close_demo) and timeout.

set -u

# QV_SOURCE and the DEMO_ variables are read by the scripts that source this file.
# shellcheck disable=SC2034
{
  QV_DEMO=$(readlink -f "${1:?usage: $0 QVDEMO SOURCE_DIR}")
  QV_SOURCE=$(readlink -f "${2:?usage: $0 QVDEMO SOURCE_DIR}")
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/qv_window.XXXXXX")
  DEMO_PID=""
  DEMO_WID=""
  DEMO_STATUS=""
}

cleanup() {
  if [ -n "$DEMO_PID" ] && kill -0 "$DEMO_PID" 2>/dev/null; then
    kill "$DEMO_PID" 2>/dev/null
    sleep 0.2
    kill -9 "$DEMO_PID" 2>/dev/null
  fi
  if [ -n "${QV_KEEP_SHOTS:-}" ]; then
    echo "screenshots kept in $WORK"
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "FAIL: $*" >&2
  if [ -s "$WORK/stdout" ]; then echo "demo stdout:" >&2; cat "$WORK/stdout" >&2; fi
  if [ -s "$WORK/stderr" ]; then echo "demo stderr:" >&2; cat "$WORK/stderr" >&2; fi
  exit 1
}
note() { echo "-- $*"; }

# poll SECONDS COMMAND...: succeeds as soon as COMMAND does, fails after SECONDS.
poll() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  while :; do
    "$@" && return 0
    [ "$SECONDS" -ge "$end" ] && return 1
    sleep 0.1
  done
}

# The close helper: asks the window to close the way a window manager does,
# with a WM_DELETE_WINDOW client message, which SDL turns into SDL_QUIT.
# (xdotool's windowclose destroys the window under the program's feet, and
# windowkill cuts its connection; either ends it with an X error.)
build_close_helper() {
  cat >"$WORK/xclose.c" <<'EOF'
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        fprintf(stderr, "usage: %s WINDOW_ID\n", argv[0]);
        return 2;
    }
    Display* d = XOpenDisplay(NULL);
    if (!d)
    {
        fprintf(stderr, "xclose: cannot open the display\n");
        return 1;
    }
    XEvent e;
    memset(&e, 0, sizeof e);
    e.xclient.type = ClientMessage;
    e.xclient.window = (Window)strtoul(argv[1], NULL, 0);
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
    e.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(d, e.xclient.window, False, NoEventMask, &e);
    XSync(d, False);
    XCloseDisplay(d);
    return sent ? 0 : 1;
}
EOF
  "${CC:-cc}" -O1 -o "$WORK/xclose" "$WORK/xclose.c" -lX11 2>"$WORK/xclose.log" ||
    fail "cannot build the close helper: $(cat "$WORK/xclose.log")"
}

# make_rundir DIR ACTOR_FILE: a working directory whose ./data/walker.xml is
# a copy of ACTOR_FILE (or nothing, when ACTOR_FILE is empty).
make_rundir() {
  mkdir -p "$1/data"
  if [ -n "$2" ]; then cp "$2" "$1/data/walker.xml" || fail "cannot copy $2"; fi
}

# start_demo DIR [ARG...]: starts the demo in DIR with the arguments, its
# standard output and error going to $WORK/stdout and $WORK/stderr; its exit
# status lands in $WORK/status.
start_demo() {
  rm -f "$WORK/status" "$WORK/pid"
  (
    cd "$1" || exit 1
    shift
    "$QV_DEMO" "$@" >"$WORK/stdout" 2>"$WORK/stderr" &
    echo $! >"$WORK/pid"
    wait $!
    echo $? >"$WORK/status.tmp"
    mv "$WORK/status.tmp" "$WORK/status"
  ) &
  poll 10 test -s "$WORK/pid" || fail "the demo did not start"
  DEMO_PID=$(cat "$WORK/pid")
  DEMO_STATUS=""
}

demo_ended() { [ -e "$WORK/status" ]; }

# wait_for_demo_exit SECONDS: sets DEMO_STATUS; fails if it keeps running.
wait_for_demo_exit() {
  poll "$1" demo_ended || fail "the demo still runs after $1 s"
  # shellcheck disable=SC2034
  DEMO_STATUS=$(cat "$WORK/status")
  DEMO_PID=""
}

find_window() {
  DEMO_WID=$(xdotool search --onlyvisible --pid "$DEMO_PID" 2>/dev/null | head -n 1)
  [ -n "$DEMO_WID" ]
}

caption() { xdotool getwindowname "$DEMO_WID" 2>/dev/null; }
caption_shows_count() { caption | grep -Eq '^FPS: [0-9]+$'; }

# wait_for_running_demo: the window is up and the caption has been refreshed
# at least once, so the main loop is running. Sets DEMO_WID.
wait_for_running_demo() {
  poll 60 eval 'demo_ended || find_window' || fail "no window appeared within 60 s"
  demo_ended && fail "the demo ended at start-up with status $(cat "$WORK/status")"
  poll 60 eval 'demo_ended || caption_shows_count' ||
    fail "the caption never read 'FPS: ' and a count (it reads '$(caption)')"
  demo_ended && fail "the demo ended with status $(cat "$WORK/status")"
  # Keys go to the window under the pointer.
  xdotool mousemove 400 300 || fail "xdotool mousemove failed"
}

# close_demo: closes the window and waits for the demo to end (DEMO_STATUS).
close_demo() {
  [ -x "$WORK/xclose" ] || build_close_helper
  "$WORK/xclose" "$DEMO_WID" || fail "could not send the close request"
  wait_for_demo_exit 30
}

# shot NAME: the demo's 800x600 window as $WORK/NAME.png.
shot() {
  import -window root -crop 800x600+0+0 +repage "$WORK/$1.png" 2>"$WORK/import.log" ||
    fail "screenshot failed: $(cat "$WORK/import.log")"
}

# differing A B [GEOMETRY]: the number of pixels in which two screenshots
# differ, optionally within a region such as 800x100+0+500.
differing() {
  local a="$WORK/$1.png" b="$WORK/$2.png"
  if [ -n "${3:-}" ]; then
    convert "$a" -crop "$3" +repage "$WORK/crop_a.png"
    convert "$b" -crop "$3" +repage "$WORK/crop_b.png"
    a="$WORK/crop_a.png"
    b="$WORK/crop_b.png"
  fi
  compare -metric AE "$a" "$b" null: 2>&1 | sed 's/[^0-9].*//'
}

# histogram NAME [GEOMETRY]: the colours of a screenshot, or of a region of
# it, one line each: "COUNT: (R,G,B) ...".
histogram() {
  local f="$WORK/$1.png"
  if [ -n "${2:-}" ]; then
    convert "$f" -crop "$2" +repage "$WORK/crop_h.png"
    f="$WORK/crop_h.png"
  fi
  convert "$f" -depth 8 -format %c histogram:info:-
}

# count_colour NAME R G B [GEOMETRY]: how many pixels of exactly that colour.
count_colour() {
  histogram "$1" "${5:-}" | awk -v want="($2,$3,$4)" '$2 == want { n += $1 } END { print n + 0 }'
}

# The clear colour (0.5, 0.5, 0.6) on a 24-bit screen.
count_background() {
  local n=0 c
  for rg in 127 128; do
    for gg in 127 128; do
      c=$(count_colour "$1" "$rg" "$gg" 153 "${2:-}")
      n=$((n + c))
    done
  done
  echo "$n"
}

# Screenshots until two in a row are identical (the picture holds still),
# within SECONDS; the last one is NAME.
shot_when_still() {
  local name=$1 limit=$2 end=$((SECONDS + $2))
  shot "$name"
  while :; do
    sleep 0.3
    shot "${name}_next"
    if [ "$(differing "$name" "${name}_next")" = 0 ]; then return 0; fi
    mv "$WORK/${name}_next.png" "$WORK/$name.png"
    [ "$SECONDS" -ge "$end" ] && fail "the picture did not hold still within $limit s"
  done
}

# Screenshots until one differs from NAME (the picture moves), within SECONDS.
wait_for_change_from() {
  local name=$1 limit=$2 end=$((SECONDS + $2))
  while :; do
    shot "${name}_moved"
    [ "$(differing "$name" "${name}_moved")" != 0 ] && return 0
    [ "$SECONDS" -ge "$end" ] && return 1
    sleep 0.2
  done
}

# colour_box NAME R G B: the bounding box of the pixels of exactly that
# (non-black) colour, as "WIDTH HEIGHT X Y"; "0 0 ..." when there are none.
colour_box() {
  convert "$WORK/$1.png" -fill black +opaque "rgb($2,$3,$4)" -format '%@' info: 2>/dev/null |
    sed 's/[x+]/ /g'
}

white() { count_colour "$1" 255 255 255; }

# skin_colours NAME [GEOMETRY]: the histogram's lines of the body's lit skin
# tone: red over green over blue in the proportions of (0.85, 0.64, 0.50),
# at any brightness. Nothing else the demo draws has it.
skin_colours() {
  histogram "$1" "${2:-}" | awk -F'[(,)]+' '{ r = $2 + 0; g = $3 + 0; b = $4 + 0
    if (r >= 40 && g > 0.65 * r && g < 0.85 * r && b > 0.48 * r && b < 0.7 * r) print }'
}
# skin NAME [GEOMETRY]: how many pixels have it.
skin() { skin_colours "$@" | awk '{ n += $1 } END { print n + 0 }'; }

# sync_with_t: T switches to line bones (far fewer white pixels) and back.
# Once each switch shows, every event sent before it has been handled. W1 is
# the number of white pixels of the outlined skeleton on screen.
white_below() { shot sync; [ "$(white sync)" -lt "$1" ]; }
white_above() { shot sync; [ "$(white sync)" -gt "$1" ]; }
sync_with_t() {
  xdotool key t
  poll 30 white_below $((${W1:?} * 6 / 10)) || fail "T did not switch to line bones"
  xdotool key t
  poll 30 white_above $((W1 * 8 / 10)) || fail "T did not switch back to outlined bones"
}

# The nearest ground, the bottom of the window, shows the grid alone: it
# moves under a walking character (which the camera follows) by thousands of
# pixels between two screenshots, and holds still under a standing one.
GROUND=800x120+0+480
grid_moves() {
  shot walk_a
  shot walk_b
  [ "$(differing walk_a walk_b $GROUND)" -gt 1000 ]
}
grid_still() {
  shot stand_a
  shot stand_b
  [ "$(differing stand_a stand_b $GROUND)" -lt 100 ]
}

# start_walker_demo: the demo on the repository's walker in $WORK/run,
# running, with the pointer over its window.
start_walker_demo() {
  [ -f "$QV_SOURCE/data/walker.xml" ] || fail "no data/walker.xml in $QV_SOURCE"
  make_rundir "$WORK/run" "$QV_SOURCE/data/walker.xml"
  start_demo "$WORK/run"
  wait_for_running_demo
  note "window $DEMO_WID, caption '$(caption)'"
}

# Helpers of the screenshot scripts in tools/.

# foot_spread NAME: the horizontal spread of the red foot points in shot
# NAME, in pixels.
foot_spread() {
  convert "$WORK/$1.png" -depth 8 txt:- |
    awk -F'[,:]' '/#FF0000/ { x = $1 + 0; if (n++ == 0 || x < lo) lo = x; if (x > hi) hi = x }
                  END { print (n ? hi - lo : 0) }'
}
pause_toggle() { xdotool key p; sleep 0.3; }
# widest_stride NAME [TRIES] [GAP]: of TRIES (8) paused pictures of the walk,
# GAP (0.17) seconds of walking apart, the one with the feet farthest apart,
# as NAME.
widest_stride() {
  local best=-1 try spread
  for try in $(seq 1 "${2:-8}"); do
    pause_toggle
    shot "try$try"
    spread=$(foot_spread "try$try")
    if [ "$spread" -gt "$best" ]; then
      best=$spread
      cp "$WORK/try$try.png" "$WORK/$1.png"
    fi
    pause_toggle
    sleep "${3:-0.17}"
  done
  note "$1: feet $best px apart"
}
# orbit DX DY: a left-button drag from the window's centre, a degree per
# pixel; dragging downwards raises the eye.
orbit() {
  xdotool mousemove 400 300 mousedown 1
  xdotool mousemove $((400 + $1)) $((300 + $2)) mouseup 1
  xdotool mousemove 400 300
}
