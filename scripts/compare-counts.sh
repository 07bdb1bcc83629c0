#!/usr/bin/env bash
# Compares the per-frame counts and PVS lists of two gridcull-bench builds on
# the scripted paths, fusion on and off. Times differ from run to run and are
# left out. Extra arguments go to both runs (e.g. --strict on).
#   scripts/compare-counts.sh OLD_BENCH NEW_BENCH [options...]
set -euo pipefail
old=$1 new=$2
shift 2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
for path in start orbit sweep random:1 random:2 random:3; do
  for fusion in on off; do
    args=(--path "${path%%:*}" --fusion "$fusion" "$@")
    [[ $path == random:* ]] && args+=(--seed "${path#*:}")
    for side in old new; do
      bin=${!side}
      "$bin" "${args[@]}" --csv "$tmp/$side.csv" --pvs-lists "$tmp/$side.pvs" 2>/dev/null
      # frame..fov, then cells_tested: everything but the times.
      cut -d, -f1-11,13 "$tmp/$side.csv" > "$tmp/$side.counts"
    done
    if cmp -s "$tmp/old.counts" "$tmp/new.counts" && cmp -s "$tmp/old.pvs" "$tmp/new.pvs"; then
      echo "same      $path fusion $fusion ($(($(wc -l < "$tmp/new.counts") - 1)) frames)"
    else
      echo "DIFFERENT $path fusion $fusion"
      status=1
    fi
  done
done
exit $status
