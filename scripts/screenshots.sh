#!/usr/bin/env bash
# Renders docs/main-window.png, docs/smtp-info.png and docs/statistics.png from the built
# desktop window under a virtual X display (Xvfb), for a station whose recorder folders
# recorder-sim --init made, so the pictures show a healthy run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build/screenshots
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target desktop_screenshots recorder-sim
# The station's folders at a short fixed path, since the pictures show it.
station=/tmp/anmo
if [ -e "$station" ]; then
    echo "screenshots.sh: $station exists; move it away first" >&2
    exit 1
fi
runtime=$(mktemp -d)
trap 'rm -rf "$runtime" "$station"' EXIT
mkdir -p "$station/requests" "$station/tmp"
"$build/recorder-sim/recorder-sim" --config "$station/mornak" --init
XDG_RUNTIME_DIR="$runtime" xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/app/desktop_screenshots" docs "$station"
# Fewer colours keep the images small; they stay sharp.
for f in docs/main-window.png docs/smtp-info.png docs/statistics.png; do
    convert "$f" -strip -colors 64 "PNG8:$f"
done
ls -l docs/main-window.png docs/smtp-info.png docs/statistics.png
