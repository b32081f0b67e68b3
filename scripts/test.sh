#!/usr/bin/env bash
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, builds and checks the
# Debian packages, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON \
    -DTARNWICK_BENCH=ON >/dev/null
cmake --build "$build" -j2
# The Debian packages, built and checked (lintian, the unit, the man page) before the tests.
scripts/package.sh
# Every fuzz target for 20 seconds on a copy of its seed corpus (its own clang build in
# build/fuzz, not a CTest test).
scripts/fuzz.sh 20
cd "$build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --output-on-failure -j2 --timeout 600
