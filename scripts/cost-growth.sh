#!/usr/bin/env bash
# How the visibility work grows with the view: instructions per frame
# (callgrind, frames 10..69 after any positioning keys) from the start camera
# at several fields of view and at the sweep path's farthest viewpoints from
# the grid's centre, with what the work follows: cells tested, the last shell
# walked (dist), moving objects registered per frame, and the pvs.
#   scripts/cost-growth.sh [BENCH] [--strict on]   (default: builds release in build-instr)
set -euo pipefail
source "$(dirname "$0")/callgrind-setup.sh"

# Instructions and RegisterObject calls of one run (callgrind names each
# function once, then refers to it by number).
count() {
  valgrind --tool=callgrind --callgrind-out-file="$tmp/out" "$bench" "$@" >/dev/null 2>&1
  awk '/^(summary|totals):/ && !ir { ir = $2 }
       /^c?fn=\(/ { match($0, /\(([0-9]+)\)/); id = substr($0, RSTART + 1, RLENGTH - 2)
                    if (index($0, " ")) name[id] = $0
                    if ($0 ~ /^cfn=/) callee = id }
       /^calls=/ { split($1, c, "="); if (name[callee] ~ /RegisterObject/) reg += c[2] }
       END { print ir, reg + 0 }' "$tmp/out"
}

# ROW LABEL PREFIX-KEYS [bench options]: frames 10..69 after the prefix.
row() {
  local label=$1 keys=$2; shift 2
  local k=${#keys} pad10 pad70 si sr li lr
  pad10=$keys$(printf '.%.0s' $(seq 10)) pad70=$keys$(printf '.%.0s' $(seq 70))
  read -r si sr < <(count --keys "$pad10" --frames $((k + 10)) "$@")
  read -r li lr < <(count --keys "$pad70" --frames $((k + 70)) "$@")
  "$bench" --keys "$pad70" --frames $((k + 70)) --csv "$tmp/rows.csv" "$@" 2>/dev/null
  awk -F, -v from=$((k + 10)) -v label="$label" -v ir=$(((li - si) / 60)) -v reg="$(((lr - sr) / 60))" '
    NR > 1 && $1 >= from { n++; cells += $13; dist += $4; pvs += $2 }
    END { printf "%-22s %9.2fM %9d %6.1f %8s %7.1f\n", label, ir / 1e6, cells / n, dist / n, reg, pvs / n }' "$tmp/rows.csv"
}

printf '%-22s %10s %9s %6s %8s %7s\n' view instr/frame cells dist register pvs
for fov in 30 55 90 120 179; do
  row "start fov $fov" "" --fov "$fov" "$@"
done
# The sweep walks the three axes through the centre; its farthest points are
# the six face centres, looking along +x as the start camera does.
for face in x:0 X:69 y:0 Y:69 z:0 Z:69; do
  key=${face%%:*} at=${face#*:}
  steps=$(( at > 35 ? at - 35 : 35 - at ))
  axis=$(tr 'xyzXYZ' 'xyzxyz' <<< "$key")
  row "sweep $axis=$at" "$(printf "$key%.0s" $(seq $steps))" "$@"
done
