#!/usr/bin/env bash
# Sets up, builds from scratch and runs every test: the release build's full
# suite (core, runner and the demo under Xvfb), then the core suite again
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

rm -rf build build-sanitize
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DGRIDCULL_SANITIZE=ON -DGRIDCULL_BUILD_APP=OFF
cmake --build build-sanitize -j"$(nproc)" --target core_tests
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j2 -L core
