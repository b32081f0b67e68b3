#!/usr/bin/env bash
# Sets up and builds the robot, then runs it end to end on loopback: a Dovecot POP3 server,
# an aiosmtpd SMTP server and the stand-in recorder, a few request mails, `tarnwick --once`,
# and what the requesters received.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_GUI=OFF >/dev/null
cmake --build build/demo -j2 --target tarnwick recorder-sim
exec /usr/bin/python3 scripts/demo.py build/demo
