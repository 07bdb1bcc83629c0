#!/usr/bin/env bash
# Instructions per frame of the visibility work, counted by callgrind (exact
# for a given build, unlike wall-clock on a shared machine). Frames 10..69:
# the difference of a 70-frame and a 10-frame run, divided by 60, so set-up
# and the first frames (every moving object enters the grid) drop out.
#   scripts/instructions.sh [BENCH]   (default: builds release in build-instr)
set -euo pipefail
source "$(dirname "$0")/callgrind-setup.sh"

# Instructions of one run: the whole process, and the frame's own work (the
# refresh at its start and the visibility pass, inclusive). The whole-process
# count also holds the runner's timing statistics, which vary a little with
# the wall-clock times measured under valgrind; the pass count repeats exactly.
count() {
  valgrind --tool=callgrind --callgrind-out-file="$tmp/out" "$bench" "$@" >/dev/null 2>&1
  local total pass
  total=$(awk '/^(summary|totals):/ { print $2; exit }' "$tmp/out")
  pass=$(callgrind_annotate --inclusive=yes --threshold=100 "$tmp/out" 2>/dev/null | tr -d , |
         awk '/gridcull::(BeginFrame|RunVisibilityPass)\(gridcull::World&\)/ { n += $1 } END { print n + 0 }')
  echo "$total $pass"
}

per_frame() {
  local st sp lt lp
  read -r st sp < <(count --frames 10 "$@")
  read -r lt lp < <(count --frames 70 "$@")
  printf '%15s %15s' $(((lt - st) / 60)) $(((lp - sp) / 60))
}

yaw=$(printf '7%.0s' $(seq 70))
printf '%-8s %-8s %15s %15s\n' mode camera instr/frame pass/frame
for mode in off on; do
  name=literal; [[ $mode == on ]] && name=strict
  printf '%-8s %-8s %s\n' "$name" start "$(per_frame --strict "$mode")"
  printf '%-8s %-8s %s\n' "$name" yaw "$(per_frame --strict "$mode" --keys "$yaw")"
done
