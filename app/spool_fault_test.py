#!/usr/bin/python3
"""The real tarnwick binary with the SMTP server down, so that its replies go to the resend
queue, while the disk fails under it: Dovecot, the stand-in recorder and (once it is up again)
aiosmtpd are real; the faults come from a preloaded library (testing/file_fault_shim.cpp) that
makes chosen file operations fail, or writes down everything the robot syncs.

- A full disk (ENOSPC on writes) or failing one (EIO on syncs) under spool/queue/: no request
  may be lost; the requests stay in the spool and are served by the next run.
- A spool that goes read-only once the lines are kept: the failed removals are reported and
  the run ends with 1.
- A power cut after any sync of a run: the disk is rebuilt as the journal says it was synced
  at that moment (a file's bytes as of its last fsync, empty when it had none; a folder's names
  as of its last fsync, as at the start when it had none), the mailbox as the server held it
  (the mails still there when the cut came before QUIT), and the robot is run again with the
  SMTP server up. Every request must then be answered with the recorder's bytes, and no reply
  may carry an empty or missing attachment.

Usage: spool_fault_test.py BUILD_DIR [unittest options]
"""

import collections
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testing"))
from crash_test import MAILS, REQUESTERS, expected_event_bytes_of  # noqa: E402
from end_to_end_test import (BUILD, TARNWICK, TICK_MS, Station, attachments_of,  # noqa: E402
                             parse)
from loopback_servers import SmtpServer  # noqa: E402

SHIM = os.path.join(BUILD, "testing", "file_fault_shim.so")
KEPT_AGAIN = "(the request is kept and will be served again)"


def shim_environment(station, **variables):
    env = dict(station.environment)
    env["LD_PRELOAD"] = SHIM
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    env.update(variables)
    return env


def run_once(station, env=None, timeout=120, tick_ms=TICK_MS):
    done = subprocess.run([TARNWICK, "--once", "--config-dir", station.config, "--tick-ms",
                           tick_ms], capture_output=True, text=True, errors="replace",
                          timeout=timeout, env=env or station.environment)
    return done.returncode, done.stdout


def entries(folder):
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


def deliver_mails(station):
    for number, (sender, line, _, _) in enumerate(MAILS):
        station.mail(line, sender=sender, message_id=f"<request-{number}@fault.example>")


def answer_problems(messages):
    """What is wrong with the replies the SMTP server took: requesters without the reply they
    asked for, and replies whose attachments are missing, empty or not the recorder's bytes.
    Also returns the attachment bytes that arrived right (once a requester: a second reply
    after a stop is allowed)."""
    problems = []
    good_bytes = 0
    by_requester = collections.defaultdict(list)
    for message in messages:
        for to in message["to"]:
            by_requester[to].append(parse(message))
    for _, _, reply, files in MAILS:
        answered = False
        for msg in by_requester[reply]:
            if files is None:
                answered = answered or msg["Subject"] == "Station Information"
                continue
            got = attachments_of(msg)
            if msg["Subject"].startswith("Your Event File"):
                wrong = [name for name in files
                         if got.get(name) != expected_event_bytes_of(name)]
                if wrong or list(got) != files:
                    problems.append(f"{reply}: attachments {sorted(got)} wrong: {wrong} "
                                    f"(sizes {[len(d) for d in got.values()]})")
                    continue
                if not answered:
                    good_bytes += sum(len(d) for d in got.values())
                answered = True
        if not answered:
            problems.append(f"{reply}: no reply with what it asked for")
    return problems, good_bytes


def expected_bytes():
    return sum(len(expected_event_bytes_of(name)) for _, _, _, files in MAILS if files
               for name in files)


class SpoolFaults(unittest.TestCase):
    def station(self, **kwargs):
        s = Station(**kwargs)
        self.addCleanup(s.close)
        return s

    def start_smtp(self, s):
        s.smtp = SmtpServer(s.smtp_port)

    def test_a_full_or_failing_disk_under_the_queue_loses_no_request(self):
        for fault in ("write:ENOSPC:/spool/queue/", "fsync:EIO:/spool/queue/",
                      "mkdir:ENOSPC:/spool/queue/."):
            with self.subTest(fault=fault):
                s = self.station(start_smtp=False)
                deliver_mails(s)
                code, out = run_once(s, shim_environment(s, TARNWICK_SHIM_FAIL=fault))
                spool = os.path.join(s.config, "spool")
                report = f"{fault}: exit code {code}, stdout:\n{out}"
                self.assertEqual(1, code, report)
                self.assertIn(KEPT_AGAIN, out, report)
                self.assertNotEqual([], entries(os.path.join(spool, "lines")), report)
                # No job was kept; a folder being built may be left when even its removal
                # failed, and the next start removes it.
                self.assertEqual([], [n for n in entries(os.path.join(spool, "queue"))
                                      if not n.startswith(".")], report)
                self.assertEqual([], entries(os.path.join(spool, "bad")), report)
                self.assertEqual(0, s.dovecot.waiting(), report)

                self.start_smtp(s)
                code, out = run_once(s)
                report += f"\n--- again with SMTP up, exit code {code}:\n{out}"
                self.assertEqual(0, code, report)
                self.assertIn(f"Resuming {len(MAILS)} requests and 0 unsent replies", out, report)
                problems, good = answer_problems(s.smtp.messages)
                self.assertEqual([], problems, report)
                self.assertEqual(expected_bytes(), good, report)
                for folder in ("lines", "queue", "bad"):
                    self.assertEqual([], entries(os.path.join(spool, folder)), report)
                self.assertEqual([], entries(s.temp), report)

    def test_a_spool_gone_read_only_after_the_lines_were_kept_is_reported(self):
        s = self.station()
        deliver_mails(s)
        code, out = run_once(s, shim_environment(
            s, TARNWICK_SHIM_FAIL="unlink:EROFS:/spool/lines/;write:EROFS:/spool/lines-done"))
        report = f"exit code {code}, stdout:\n{out}"
        self.assertEqual(1, code, report)
        # Each line done is a mark that cannot be written, the last one the entry's removal.
        self.assertEqual(len(MAILS) - 1, out.count("Spool Error: cannot write "), report)
        self.assertEqual(1, out.count("Spool Error: cannot remove "), report)
        self.assertEqual(([], expected_bytes()), answer_problems(s.smtp.messages), report)
        # The requests are still in the spool: the next run answers them again.
        code, out = run_once(s)
        self.assertEqual(0, code, out)
        self.assertIn(f"Resuming {len(MAILS)} requests and 0 unsent replies", out)
        self.assertEqual([], entries(os.path.join(s.config, "spool", "lines")))


class Journal:
    """The records the shim wrote, and the disk they describe at a cut after any of them."""

    def __init__(self, folder):
        self.folder = folder
        self.records = []
        with open(os.path.join(folder, "journal")) as f:
            for line in f.read().splitlines():
                self.records.append(line.split("\t"))

    def cut_points(self, after):
        """The cuts that give another disk: after every sync record past the first `after`."""
        return [i + 1 for i, r in enumerate(self.records) if i >= after and r[0] in "FD"]

    def quit_index(self):
        return next((i for i, r in enumerate(self.records) if r[0] == "Q"), len(self.records))

    def disk_at(self, cut):
        """What was synced before the cut: a dict {path: bytes, or None for a folder} and the
        function that fills it with the tree below a folder of a given identity."""
        files, folders = {}, {}
        for record in self.records[:cut]:
            if record[0] == "F":
                files[(record[1], record[2])] = record[4]
            elif record[0] == "D":
                folders[(record[1], record[2])] = (record[3], record[4:])
        disk = {}

        def walk(path, identity):
            disk[path] = None
            _, names = folders.get(identity, (path, []))
            for entry in names:
                name, ino, btime, kind = entry.rsplit("/", 3)
                child = (ino, btime)
                if kind == "d":
                    walk(os.path.join(path, name), child)
                elif kind == "f":
                    copy = files.get(child)
                    disk[os.path.join(path, name)] = b""
                    if copy:
                        with open(os.path.join(self.folder, copy), "rb") as f:
                            disk[os.path.join(path, name)] = f.read()
        return disk, walk


class PowerCut(unittest.TestCase):
    def test_a_power_cut_after_any_sync_loses_no_request(self):
        s = Station(start_smtp=False)
        self.addCleanup(s.close)
        deliver_mails(s)
        journal_dir = os.path.join(s.root, "journal")
        os.makedirs(journal_dir)
        roots = [s.config, s.temp, s.requests]
        variables = dict(TARNWICK_SHIM_JOURNAL=journal_dir, TARNWICK_SHIM_ROOTS=":".join(roots))
        subprocess.run(["/bin/true"], check=True,
                       env=shim_environment(s, TARNWICK_SHIM_BASELINE="1", **variables))
        baseline = len(Journal(journal_dir).records)

        # One run with the SMTP server down, stopped once every reply is queued.
        spool = os.path.join(s.config, "spool")
        child = subprocess.Popen([TARNWICK, "--once", "--config-dir", s.config, "--tick-ms",
                                  TICK_MS], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                 env=shim_environment(s, **variables))
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and child.poll() is None:
            queued = [n for n in entries(os.path.join(spool, "queue")) if n.isdigit()]
            if len(queued) == len(MAILS) and not entries(os.path.join(spool, "lines")):
                break
            time.sleep(0.05)
        child.send_signal(signal.SIGTERM)
        out = child.communicate(timeout=60)[0].decode(errors="replace")
        self.assertEqual(4, child.returncode, out)

        journal = Journal(journal_dir)
        cuts = journal.cut_points(baseline)
        quit_at = journal.quit_index()
        self.assertGreater(len(cuts), 20, f"too few syncs written down\n{out}")
        # The lines of the check cost one file sync and one folder sync before QUIT.
        line_syncs = [r[0] for r in journal.records[baseline:quit_at]
                      if "/spool/lines/" in r[3] or r[3].endswith("/spool/lines")]
        self.assertEqual(["F", "D"], line_syncs, out)
        s.smtp = SmtpServer(s.smtp_port)
        failures = []
        for cut in cuts:
            self.restore(s, journal, cut, roots)
            shutil.rmtree(os.path.join(s.dovecot.maildir, "cur"))
            os.makedirs(os.path.join(s.dovecot.maildir, "cur"))
            for name in entries(os.path.join(s.dovecot.maildir, "new")):
                os.unlink(os.path.join(s.dovecot.maildir, "new", name))
            if cut <= quit_at:
                deliver_mails(s)
            s.smtp.messages.clear()
            code, run_out = run_once(s, tick_ms="5")  # the queued replies go out sooner
            problems, good = answer_problems(s.smtp.messages)
            left = [f for f in ("lines", "queue") if entries(os.path.join(spool, f))]
            if code not in (0,) or problems or left or good != expected_bytes():
                failures.append(f"cut after record {cut} of {len(journal.records)} "
                                f"({'before' if cut <= quit_at else 'after'} QUIT): exit "
                                f"{code}, {problems}, {good} good bytes, left in {left}\n"
                                f"{run_out}")
        print(f"\n{len(cuts)} power cuts, {len(failures)} with a request lost or a reply "
              f"incomplete", file=sys.stderr)
        self.assertEqual([], failures, "\n".join(failures[:3]))

    @staticmethod
    def restore(s, journal, cut, roots):
        """Puts the disk as it was synced before the cut in place of the roots' contents."""
        disk, walk = journal.disk_at(cut)
        identities = {}
        for record in journal.records:
            if record[0] == "D" and record[3] in roots:
                identities.setdefault(record[3], (record[1], record[2]))
        for root in roots:
            for name in os.listdir(root):
                path = os.path.join(root, name)
                if os.path.isdir(path) and not os.path.islink(path):
                    shutil.rmtree(path)
                else:
                    os.unlink(path)
            walk(root, identities[root])
        for path in sorted(disk):
            if any(path == r for r in roots):
                continue
            if disk[path] is None:
                os.makedirs(path, exist_ok=True)
                os.chmod(path, 0o700)
            else:
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(disk[path])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
