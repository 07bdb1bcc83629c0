# Sourced by the callgrind scripts. Takes the runner from the first argument
# when it is not an option (and shifts it off), else builds a release runner
# in build-instr; sets bench and a scratch directory tmp, removed on exit.
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bench=
if [[ $# -gt 0 && $1 != --* ]]; then bench=$1; shift; fi
if [[ -z $bench ]]; then
  cmake -S . -B build-instr -DCMAKE_BUILD_TYPE=Release -DGRIDCULL_BUILD_APP=OFF \
        -DGRIDCULL_BUILD_TESTS=OFF >/dev/null
  cmake --build build-instr -j2 --target gridcull-bench >/dev/null
  bench=build-instr/gridcull-bench
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
