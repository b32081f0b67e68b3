#!/bin/sh
# Runs one mail check against a real Dovecot POP3 server on loopback, over two mailboxes
# (ten MIME mails of about 10 MB with an attachment; 1000 small MIME request mails), with
# three readers: the robot's check (pop3_check_bench: the POP3 reader with its durable spool),
# a client that only receives the bytes (pop3_raw_client) and a Python peer (poplib and
# email). After a warm-up round, each of ROUNDS rounds (default 7) runs the three readers on
# each mailbox in a shuffled order, the mailbox refilled before every check. The time ratios
# are taken within a round (paired) and reported as their median with the lowest and highest;
# peak memory is the highest seen. The script fails when the robot's reader did not find the
# request lines the mailbox holds.
#
#   bench/pop3_compare.sh BUILD_DIR [ROUNDS] [--quick]
#
# BUILD_DIR is a build configured with -DTARNWICK_BENCH=ON. --quick uses two 1 MB mails and
# 20 small ones: a check that the benchmark still runs, not a measurement.
set -eu
build=$(cd "$1" && pwd)
rounds=7
quick=
for arg in "${2:-}" "${3:-}"; do
    case $arg in
    --quick) quick=--quick ;;
    "") ;;
    *) rounds=$arg ;;
    esac
done
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/tarnwick-pop3-bench-XXXXXX)
python=/usr/bin/python3
dovecot_pid=
cleanup() {
    if [ -n "$dovecot_pid" ]; then
        kill "$dovecot_pid" 2>/dev/null || true
        wait "$dovecot_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

echo "writing the mailboxes..."
"$python" "$here/pop3_mailboxes.py" make "$work/boxes" $quick

# A Dovecot of our own, configured as the test fixtures do (testing/dovecot.conf.in). Mail is
# not served as root: run as root, the mailbox belongs to the dovecot user.
if [ "$(id -u)" = 0 ]; then
    mail_uid=$(id -u dovecot) mail_gid=$(id -g dovecot)
    login_user=dovenull internal_user=dovecot internal_group=dovecot
else
    mail_uid=$(id -u) mail_gid=$(id -g)
    login_user=$(id -un) internal_user=$(id -un) internal_group=$(id -gn)
fi
root=$work/dovecot/
maildir=${root}home/station/Maildir
for sub in run state home/station/Maildir/tmp home/station/Maildir/new home/station/Maildir/cur; do
    mkdir -p "$root$sub"
done
chmod 755 "$work" "$root"
chown -R "$mail_uid:$mail_gid" "${root}home"
port=$("$python" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
# Plain POP3 only: no certificate, no POP3S listener.
sed -e "s|\${DIR}|$root|g" -e "s|\${PORT}|$port|g" -e "s|\${LOGIN_USER}|$login_user|g" \
    -e "s|\${SSL}|no|g" -e "s|\${SSL_CERT}||g" -e "s|\${SSL_KEY}||g" \
    -e "s|\${DISABLE_PLAINTEXT_AUTH}|no|g" -e "s|\${TLS_PORT}|0|g" \
    -e "s|\${INTERNAL_USER}|$internal_user|g" -e "s|\${INTERNAL_GROUP}|$internal_group|g" \
    -e "s|\${UID}|$mail_uid|g" -e "s|\${GID}|$mail_gid|g" \
    "$here/../testing/dovecot.conf.in" > "${root}dovecot.conf"
echo "station:{PLAIN}pop-secret" > "${root}users"
/usr/sbin/dovecot -F -c "${root}dovecot.conf" > "${root}dovecot.out" 2>&1 &
dovecot_pid=$!
"$python" - "$port" <<'PY'
import socket, sys, time
end = time.monotonic() + 15
while time.monotonic() < end:
    try:
        with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1) as s:
            if s.recv(3) == b"+OK":
                sys.exit(0)
    except OSError:
        time.sleep(0.05)
sys.exit("dovecot did not start on port " + sys.argv[1])
PY

server=127.0.0.1:$port
mkdir "$work/runs" "$work/spools"
# Round 0 warms the caches and is not counted.
round=0
while [ "$round" -le "$rounds" ]; do
    for box in big small; do
        order=$("$python" -c 'import random, sys; r = ["ours", "raw", "python"]; random.Random(sys.argv[1]).shuffle(r); print(" ".join(r))' "$round$box")
        for reader in $order; do
            "$python" "$here/pop3_mailboxes.py" fill "$work/boxes/$box" "$maildir" "$mail_uid" "$mail_gid"
            case $reader in
            ours) out=$("$build/bench/pop3_check_bench" "$server" station pop-secret "$work/spools" "$work/runs/$reader-$box.lines") ;;
            raw) out=$("$build/bench/pop3_raw_client" "$server" station pop-secret) ;;
            python) out=$("$python" "$here/pop3_python_peer.py" "$server" station pop-secret "$work/runs/$reader-$box.lines") ;;
            esac
            rm -rf "$work/spools"/*
            left=$(find "$maildir/new" "$maildir/cur" -type f | wc -l)
            if [ "$left" != 0 ]; then
                echo "$reader left $left mails of $box in the mailbox" >&2
                exit 1
            fi
            echo "$box $reader $round: $out"
            [ "$round" = 0 ] || echo "round=$round $out" >> "$work/runs/$reader-$box"
        done
    done
    round=$((round + 1))
done

"$python" - "$work" <<'PY'
import json, os, sys
work = sys.argv[1]

def runs(name):
    return {int(r["round"]): r for r in
            (dict(f.split("=") for f in line.split())
             for line in open(os.path.join(work, "runs", name)))}

def spread(values):
    values = sorted(values)
    middle = len(values) // 2
    median = values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2
    return median, values[0], values[-1]

def lines(name):
    return sorted(open(os.path.join(work, name)).read().splitlines())

wrong = False
print()
for box in ("big", "small"):
    info = json.load(open(os.path.join(work, "boxes", box + ".json")))
    expected = lines("boxes/%s.lines" % box)
    result = {reader: runs("%s-%s" % (reader, box)) for reader in ("ours", "raw", "python")}
    print("%s: %d mails, the largest %d bytes, %d request lines, %d rounds"
          % (box, info["mails"], info["largest"], len(expected), len(result["ours"])))
    for reader, r in result.items():
        median, low, high = spread(float(x["seconds"]) for x in r.values())
        print("  %-6s %7.3f s (%.3f-%.3f)  peak %7d kB"
              % (reader, median, low, high, max(int(x["peak_kb"]) for x in r.values())))
    if any(int(r.get("messages", 0)) != info["mails"] for r in result["raw"].values()):
        sys.exit("the raw client did not retrieve all %d mails" % info["mails"])
    if lines("runs/python-%s.lines" % box) != expected:
        sys.exit("the Python peer did not find the request lines of the mailbox")
    ours, raw, py = result["ours"], result["raw"], result["python"]
    over_raw = spread(float(ours[k]["seconds"]) / float(raw[k]["seconds"]) for k in ours)
    python_over = spread(float(py[k]["seconds"]) / float(ours[k]["seconds"]) for k in ours)
    peak = max(int(r["peak_kb"]) for r in ours.values())
    print("  time: ours %.2fx raw's (%.2f-%.2f); python %.2fx ours (%.2f-%.2f); "
          "peak memory: ours %.1f MB = %.2fx the largest mail"
          % (over_raw + python_over + (peak / 1024, peak * 1024 / info["largest"])))
    found = lines("runs/ours-%s.lines" % box)
    if found != expected:
        wrong = True
        missing = [line for line in expected if line not in found]
        print("  WRONG: ours found %d request lines, %d of the mailbox's %d are not among them"
              % (len(found), len(missing), len(expected)))
        if missing:
            extra = [line for line in found if line not in expected]
            print("    for example expected %r" % missing[0])
            if extra:
                print("    found instead        %r" % extra[0])
    print()
if wrong:
    sys.exit("the robot's reader did not find the request lines of the mailboxes")
PY
