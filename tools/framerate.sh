#!/usr/bin/env bash
# Frame rate of qvdemo against bareloop, the least a frame of the same lines
# can cost (tools/bareloop.cpp), in the same run on the same X display.
#
# Usage (needs an X display; tests/with_xvfb.sh provides a private one):
#   tests/with_xvfb.sh tools/framerate.sh QVDEMO BARELOOP [SOURCE_DIR]
#   tests/with_xvfb.sh tools/framerate.sh --body QVDEMO [SOURCE_DIR]
# The second form compares the demo showing the walker's body (M pressed once
# the window is up) with the demo as it starts, showing the bones; the report
# is the same, with "body" in place of qvdemo and "bones" of bareloop.
# Environment: ROUNDS (default 6), SAMPLES per round (default 5),
#              WARMUP seconds before sampling (default 3).
#
# The two programs run one at a time, alternately (demo, bare, demo, bare,
# ...), ROUNDS times each, with SOURCE_DIR (default: this script's repository)
# as the working directory so that both read ./data/walker.xml. Each program
# shows "FPS: N" in its caption once a second; after WARMUP seconds the caption
# is read SAMPLES times, one second apart, with
#   xdotool search --name FPS getwindowname
# The report gives every sample, the median per program over all rounds and
# the demo's median as a percentage of the bare loop's (the target is at least
# 90 %), and each program's processor time per frame, which a busy machine
# disturbs much less than the frame rate. This is a measurement, not a test: it exits 0 whatever the figures
# (1 only when a program cannot be run or read).
set -u

usage() {
  echo "usage: $0 QVDEMO BARELOOP [SOURCE_DIR]" >&2
  echo "       $0 --body QVDEMO [SOURCE_DIR]" >&2
  exit 2
}
# The two sides: names, programs and the keys pressed once each shows its
# first caption.
if [ "${1:-}" = "--body" ]; then
  [ $# -ge 2 ] || usage
  demo=$(readlink -f "$2")
  bare=$demo
  src=$(readlink -f "${3:-$(dirname "$0")/..}")
  nameA=body keysA=m nameB=bones keysB="" target=""
else
  [ $# -ge 2 ] || usage
  demo=$(readlink -f "$1")
  bare=$(readlink -f "$2")
  src=$(readlink -f "${3:-$(dirname "$0")/..}")
  nameA=qvdemo keysA="" nameB=bareloop keysB="" target=90
fi
rounds=${ROUNDS:-6}
samples=${SAMPLES:-5}
warmup=${WARMUP:-3}

if [ -z "${DISPLAY:-}" ]; then
  echo "framerate.sh: no DISPLAY; run it under tests/with_xvfb.sh" >&2
  exit 1
fi
for tool in xdotool; do
  command -v "$tool" >/dev/null 2>&1 || { echo "framerate.sh: $tool is not installed" >&2; exit 1; }
done
for prog in "$demo" "$bare"; do
  [ -x "$prog" ] || { echo "framerate.sh: $prog is not an executable" >&2; exit 1; }
done

# Mesa's software renderer, whatever the display offers.
export LIBGL_ALWAYS_SOFTWARE=1

pid=""
stop() {
  [ -z "$pid" ] && return
  kill "$pid" 2>/dev/null
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=""
}
trap stop EXIT

# The number in the caption of the one window titled "FPS: N", or nothing.
caption_fps() {
  xdotool search --name '^FPS: [0-9]+$' getwindowname 2>/dev/null | head -n 1 | sed -n 's/^FPS: \([0-9][0-9]*\)$/\1/p'
}

hz=$(getconf CLK_TCK)
# User plus system time of a process, in clock ticks.
cpu_ticks() {
  awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null
}

median() {
  sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# run NAME PROGRAM [KEYS]: appends the samples of one round to $NAME.samples;
# KEYS are pressed over the window once it shows its first caption.
tmp=$(mktemp -d)
trap 'stop; rm -rf "$tmp"' EXIT
run() {
  local name=$1 prog=$2 keys=${3:-}
  (cd "$src" && exec "$prog") >"$tmp/$name.out" 2>&1 &
  pid=$!
  # The first caption appears about a second after the window opens.
  local waited=0
  until [ -n "$(caption_fps)" ]; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "framerate.sh: $prog ended before showing a frame rate:" >&2
      cat "$tmp/$name.out" >&2
      pid=""
      return 1
    fi
    sleep 0.2
    waited=$((waited + 1))
    if [ $waited -gt 300 ]; then
      echo "framerate.sh: no \"FPS: N\" caption from $prog within 60 s" >&2
      stop
      return 1
    fi
  done
  # Keys go to the window under the pointer (there is no window manager).
  [ -n "$keys" ] && xdotool mousemove 400 300 key $keys
  sleep "$warmup"
  local got="" sum=0 count=0 cpu0 cpu1 t0 t1
  cpu0=$(cpu_ticks "$pid")
  t0=$(date +%s.%N)
  for _ in $(seq 1 "$samples"); do
    sleep 1
    local n
    n=$(caption_fps)
    [ -n "$n" ] && { echo "$n" >>"$tmp/$name.samples"; got="$got $n"; sum=$((sum + n)); count=$((count + 1)); }
  done
  cpu1=$(cpu_ticks "$pid")
  t1=$(date +%s.%N)
  stop
  # Processor time per frame: the process's user and system time (all its
  # threads, the renderer's included) over the frames of the sampling
  # window, estimated as the mean frame rate times the window's length. It
  # depends much less than the frame rate on what else the machine runs.
  local per=""
  if [ "$count" -gt 0 ] && [ -n "$cpu0" ] && [ -n "$cpu1" ]; then
    per=$(awk -v c0="$cpu0" -v c1="$cpu1" -v t0="$t0" -v t1="$t1" -v s="$sum" -v n="$count" -v hz="$hz" \
      'BEGIN { f = s / n * (t1 - t0); if (f > 0) printf "%.3f", (c1 - c0) / hz * 1000 / f }')
    [ -n "$per" ] && echo "$per" >>"$tmp/$name.cpu"
  fi
  printf '  %-9s round %d: FPS%s; CPU %s ms/frame\n' "$name" "$round" "$got" "${per:-?}"
}

echo "Frame rate, $rounds rounds of $samples one-second samples each after ${warmup} s warm-up"
echo "  $nameA: $demo${keysA:+ (keys: $keysA)}"
echo "  $nameB: $bare${keysB:+ (keys: $keysB)}"
for f in "$nameA.samples" "$nameB.samples" "$nameA.cpu" "$nameB.cpu"; do : >"$tmp/$f"; done
for round in $(seq 1 "$rounds"); do
  run "$nameA" "$demo" "$keysA" || exit 1
  run "$nameB" "$bare" "$keysB" || exit 1
done
grep -m1 'OpenGL renderer' "$tmp/$nameB.out" | sed 's/^bareloop: /  /'

d=$(median <"$tmp/$nameA.samples")
b=$(median <"$tmp/$nameB.samples")
echo "  median $nameA: $d FPS ($(wc -l <"$tmp/$nameA.samples") samples)"
echo "  median $nameB: $b FPS ($(wc -l <"$tmp/$nameB.samples") samples)"
awk -v d="$d" -v b="$b" -v a="$nameA" -v o="$nameB" -v t="$target" 'BEGIN {
  if (b + 0 <= 0) { printf "  frame rate of %s / %s: n/a\n", a, o; exit }
  r = 100 * d / b
  printf "  frame rate of %s / %s: %.1f %%", a, o, r
  if (t != "") printf " (target: at least %d %%): %s", t, (r >= t ? "met" : "NOT MET")
  printf "\n"
}'
dc=$(median <"$tmp/$nameA.cpu")
bc=$(median <"$tmp/$nameB.cpu")
echo "  median CPU per frame: $nameA $dc ms, $nameB $bc ms (median of the rounds)"
awk -v d="$dc" -v b="$bc" -v a="$nameA" -v o="$nameB" 'BEGIN {
  if (d + 0 <= 0) exit
  printf "  rate the CPU cost allows, %s / %s: %.1f %%\n", a, o, 100 * b / d
}'
exit 0
