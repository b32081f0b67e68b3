#!/bin/sh
# Sends 100 replies with a 1 MB attachment and one with a 100 MB attachment to a fast local
# SMTP sink, first with the robot's composer and client, then with the Python peer, and
# prints the time and peak-memory ratios.
#
#   bench/smtp_compare.sh BUILD_DIR        (a build configured with -DTARNWICK_BENCH=ON)
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/tarnwick-smtp-bench-XXXXXX)
sink_pid=
cleanup() {
    [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

head -c 1000000 /dev/urandom > "$work/small.mqx"
head -c 100000000 /dev/urandom > "$work/big.mqx"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$build/bench/fast_smtp_sink" "$port" "$work/ready" &
sink_pid=$!
while [ ! -e "$work/ready" ]; do sleep 0.05; done

run() {  # label program...
    label=$1; shift
    out=$("$@")
    echo "$label $out"
    echo "$out" > "$work/$label"
}
run ours-1MBx100 "$build/bench/smtp_send_bench" "127.0.0.1:$port" "$work/small.mqx" 100
run python-1MBx100 /usr/bin/python3 "$here/python_peer.py" "127.0.0.1:$port" "$work/small.mqx" 100
run ours-100MB "$build/bench/smtp_send_bench" "127.0.0.1:$port" "$work/big.mqx" 1
run python-100MB /usr/bin/python3 "$here/python_peer.py" "127.0.0.1:$port" "$work/big.mqx" 1

/usr/bin/python3 - "$work" <<'PY'
import sys, os
def read(name):
    fields = dict(f.split("=") for f in open(os.path.join(sys.argv[1], name)).read().split())
    return float(fields["seconds"]), float(fields["peak_kb"])
for case in ("1MBx100", "100MB"):
    ours, py = read("ours-" + case), read("python-" + case)
    print("%-8s speed: ours %.2fx faster than python; peak memory: ours %.3f of python's"
          % (case, py[0] / ours[0], ours[1] / py[1]))
PY
