#!/usr/bin/python3
"""The real tarnwick binary as a service: it tells a notify socket when it is ready, reloading
and stopping, reads a changed recorder configuration on SIGHUP, gives each line its syslog
level when stdout is the journal, and keeps a metrics file that a Prometheus parser accepts.

Usage: service_test.py BUILD_DIR [unittest options]
"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from end_to_end_test import REQUEST, TARNWICK, Station, attachments_of, body_of  # noqa: E402

WAIT = 60  # seconds; only keeps a broken run from hanging the test


def wait_until(condition, what):
    end = time.monotonic() + WAIT
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError(f"never happened: {what}")


def check_metrics_format(text):
    """Fails unless a Prometheus parser accepts the text: promtool when it is installed,
    else the Python client's parser. Returns {name: value}."""
    promtool = shutil.which("promtool")
    if promtool:
        done = subprocess.run([promtool, "check", "metrics"], input=text, text=True,
                              capture_output=True)
        if done.returncode != 0 or done.stdout.strip() or done.stderr.strip():
            raise AssertionError(f"promtool: {done.stdout}{done.stderr}\n{text}")
    from prometheus_client.parser import text_string_to_metric_families
    values = {}
    for family in text_string_to_metric_families(text):
        assert family.documentation, family.name
        for sample in family.samples:
            values[sample.name] = sample.value
    return values


class Robot:
    """tarnwick --headless for a station, with a notify socket and stdout in a file that
    JOURNAL_STREAM names, as systemd runs it."""

    def __init__(self, station):
        self.station = station
        self.notify_path = os.path.join(station.root, "notify")
        self.notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.notify.bind(self.notify_path)
        self.notify.settimeout(WAIT)
        self.out_path = os.path.join(station.root, "stdout")
        self.metrics_path = os.path.join(station.root, "tarnwick.prom")
        self.out = open(self.out_path, "w")
        st = os.fstat(self.out.fileno())
        env = dict(station.environment, NOTIFY_SOCKET=self.notify_path,
                   JOURNAL_STREAM=f"{st.st_dev}:{st.st_ino}")
        self.proc = subprocess.Popen(
            [TARNWICK, "--headless", "--config-dir", station.config, "--tick-ms", "20",
             "--metrics-file", self.metrics_path], stdout=self.out, stderr=subprocess.STDOUT,
            env=env)

    def next_notice(self):
        return self.notify.recv(4096).decode()

    def wait_for_notice(self, prefix):
        """The notices up to and including the first that begins with prefix."""
        seen = []
        while not seen or not seen[-1].startswith(prefix):
            seen.append(self.next_notice())
        return seen

    def lines(self):
        with open(self.out_path) as f:
            return f.read().splitlines()

    def metrics(self):
        with open(self.metrics_path) as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(WAIT)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.out.close()
        self.notify.close()


class Service(unittest.TestCase):
    def setUp(self):
        self.station = Station()
        self.addCleanup(self.station.close)

    def robot(self):
        robot = Robot(self.station)
        self.addCleanup(robot.stop)
        return robot

    def ask(self, robot, channels, replies):
        """Mails a request, asks for a check and waits for the reply."""
        self.station.mail(REQUEST.format(channels=channels, reply="alice@uni.example"))
        robot.proc.send_signal(signal.SIGUSR1)
        wait_until(lambda: len(self.station.smtp.messages) >= replies, f"reply {replies}")
        return self.station.replies()[replies - 1]

    def test_a_recorder_configuration_written_after_start_up_is_used_after_sighup(self):
        # The robot reads the recorder's configuration from a folder that is empty at first.
        folder = os.path.join(self.station.root, "mornak-later")
        os.makedirs(folder)
        settings = os.path.join(self.station.config, "tarnwick.ini")
        with open(settings) as f:
            text = f.read().replace(f"MornakDir={self.station.mornak}/", f"MornakDir={folder}/")
        with open(settings, "w") as f:
            f.write(text)
        robot = self.robot()
        self.assertEqual(["READY=1\nSTATUS=Checking mail every 30 minutes"],
                         robot.wait_for_notice("READY=1"))

        reply = self.ask(robot, "bhz", 1)
        self.assertEqual("Event File Request Error", reply["Subject"])
        self.assertIn("No channel IDs found at this station", body_of(reply))

        for name in os.listdir(self.station.mornak):
            shutil.copy(os.path.join(self.station.mornak, name), folder)
        robot.proc.send_signal(signal.SIGHUP)
        notices = robot.wait_for_notice("READY=1")
        self.assertEqual(2, len(notices), notices)
        self.assertRegex(notices[0], r"^RELOADING=1\nMONOTONIC_USEC=\d+$")
        wait_until(lambda: any(line.endswith(" Settings reloaded: tarnwick.ini and the recorder "
                                             "configurations read again")
                               for line in robot.lines()), "the reload entry")

        reply = self.ask(robot, "bhz", 2)
        self.assertEqual("Your Event File", reply["Subject"])
        self.assertEqual(["0302181430.bhz.mqx"], list(attachments_of(reply)))

        values = wait_until(
            lambda: (lambda v: v if v.get("tarnwick_event_files_sent_total") == 1 else None)(
                check_metrics_format(robot.metrics())), "the metrics of the second reply")
        self.assertEqual(2, values["tarnwick_good_pop_logins_total"])
        self.assertEqual(2, values["tarnwick_pop_login_attempts_total"])
        self.assertEqual(0, values["tarnwick_queued_replies"])
        self.assertGreater(values["tarnwick_sent_bytes_total"], 4096)
        start = values["tarnwick_start_time_seconds"]
        self.assertLessEqual(abs(start - time.time()), 600)
        self.assertGreaterEqual(values["tarnwick_last_successful_mail_check_timestamp_seconds"],
                                start)
        self.assertGreaterEqual(values["tarnwick_last_failure_entry_timestamp_seconds"], start)

        robot.proc.send_signal(signal.SIGTERM)
        self.assertEqual(0, robot.proc.wait(WAIT))
        self.assertIn("STOPPING=1", robot.wait_for_notice("STOPPING=1"))

        # Journal priorities: the error and notice lines are exactly the entries of
        # tarnwick.log; the start of the run is no error.
        lines = robot.lines()
        for line in lines:
            self.assertRegex(line, r"^<[3456]>\d\d/\d\d \d\d:\d\d:\d\d ")
        logged = [line[18:] for line in lines if line[:3] in ("<3>", "<4>", "<5>")]
        self.assertEqual(self.station.log(), logged)
        errors = [line[18:] for line in lines if line.startswith("<3>")]
        self.assertIn("First MORNAK INI parse error", errors)
        self.assertNotIn("Program Startup...", errors)
        self.assertIn("Program Startup...", logged)
        self.assertNotIn("Checking for new email messages...", logged)
        self.assertTrue(any(line.endswith(" Checking for new email messages...")
                            and line.startswith("<6>") for line in lines))

    def test_a_robot_that_cannot_send_or_check_says_so_and_its_metrics_outlive_it(self):
        station = Station(start_smtp=False)
        self.addCleanup(station.close)
        robot = Robot(station)
        self.addCleanup(robot.stop)
        self.assertEqual(["READY=1\nSTATUS=Checking mail every 30 minutes"],
                         robot.wait_for_notice("READY=1"))
        station.mail(REQUEST.format(channels="bhz", reply="alice@uni.example"))
        robot.proc.send_signal(signal.SIGUSR1)
        values = wait_until(
            lambda: (lambda v: v if v.get("tarnwick_send_failures_total") == 1 else None)(
                check_metrics_format(robot.metrics())), "a failed send in the metrics")
        self.assertEqual(1, values["tarnwick_up"])
        self.assertEqual(1, values["tarnwick_mail_check_enabled"])
        self.assertEqual(1, values["tarnwick_queued_replies"])
        self.assertEqual(0, values["tarnwick_replies_given_up_total"])

        # A reload that leaves mail checking off: a warning, the status and the metric say why.
        station.write_settings(station.settings.replace("PopCheckTime=30", "PopCheckTime=0"))
        robot.proc.send_signal(signal.SIGHUP)
        self.assertEqual("READY=1\nSTATUS=Mail checking is off: not set: PopCheckTime (1 to 60)",
                         robot.wait_for_notice("READY=1")[-1])
        wait_until(lambda: check_metrics_format(robot.metrics())
                   ["tarnwick_mail_check_enabled"] == 0, "mail checking off in the metrics")
        warnings = [line[18:] for line in robot.lines() if line.startswith("<4>")]
        self.assertEqual(["Mail checking is off: not set: PopCheckTime (1 to 60)"], warnings)

        # Stopped with the reply still queued: the file stays and says the robot is down.
        robot.proc.send_signal(signal.SIGTERM)
        self.assertEqual(4, robot.proc.wait(WAIT))
        values = check_metrics_format(robot.metrics())
        self.assertEqual(0, values["tarnwick_up"])
        self.assertEqual(1, values["tarnwick_send_failures_total"])
        self.assertEqual(1, values["tarnwick_queued_replies"])

    def test_no_level_prefix_when_stdout_is_not_the_journal(self):
        out_path = os.path.join(self.station.root, "out")
        with open(out_path, "w") as out:
            st = os.fstat(out.fileno())
            env = dict(self.station.environment, JOURNAL_STREAM=f"{st.st_dev}:{st.st_ino + 1}")
            env.pop("NOTIFY_SOCKET", None)
            code = subprocess.run([TARNWICK, "--once", "--config-dir", self.station.config,
                                   "--tick-ms", "20"], stdout=out, env=env, timeout=WAIT
                                  ).returncode
        self.assertEqual(0, code)
        with open(out_path) as f:
            lines = f.read().splitlines()
        self.assertTrue(lines[0].endswith(" Program Startup..."), lines)
        self.assertFalse([line for line in lines if line.startswith("<")], lines)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
