#!/usr/bin/env bash
# Literal against strict culling on the scripted paths, fusion on and off:
# misses and overestimation against the true visible set, mean potentially
# visible set, and the visibility pass's median time. Times come from
# counting-only runs, literal and strict alternating, median of three each.
#   scripts/culling-table.sh [BENCH]      (default build/gridcull-bench)
set -euo pipefail
bench=${1:-build/gridcull-bench}
field() { sed -n "s#.*$1 \([0-9.]*\).*#\1#p" | head -n 1; }
median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
echo "| path | fusion | mode | misses (frames) | pvs/truth | mean pvs | visibility_ms median |"
echo "| --- | --- | --- | --- | --- | --- | --- |"
for path in start orbit sweep random; do
  for fusion in on off; do
    args=(--path "$path" --fusion "$fusion")
    [[ $path == random ]] && args+=(--seed 1)
    declare -A ms=()
    for round in 1 2 3; do
      for mode in off on; do
        ms[$mode]+="$("$bench" "${args[@]}" --strict "$mode" 2>&1 | field 'visibility_ms median') "
      done
    done
    for mode in off on; do
      out=$("$bench" "${args[@]}" --strict "$mode" --truth 2>&1)
      misses=$(sed -n 's/.*misses \([0-9]*\) in \([0-9]*\) frames.*/\1 (\2)/p' <<<"$out")
      ratio=$(field 'pvs/truth' <<<"$out")
      pvs=$(field 'mean pvs' <<<"$out")
      # shellcheck disable=SC2086
      med=$(median3 ${ms[$mode]})
      echo "| $path | $fusion | $([[ $mode == on ]] && echo strict || echo literal) | $misses | $ratio | $pvs | $med |"
    done
    unset ms
  done
done
