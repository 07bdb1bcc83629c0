#!/usr/bin/env bash
# Instructions per frame of the visibility work, counted by callgrind (exact
# for a given build, unlike wall-clock on a shared machine). Frames 10..69:
# the difference of a 70-frame and a 10-frame run, divided by 60, so set-up
# and the first frames (every moving object enters the grid) drop out.
#   scripts/instructions.sh [BENCH]   (default: builds release in build-instr)
set -euo pipefail
cd "$(dirname "$0")/.."
bench=${1:-}
if [[ -z $bench ]]; then
  cmake -S . -B build-instr -DCMAKE_BUILD_TYPE=Release -DGRIDCULL_BUILD_APP=OFF \
        -DGRIDCULL_BUILD_TESTS=OFF >/dev/null
  cmake --build build-instr -j2 --target gridcull-bench >/dev/null
  bench=build-instr/gridcull-bench
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Total instructions of one run.
count() {
  valgrind --tool=callgrind --callgrind-out-file="$tmp/out" "$bench" "$@" >/dev/null 2>&1
  awk '/^(summary|totals):/ { print $2; exit }' "$tmp/out"
}

per_frame() {
  local short long
  short=$(count --frames 10 "$@")
  long=$(count --frames 70 "$@")
  echo $(((long - short) / 60))
}

yaw=$(printf '7%.0s' $(seq 70))
printf '%-8s %-8s %15s\n' mode camera instr/frame
for mode in off on; do
  name=literal; [[ $mode == on ]] && name=strict
  printf '%-8s %-8s %15s\n' "$name" start "$(per_frame --strict "$mode")"
  printf '%-8s %-8s %15s\n' "$name" yaw "$(per_frame --strict "$mode" --keys "$yaw")"
done
