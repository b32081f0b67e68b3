#!/usr/bin/env bash
# Builds the robot and runs it headless on a fresh configuration directory; Ctrl-C ends it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/demo -j2 --target tarnwick
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
echo "Configuration directory: $dir"
build/demo/app/tarnwick --headless --config-dir "$dir" || true
