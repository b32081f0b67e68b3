#!/usr/bin/python3
"""Start-up and idle memory of the robot, against a real Dovecot on loopback with an empty
mailbox.

Start-up: `tarnwick --once --tick-ms 1` (start, one mail check that finds nothing, exit) beside
the bytes-only client (pop3_raw_client: a program with no mail library, no settings and no
toolkit doing the same login and QUIT), and beside another build's tarnwick when --other names
one. After a warm-up, each round runs them in a shuffled order; the times are reported as the
median with the lowest and highest, and the ratio to the bytes-only client within each round.

Idle memory: `tarnwick --headless` a few ticks after its start: VmRSS and the shared libraries
mapped, the median of the runs.

  bench/startup_compare.py BUILD_DIR [--rounds N] [--other PROGRAM] [--quick]

--quick runs three rounds and one idle run: a check that the benchmark still runs.
"""

import argparse
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "testing"))
from loopback_servers import Dovecot  # noqa: E402


def spread(values, unit="", scale=1.0):
    return (f"{statistics.median(values) * scale:.2f}{unit} "
            f"({min(values) * scale:.2f}-{max(values) * scale:.2f})")


def make_config(root, build, dovecot):
    config = os.path.join(root, "config")
    mornak = os.path.join(root, "mornak")
    for folder in ("config", "req", "tmp"):
        os.makedirs(os.path.join(root, folder), mode=0o700)
    subprocess.run([os.path.join(build, "recorder-sim", "recorder-sim"), "--config", mornak,
                    "--init"], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(config, "tarnwick.ini"), "w") as f:
        f.write(f"StationName=ANMO\nPopServer=127.0.0.1:{dovecot.port}\n"
                f"PopUser={dovecot.user}\nPopKeyStr={dovecot.password.encode().hex()}\n"
                f"PopCheckTime=30\nSmtpServer=127.0.0.1:25\n"
                f"FromUser=ANMO Robot <robot@anmo.example>\nTempDir={root}/tmp/\n"
                f"MornakDir={mornak}/\nMornakReq={root}/req/\n")
    return config


def timed(command):
    began = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    took = time.perf_counter() - began
    if done.returncode != 0:
        sys.exit(f"{command[0]} ended with {done.returncode}:\n"
                 f"{done.stdout.decode(errors='replace')}")
    return took


def idle_memory(program, config):
    """VmRSS in KiB and the shared libraries mapped, a few ticks after a headless start."""
    child = subprocess.Popen([program, "--headless", "--config-dir", config, "--tick-ms", "50"],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        line = child.stdout.readline()
        if b"Program Startup" not in line:
            sys.exit(f"{program} --headless did not start: {line!r}")
        time.sleep(0.5)
        with open(f"/proc/{child.pid}/status") as f:
            rss = next(int(l.split()[1]) for l in f if l.startswith("VmRSS:"))
        with open(f"/proc/{child.pid}/maps") as f:
            libraries = {l.split()[-1] for l in f if ".so" in l.split()[-1]}
    finally:
        child.send_signal(signal.SIGTERM)
        child.wait(30)
    return rss, len(libraries)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--rounds", type=int, default=31)
    parser.add_argument("--other")
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    rounds, idle_runs = (3, 1) if args.quick else (args.rounds, 7)
    tarnwick = os.path.join(build, "app", "tarnwick")
    root = tempfile.mkdtemp(prefix="tarnwick-startup-bench-")
    os.chmod(root, 0o755)
    dovecot = Dovecot(os.path.join(root, "pop"))
    try:
        config = make_config(root, build, dovecot)
        readers = {
            "tarnwick --once": [tarnwick, "--once", "--config-dir", config, "--tick-ms", "1"],
            "bytes-only client": [os.path.join(build, "bench", "pop3_raw_client"),
                                  f"127.0.0.1:{dovecot.port}", dovecot.user, dovecot.password],
        }
        if args.other:
            readers["other --once"] = [os.path.abspath(args.other), "--once", "--config-dir",
                                       config, "--tick-ms", "1"]
        times = {name: [] for name in readers}
        ratios = {name: [] for name in readers}
        for number in range(rounds + 1):
            order = list(readers)
            random.shuffle(order)
            took = {name: timed(readers[name]) for name in order}
            if number == 0:
                continue  # the warm-up
            for name in readers:
                times[name].append(took[name])
                ratios[name].append(took[name] / took["bytes-only client"])
        print(f"start-up, empty mailbox, {rounds} rounds: median (lowest-highest)")
        for name in readers:
            ratio = "" if name == "bytes-only client" else \
                f", {spread(ratios[name], 'x')} the bytes-only client"
            print(f"  {name}: {spread(times[name], ' ms', 1000)}{ratio}")
        programs = {"tarnwick": tarnwick}
        if args.other:
            programs["other"] = os.path.abspath(args.other)
        print(f"idle, --headless after its first ticks, {idle_runs} runs: median (lowest-highest)")
        for name, program in programs.items():
            found = [idle_memory(program, config) for _ in range(idle_runs)]
            print(f"  {name}: RSS {spread([r for r, _ in found], ' MiB', 1 / 1024)}, "
                  f"{statistics.median(n for _, n in found):.0f} shared libraries")
    finally:
        dovecot.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
