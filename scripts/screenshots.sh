#!/usr/bin/env bash
# Renders docs/main-window.png, docs/smtp-info.png and docs/statistics.png from the built
# desktop window under a virtual X display (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build/screenshots
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target desktop_screenshots
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
XDG_RUNTIME_DIR="$runtime" xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/app/desktop_screenshots" docs
# Fewer colours keep the images small; they stay sharp.
for f in docs/main-window.png docs/smtp-info.png docs/statistics.png; do
    convert "$f" -strip -colors 64 "PNG8:$f"
done
ls -l docs/main-window.png docs/smtp-info.png docs/statistics.png
