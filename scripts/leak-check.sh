#!/usr/bin/env bash
# Leak check under valgrind memcheck: a short headless runner run, and the demo
# on a virtual X server ended with Esc after a few seconds of frames. Fails
# when a definitely-lost block was allocated by gridcull's own code; blocks
# lost inside the system's GL stack (the window's GLX context is never torn
# down, since Esc exits from inside the event loop) are listed apart.
#
# Usage: scripts/leak-check.sh [RUNNER DEMO]
#   default build/gridcull-bench and build/gridcull; needs valgrind, Xvfb and
#   xdotool (exit status 77, "skipped", when one is missing). The end-to-end
#   suite runs it on its own X server through GRIDCULL_LEAK_DISPLAY (an X
#   display to use instead of starting Xvfb). GRIDCULL_LEAK_DEMO_SECONDS sets
#   how long the demo draws (10).
set -euo pipefail
cd "$(dirname "$0")/.."
bench=${1:-build/gridcull-bench}
app=${2:-build/gridcull}
frames_seconds=${GRIDCULL_LEAK_DEMO_SECONDS:-10}

for tool in valgrind Xvfb xdotool; do
  command -v "$tool" > /dev/null || { echo "$tool not found (scripts/install-deps.sh installs it)"; exit 77; }
done
[ -x "$bench" ] && [ -x "$app" ] || { echo "build $bench and $app first"; exit 2; }

work=$(mktemp -d /tmp/gridcull-leaks-XXXXXX)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2> /dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

memcheck=(valgrind --leak-check=full --show-leak-kinds=definite --num-callers=30)

# Prints the definitely-lost records of a log and returns 1 when one of them
# was allocated by gridcull: the first frame below the allocator functions
# lies in the program itself.
check_log() {
  local log=$1 binary=$2
  grep -E "definitely lost:|indirectly lost:|in use at exit:|total heap usage:" "$log" | sed 's/^==[0-9]*== */  /'
  awk -v bin="$binary" '
    /definitely lost in loss record/ { inrec = 1; first = ""; head = $0; next }
    inrec && /^==[0-9]+== *$/ {
      sub(/^==[0-9]+== */, "", head); sub(/^==[0-9]+== */, "", first)
      if (index(first, bin) || first ~ /gridcull::/) { ours++; print "  gridcull: " head; print "    " first }
      else { theirs++; print "  system library: " head; print "    " first }
      inrec = 0; next
    }
    inrec && /(at|by) 0x/ && first == "" {
      if ($0 ~ /vgpreload_memcheck|operator new|libstdc\+\+/) next
      first = $0
    }
    END { printf "  definitely-lost records: %d from gridcull, %d from system libraries\n", ours, theirs; exit ours > 0 }
  ' "$log"
}

status=0

echo "== gridcull-bench --frames 20"
start=$(date +%s)
"${memcheck[@]}" --log-file="$work/bench.vg" "$bench" --frames 20 > "$work/bench.out" 2>&1 ||
  { echo "  the runner failed:"; cat "$work/bench.out"; status=1; }
echo "  $(($(date +%s) - start)) s under valgrind"
check_log "$work/bench.vg" "/$(basename "$bench"))" || status=1

echo "== gridcull, Esc after ${frames_seconds} s of frames"
start=$(date +%s)
if [ -n "${GRIDCULL_LEAK_DISPLAY:-}" ]; then
  export DISPLAY=$GRIDCULL_LEAK_DISPLAY
else
  exec {fd}> "$work/display"
  Xvfb -displayfd "$fd" -screen 0 800x600x24 -nolisten tcp -noreset > /dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -1 "$work/display")"
fi
"${memcheck[@]}" --log-file="$work/app.vg" "$app" > "$work/app.out" 2> "$work/app.err" &
app_pid=$!
window=""
for _ in $(seq 240); do
  window=$(xdotool search --name '^gridcull: ' 2> /dev/null | head -1 || true)
  [ -n "$window" ] && break
  sleep 0.5
done
if [ -z "$window" ]; then
  echo "  no window"
  status=1
else
  sleep "$frames_seconds"
  xdotool windowfocus "$window" key --window "$window" Escape 2> /dev/null || true
fi
app_status=0
wait "$app_pid" || app_status=$?
app_pid=""
echo "  exit status $app_status, $(($(date +%s) - start)) s under valgrind"
[ "$app_status" -eq 0 ] || status=1
check_log "$work/app.vg" "/$(basename "$app"))" || status=1

exit $status
