#!/usr/bin/python3
"""The real tarnwick binary killed with SIGKILL at random moments: `tarnwick --once` is run
against Dovecot, aiosmtpd and the stand-in recorder, killed, run again, killed again, until one
run ends by itself. Every request must then have been answered, the mailbox must be empty and
the spool must hold no line and no unsent reply. Replies sent twice are allowed (a kill between
a send and the removal of its spool entry repeats the send); they are counted and printed. A
kill after the lines were spooled and before the mailbox committed the deletion of their mail
leaves the mail to be read again, but its Message-ID is then known as taken: no second reply.
The kills come with the SMTP server up, and again with it down (the replies then go to the
resend queue, with their event files) until a last run with it up; every reply's attachments
must be the recorder's bytes, counted byte for byte.

Usage: crash_test.py BUILD_DIR [unittest options]
The environment variable CRASH_TEST_SEEDS (e.g. "3,5") picks other seeds than 0 to 7.
"""

import collections
import os
import random
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from end_to_end_test import (REQUEST, TARNWICK, TICK_MS, Station,  # noqa: E402
                             attachments_of, event_file_content, parse)
from loopback_servers import SmtpServer  # noqa: E402

SEEDS = [int(s) for s in os.environ.get("CRASH_TEST_SEEDS", "0,1,2,3,4,5,6,7").split(",")]
MAX_RUNS = 30
KILLS_WITH_SMTP_DOWN = 5
RUN_TIMEOUT = 60

# Six mails from six senders: (sender, request line, reply address, the reply's event files;
# None for station information). Each asks for another channel or minute.
MAILS = [
    ("one@a.example", REQUEST.format(channels="bhz", reply="req1@x.example"),
     "req1@x.example", ["0302181430.bhz.mqx"]),
    ("two@b.example", REQUEST.format(channels="bhn", reply="req2@x.example"),
     "req2@x.example", ["0302181430.bhn.mqx"]),
    ("three@c.example", REQUEST.format(channels="bhe", reply="req3@x.example"),
     "req3@x.example", ["0302181430.bhe.mqx"]),
    ("four@d.example", "eventfilerequest=2 18 2003 14 31 5 20 bhz req4@x.example",
     "req4@x.example", ["0302181431.bhz.mqx"]),
    ("five@e.example", "eventfilerequest=2 18 2003 14 32 5 20 bhn,bhe req5@x.example",
     "req5@x.example", ["0302181432.bhn.mqx", "0302181432.bhe.mqx"]),
    ("six@f.example", "stationinfo=req6@x.example", "req6@x.example", None),
]
REQUESTERS = [reply for _, _, reply, _ in MAILS]


def start(station, output):
    """Starts tarnwick --once the way Station.run does, its output going to the file output."""
    return subprocess.Popen([TARNWICK, "--once", "--config-dir", station.config,
                             "--tick-ms", TICK_MS], stdout=output, stderr=subprocess.STDOUT,
                            env=station.environment)


def listing(folder):
    """Every file under folder, relative to it."""
    found = []
    for path, _, files in os.walk(folder):
        found += [os.path.relpath(os.path.join(path, f), folder) for f in files]
    return sorted(found)


def read(path):
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except OSError as e:
        return f"({e})"


def expected_attachment_bytes():
    return sum(len(expected_event_bytes_of(name)) for _, _, _, files in MAILS if files
               for name in files)


def queued_jobs(station):
    queue = os.path.join(station.config, "spool", "queue")
    return [n for n in os.listdir(queue) if n.isdigit()] if os.path.isdir(queue) else []


class CrashTest(unittest.TestCase):
    @staticmethod
    def station(smtp=True):
        """A fresh station with the six mails waiting; the caller closes it."""
        s = Station(start_smtp=smtp)
        try:
            for number, (sender, line, _, _) in enumerate(MAILS):
                s.mail(line, sender=sender, message_id=f"<request-{number}@crash.example>")
        except BaseException:
            s.close()
            raise
        return s

    def check_reply(self, reply, expected_files):
        """True when the reply is the answer the request asked for."""
        msg = parse(reply)
        if expected_files is None:
            return msg["Subject"] == "Station Information"
        files = attachments_of(msg)
        return (list(files) == expected_files and
                all(data == expected_event_bytes_of(name) for name, data in files.items()))

    def test_kills_at_random_moments_lose_no_request(self):
        # One whole run on a fresh station bounds the moments of the kills.
        s = self.station()
        try:
            began = time.monotonic()
            code, out = s.run(timeout=RUN_TIMEOUT)
            whole_run = time.monotonic() - began
            self.assertEqual(0, code, out)
            self.assertEqual(REQUESTERS, [m["to"][0] for m in s.smtp.messages])
        finally:
            s.close()
        print(f"\none whole run takes {whole_run:.3f} s", file=sys.stderr)

        for seed in SEEDS:
            with self.subTest(seed=seed):
                s = self.station()
                try:
                    self.crash_and_recover(s, seed, whole_run)
                finally:
                    s.close()

    def assert_every_request_answered(self, s, report):
        """Every requester has the reply it asked for, nothing is left behind; returns the
        replies by recipient."""
        spool = os.path.join(s.config, "spool")
        replies = collections.defaultdict(list)
        for message in s.smtp.messages:
            for to in message["to"]:
                replies[to].append(message)
        self.assertEqual([], [r for r in REQUESTERS if r not in replies],
                         f"requesters without a reply\n{report}")
        self.assertEqual([], sorted(set(replies) - set(REQUESTERS)),
                         f"replies to others than the requesters\n{report}")
        good_bytes = 0
        for _, _, reply, files in MAILS:
            self.assertTrue(any(self.check_reply(m, files) for m in replies[reply]),
                            f"{reply} got no reply with what it asked for\n{report}")
            for m in replies[reply]:
                msg = parse(m)
                if files is not None and msg["Subject"].startswith("Your Event File"):
                    self.assertTrue(self.check_reply(m, files),
                                    f"{reply} got a reply with attachments "
                                    f"{sorted((n, len(d)) for n, d in attachments_of(msg).items())}"
                                    f"\n{report}")
            good_bytes += sum(len(d) for d in attachments_of(parse(replies[reply][0])).values())
        self.assertEqual(expected_attachment_bytes(), good_bytes,
                         f"attachment bytes received in first replies\n{report}")
        self.assertEqual(0, s.dovecot.waiting(), f"mails left in the mailbox\n{report}")
        for folder in ("lines", "queue", "bad"):
            self.assertEqual([], os.listdir(os.path.join(spool, folder)),
                             f"spool/{folder} is not empty\n{report}")
        return replies

    def test_sigterm_to_the_headless_robot_loses_no_request(self):
        for seed in SEEDS[:4]:
            with self.subTest(seed=seed):
                s = self.station()
                try:
                    self.stop_headless_and_finish(s, seed)
                finally:
                    s.close()

    def stop_headless_and_finish(self, s, seed):
        """The headless robot asked for a check (SIGUSR1) and stopped with SIGTERM at a random
        moment of serving the mails, then a single run finishes the work."""
        delay = random.Random(seed).uniform(0, 0.4)
        output_path = os.path.join(s.root, "headless.out")
        with open(output_path, "w") as output:
            child = subprocess.Popen([TARNWICK, "--headless", "--config-dir", s.config,
                                      "--tick-ms", TICK_MS], stdout=output,
                                     stderr=subprocess.STDOUT, env=s.environment)
            # The robot takes signals once it has started up.
            for _ in range(1000):
                if "Program Startup..." in read(output_path) or child.poll() is not None:
                    break
                time.sleep(0.01)
            os.kill(child.pid, signal.SIGUSR1)
            time.sleep(delay)
            os.kill(child.pid, signal.SIGTERM)
            stopped = child.wait(RUN_TIMEOUT)
        code, out = s.run(timeout=RUN_TIMEOUT)
        report = (f"seed {seed}, SIGTERM after {delay:.3f} s, exit code {stopped}, stdout:\n"
                  f"{read(output_path)}--- then --once, exit code {code}:\n{out}")
        spool = os.path.join(s.config, "spool")
        work_left = any(os.listdir(os.path.join(spool, f)) for f in ("lines", "queue")
                        if os.path.isdir(os.path.join(spool, f)))
        # Stopped with work left in the spool: 4; with nothing left: 0 or 4 (a check asked for).
        self.assertIn(stopped, (4,) if work_left else (0, 4), report)
        self.assertEqual(0, code, report)
        self.assert_every_request_answered(s, report)

    def crash_and_recover(self, s, seed, whole_run):
        rng = random.Random(seed)
        runs = []  # (delay, killed, exit code, stdout, tarnwick.log) of each run
        log_path = os.path.join(s.config, "tarnwick.log")
        finished = False
        for number in range(MAX_RUNS):
            delay = rng.uniform(0, whole_run)
            output_path = os.path.join(s.root, f"run{number}.out")
            with open(output_path, "w") as output:
                child = start(s, output)
                deadline = time.monotonic() + delay
                while child.poll() is None and time.monotonic() < deadline:
                    time.sleep(0.002)
                killed = child.poll() is None
                if killed:
                    os.kill(child.pid, signal.SIGKILL)
                try:
                    code = child.wait(RUN_TIMEOUT)
                except subprocess.TimeoutExpired:
                    child.kill()
                    code = child.wait()
            # Each run begins the log anew.
            runs.append((delay, killed, code, read(output_path), read(log_path)))
            if code == 0:
                finished = True
                break
            if code != -signal.SIGKILL:
                break

        spool = os.path.join(s.config, "spool")
        report = "\n".join(
            [f"seed {seed}, kills drawn from 0 to {whole_run:.3f} s:"] +
            [f"--- run {i}: " + (f"killed after {d:.3f} s" if k else "not killed") +
             f", exit code {c}, stdout:\n{o}--- its tarnwick.log:\n{log}"
             for i, (d, k, c, o, log) in enumerate(runs)] +
            ["--- spool: " + ", ".join(listing(spool)),
             "--- replies to: " + ", ".join(",".join(m["to"]) for m in s.smtp.messages)])

        self.assertTrue(finished, f"no run ended by itself with exit code 0\n{report}")
        replies = self.assert_every_request_answered(s, report)
        twice = {r: len(replies[r]) for r in REQUESTERS if len(replies[r]) > 1}
        kills = sum(code == -signal.SIGKILL for _, _, code, _, _ in runs)
        print(f"seed {seed}: {len(runs)} runs ({kills} killed), {len(twice)} requesters with "
              f"more than one reply" + (f" {twice}" if twice else ""), file=sys.stderr)


    def test_kills_while_the_smtp_server_is_down_lose_no_request(self):
        # One run on a fresh station until every reply is queued bounds the moments of the
        # kills.
        s = self.station(smtp=False)
        try:
            began = time.monotonic()
            with open(os.path.join(s.root, "run.out"), "w") as output:
                child = start(s, output)
                while len(queued_jobs(s)) < len(MAILS) and child.poll() is None and \
                        time.monotonic() - began < RUN_TIMEOUT:
                    time.sleep(0.01)
                until_queued = time.monotonic() - began
                child.kill()
                child.wait()
            self.assertEqual(len(MAILS), len(queued_jobs(s)), read(output.name))
        finally:
            s.close()
        print(f"\nall replies queued after {until_queued:.3f} s", file=sys.stderr)
        for seed in SEEDS[:4]:
            with self.subTest(seed=seed):
                s = self.station(smtp=False)
                try:
                    self.kill_then_finish(s, seed, until_queued)
                finally:
                    s.close()

    def kill_then_finish(self, s, seed, until_queued):
        rng = random.Random(seed)
        outputs = []
        for number in range(KILLS_WITH_SMTP_DOWN):
            delay = rng.uniform(0, until_queued)
            output_path = os.path.join(s.root, f"run{number}.out")
            with open(output_path, "w") as output:
                child = start(s, output)
                deadline = time.monotonic() + delay
                while child.poll() is None and time.monotonic() < deadline:
                    time.sleep(0.002)
                child.kill()
                code = child.wait()
            outputs.append(f"--- run {number}: killed after {delay:.3f} s (exit code {code}):\n"
                           f"{read(output_path)}")
        s.smtp = SmtpServer(s.smtp_port)
        code, out = s.run(timeout=RUN_TIMEOUT)
        spool = os.path.join(s.config, "spool")
        report = "\n".join([f"seed {seed}, SMTP down, kills from 0 to {until_queued:.3f} s"] +
                           outputs + [f"--- SMTP up, exit code {code}:\n{out}",
                                      "--- spool: " + ", ".join(listing(spool))])
        self.assertEqual(0, code, report)
        replies = self.assert_every_request_answered(s, report)
        twice = {r: len(replies[r]) for r in REQUESTERS if len(replies[r]) > 1}
        print(f"seed {seed}: {KILLS_WITH_SMTP_DOWN} kills with SMTP down, "
              f"{expected_attachment_bytes()} attachment bytes received whole, "
              f"{len(twice)} requesters with more than one reply", file=sys.stderr)


def expected_event_bytes_of(name):
    """The recorder's bytes for an event file (named YYMMDDHHMM.channel.mqx) of this test's
    requests: 5 seconds at 20 samples per second from 2/18/2003 14:MM."""
    return event_file_content(name.split(".")[1], 2, 18, 2003, 14, int(name[8:10]), 5, 5)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
