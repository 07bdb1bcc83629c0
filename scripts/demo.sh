#!/usr/bin/env bash
# Sets up, builds and starts the interactive demo.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target gridcull
exec ./build/gridcull "$@"
