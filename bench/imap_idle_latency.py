#!/usr/bin/python3
"""How long a requester waits: from a request mail's delivery into Dovecot (through its LMTP
service, as a mail server hands mail over) to the reply's acceptance by the SMTP sink, with the
real `tarnwick --headless` on its default one-second tick, once waiting in IMAP IDLE and once
polling POP3 every two minutes (PopCheckTime=2).

The requests ("stationinfo=", answered from the recorder's configuration alone) are delivered
at random moments spread uniformly over a window of GAP seconds a request (5 s by default with
IDLE, 12 s with POP3, so that each mode sees arrivals at every phase of its tick and interval);
each reply is matched to its request by its recipient. Prints the median and the 95th
percentile per mode.

    /usr/bin/python3 bench/imap_idle_latency.py BUILD_DIR [--requests N] [--mode idle|pop3|both]
                                                [--gap SECONDS]

BUILD_DIR holds app/tarnwick and recorder-sim/recorder-sim. Run it under `nice -n 19`. With
POP3 the run takes about twelve minutes for 50 requests.
"""

import argparse
import os
import random
import shutil
import smtplib
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "testing"))

import loopback_servers  # noqa: E402
from loopback_servers import Dovecot, SmtpServer, free_ports  # noqa: E402

# Each accepted reply keeps the moment it was accepted.
_save = loopback_servers._Saver.handle_DATA


async def _timed_save(self, server, session, envelope):
    answer = await _save(self, server, session, envelope)
    self.messages[-1]["accepted"] = time.monotonic()
    return answer


loopback_servers._Saver.handle_DATA = _timed_save


def imap_and_lmtp_conf(imap_port, lmtp_port):
    return ("protocols = pop3 imap lmtp\n"
            "namespace inbox {\n  inbox = yes\n  separator = /\n}\n"
            "service imap-login {\n  chroot =\n"
            f"  inet_listener imap {{\n    address = 127.0.0.1\n    port = {imap_port}\n  }}\n"
            "  inet_listener imaps {\n    port = 0\n  }\n}\n"
            "service lmtp {\n"
            f"  inet_listener lmtp {{\n    address = 127.0.0.1\n    port = {lmtp_port}\n  }}\n}}\n")


def request_mail(number):
    return (f"From: user{number}@uni.example\r\nTo: station@anmo.example\r\n"
            f"Message-ID: <bench{number}.{time.time()}@uni.example>\r\n"
            f"Subject: station information\r\n\r\nstationinfo=user{number}@uni.example\r\n")


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[max(0, int(len(ordered) * fraction + 0.999999) - 1)]


def run_mode(build, mode, requests, root, gap):
    imap_port, lmtp_port = free_ports(2)
    mail_root = os.path.join(root, mode + "-mail")
    os.makedirs(mail_root)
    with open(os.path.join(mail_root, "imap.conf"), "w") as f:
        f.write(imap_and_lmtp_conf(imap_port, lmtp_port))
    dovecot = Dovecot(mail_root)
    smtp = SmtpServer()
    robot = None
    try:
        loopback_servers.wait_for_port(imap_port, "Dovecot's IMAP")
        station = os.path.join(root, mode + "-station")
        mornak, req, temp = (os.path.join(station, d) for d in ("mornak", "req", "tmp"))
        for d in (req, temp):
            os.makedirs(d)
        subprocess.run([os.path.join(build, "recorder-sim", "recorder-sim"), "--config", mornak,
                        "--init"], check=True, stdout=subprocess.DEVNULL)
        config = os.path.join(root, mode + "-config")
        os.makedirs(config, mode=0o700)
        server = f"imap://127.0.0.1:{imap_port}" if mode == "idle" else f"127.0.0.1:{dovecot.port}"
        with open(os.path.join(config, "tarnwick.ini"), "w") as f:
            f.write(f"StationName=ANMO\nPopServer={server}\nPopUser={dovecot.user}\n"
                    f"PopKeyStr={dovecot.password.encode().hex()}\nPopCheckTime=2\n"
                    f"SmtpServer=127.0.0.1:{smtp.port}\n"
                    f"FromUser=ANMO Station Robot <robot@anmo.example>\n"
                    f"TempDir={temp}/\nMornakDir={mornak}/\nMornakReq={req}/\n")
        out = open(os.path.join(root, mode + "-robot.out"), "w+")
        robot = subprocess.Popen([os.path.join(build, "app", "tarnwick"), "--headless",
                                  "--config-dir", config], stdout=out, stderr=subprocess.STDOUT)
        if mode == "idle":
            end = time.monotonic() + 30
            while time.monotonic() < end:
                out.seek(0)
                if "Waiting for new mail (IMAP IDLE)" in out.read():
                    break
                time.sleep(0.05)
            else:
                raise RuntimeError("the robot did not wait in IDLE")

        window = requests * (gap or (5.0 if mode == "idle" else 12.0))
        moments = sorted(random.uniform(0, window) for _ in range(requests))
        delivered = {}
        start = time.monotonic()
        lmtp = smtplib.LMTP("127.0.0.1", lmtp_port)
        for number, moment in enumerate(moments):
            time.sleep(max(0.0, start + moment - time.monotonic()))
            delivered[f"user{number}@uni.example"] = time.monotonic()
            lmtp.sendmail(f"user{number}@uni.example", [dovecot.user], request_mail(number))
        lmtp.quit()
        end = time.monotonic() + (60 if mode == "idle" else 300)
        while len(smtp.messages) < requests and time.monotonic() < end:
            time.sleep(0.05)
        waits = [m["accepted"] - delivered[m["to"][0]] for m in smtp.messages
                 if m["to"] and m["to"][0] in delivered]
        return waits
    finally:
        if robot:
            robot.terminate()
            robot.wait(30)
        smtp.stop()
        dovecot.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--requests", type=int, default=50)
    parser.add_argument("--mode", choices=("idle", "pop3", "both"), default="both")
    parser.add_argument("--gap", type=float, default=0.0)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    root = tempfile.mkdtemp(prefix="tarnwick-idle-bench-")
    os.chmod(root, 0o755)
    failed = False
    try:
        for mode in (("idle", "pop3") if args.mode == "both" else (args.mode,)):
            waits = run_mode(build, mode, args.requests, root, args.gap)
            label = "IMAP IDLE" if mode == "idle" else "POP3 every 2 min"
            if len(waits) < args.requests:
                print(f"{label}: only {len(waits)} of {args.requests} replies arrived")
                failed = True
            if waits:
                print(f"{label}: {len(waits)} requests, median {statistics.median(waits):.2f} s, "
                      f"95th percentile {percentile(waits, 0.95):.2f} s, "
                      f"longest {max(waits):.2f} s", flush=True)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
