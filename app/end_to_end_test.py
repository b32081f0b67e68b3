#!/usr/bin/python3
"""The real tarnwick binary, end to end: `tarnwick --once` against Dovecot, aiosmtpd and the
stand-in recorder, all on loopback.

Usage: end_to_end_test.py BUILD_DIR [unittest options]
"""

import email
import email.message
import email.policy
import fcntl
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testing"))
from loopback_servers import Dovecot, SmtpServer, free_port  # noqa: E402
from oauth2_endpoint import CLIENT_ID, OAuth2Endpoint  # noqa: E402

BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else "build"
TARNWICK = os.path.join(BUILD, "app", "tarnwick")
RECORDER = os.path.join(BUILD, "recorder-sim", "recorder-sim")
TICK_MS = "20"
STATION = "ANMO"
REQUEST = "eventfilerequest=2 18 2003 14 30 5 20 {channels} {reply}"


def parse(message):
    return email.message_from_bytes(message["content"], policy=email.policy.default)


def body_of(msg):
    """The body as the robot wrote it. In a message with attachments the text part carries
    one more line end: the body is followed by an empty line before the first separator."""
    for part in msg.walk():
        if not part.is_multipart() and not part.get_filename():
            text = part.get_payload(decode=True).decode("ascii")
            if msg.is_multipart():
                assert text.endswith("\r\n\r\n"), repr(text)
                text = text[:-2]
            return text
    return None


def attachments_of(msg):
    return {part.get_filename(): part.get_payload(decode=True)
            for part in msg.walk() if part.get_filename()}


def make_certificates(directory):
    """A CA of the test's own and a certificate it signed for localhost: (ca, cert, key)."""
    ca, ca_key = os.path.join(directory, "ca.pem"), os.path.join(directory, "ca.key")
    cert, key = os.path.join(directory, "server.pem"), os.path.join(directory, "server.key")
    request = os.path.join(directory, "server.csr")
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]
    openssl = ["openssl", "req", *ec]
    subprocess.run([*openssl, "-x509", "-days", "2", "-subj", "/CN=Test CA", "-keyout", ca_key,
                    "-out", ca], check=True, capture_output=True)
    subprocess.run([*openssl, "-subj", "/CN=localhost", "-keyout", key, "-out", request],
                   check=True, capture_output=True)
    extensions = os.path.join(directory, "server.ext")
    with open(extensions, "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
    subprocess.run(["openssl", "x509", "-req", "-in", request, "-CA", ca, "-CAkey", ca_key,
                    "-CAcreateserial", "-days", "2", "-extfile", extensions, "-out", cert],
                   check=True, capture_output=True)
    os.chmod(key, 0o644)
    return ca, cert, key


class Station:
    """A station in a temp dir: mailbox, recorder, settings, and a way to run the robot."""

    def __init__(self, smtp_login=None, smtp_port=None, start_smtp=True, recorder_args=(),
                 tls=False, oauth2=False, imap=False):
        """oauth2: both logins with OAuth2 tokens of an endpoint of the test's own (the
        refresh_token grant, rotating), which both servers ask about each token."""
        self.root = tempfile.mkdtemp(prefix="tarnwick-e2e-")
        os.chmod(self.root, 0o755)
        self.environment = dict(os.environ)
        pem = None
        self.endpoint = None
        introspection = None
        if tls or oauth2:
            ca, cert, key = make_certificates(self.root)
            self.environment["SSL_CERT_FILE"] = ca
            pem = (cert, key)
        if oauth2:
            self.endpoint = OAuth2Endpoint(cert, key, rotate=True)
            introspection = (self.endpoint.url + "/introspect", ca)
        imap_port = None
        if imap:
            # Dovecot serves IMAP as well, folders separated by "/".
            imap_port = free_port()
            os.makedirs(os.path.join(self.root, "pop"))
            with open(os.path.join(self.root, "pop", "imap.conf"), "w") as f:
                f.write("protocols = pop3 imap\nnamespace inbox {\n  inbox = yes\n"
                        "  separator = /\n}\nservice imap-login {\n  chroot =\n"
                        f"  inet_listener imap {{\n    address = 127.0.0.1\n    port = {imap_port}\n"
                        "  }\n  inet_listener imaps {\n    port = 0\n  }\n}\n")
        self.dovecot = Dovecot(os.path.join(self.root, "pop"), tls=pem if tls else None,
                               oauth2=introspection)
        self.smtp_port = smtp_port or free_port()
        self.smtp_login = smtp_login
        self.smtp = (SmtpServer(self.smtp_port, smtp_login, tls_mode="starttls" if tls else None,
                                tls=pem, oauth2=introspection) if start_smtp else None)
        pop_server = f"pop3s://localhost:{self.dovecot.tls_port}" if tls else \
            f"127.0.0.1:{self.dovecot.port}"
        if imap:
            pop_server = f"imap://127.0.0.1:{imap_port}"
        smtp_server = f"smtp+starttls://localhost:{self.smtp_port}" if tls else \
            f"127.0.0.1:{self.smtp_port}"
        self.mornak = os.path.join(self.root, "mornak")
        self.requests = os.path.join(self.root, "req")
        self.temp = os.path.join(self.root, "tmp")
        os.makedirs(self.requests)
        os.makedirs(self.temp)
        subprocess.run([RECORDER, "--config", self.mornak, "--init"], check=True,
                       stdout=subprocess.DEVNULL)
        self.recorder = subprocess.Popen(
            [RECORDER, "--config", self.mornak, "--requests", self.requests, *recorder_args],
            stdout=subprocess.DEVNULL)
        self.config = os.path.join(self.root, "config")
        os.makedirs(self.config, mode=0o700)
        auth = ""
        if smtp_login:
            auth = (f"SmtpAuth=1\nSmtpUser={smtp_login[0]}\n"
                    f"SmtpKeyStr={smtp_login[1].encode().hex()}\n")
        password = f"PopKeyStr={self.dovecot.password.encode().hex()}\n"
        if oauth2:
            password = ""
            auth = (f"SmtpUser={self.dovecot.user}\nPopAuthMethod=oauth2\n"
                    f"SmtpAuthMethod=oauth2\nOAuth2TokenUrl={self.endpoint.url}/token\n"
                    f"OAuth2ClientId={CLIENT_ID}\nOAuth2Grant=refresh_token\n")
            with open(os.path.join(self.config, "oauth2-refresh-token"), "w") as f:
                f.write("rt-1\n")
        self.settings = (f"StationName={STATION}\nPopServer={pop_server}\n"
                         f"PopUser={self.dovecot.user}\n{password}PopCheckTime=30\n"
                         f"SmtpServer={smtp_server}\n{auth}"
                         f"FromUser=ANMO Robot <robot@anmo.example>\n"
                         f"TempDir={self.temp}/\nMornakDir={self.mornak}/\n"
                         f"MornakReq={self.requests}/\n")
        self.write_settings(self.settings)

    def write_settings(self, text):
        with open(os.path.join(self.config, "tarnwick.ini"), "w") as f:
            f.write(text)

    def mail(self, *lines, sender="someone@example.org", message_id=None):
        header = f"Message-ID: {message_id}\n" if message_id else ""
        self.dovecot.deliver(f"From: {sender}\nTo: station@anmo.example\nSubject: request\n"
                             + header + "\n" + "\n".join(lines) + "\n")

    def run(self, timeout=120, options=()):
        """Runs tarnwick --once; returns (exit code, stdout). Its stderr stays in self.stderr."""
        done = subprocess.run([TARNWICK, "--once", "--config-dir", self.config,
                               "--tick-ms", TICK_MS, *options], capture_output=True, text=True,
                              errors="replace", timeout=timeout, env=self.environment)
        self.stderr = done.stderr
        return done.returncode, done.stdout

    def check(self):
        """Runs tarnwick --check; returns (exit code, stdout)."""
        done = subprocess.run([TARNWICK, "--check", "--config-dir", self.config],
                              capture_output=True, text=True, errors="replace", timeout=120,
                              env=self.environment)
        return done.returncode, done.stdout

    def log(self):
        with open(os.path.join(self.config, "tarnwick.log"), errors="replace") as f:
            return [line[18:] for line in f.read().splitlines()]

    def replies(self):
        return [parse(m) for m in self.smtp.messages] if self.smtp else []

    def close(self):
        self.recorder.terminate()
        self.recorder.wait()
        if self.smtp:
            self.smtp.stop()
        self.dovecot.stop()
        if self.endpoint:
            self.endpoint.stop()
        shutil.rmtree(self.root, ignore_errors=True)


class EndToEnd(unittest.TestCase):
    def station(self, **kwargs):
        s = Station(**kwargs)
        self.addCleanup(s.close)
        return s

    def test_event_files_arrive_with_the_recorders_bytes_and_are_then_deleted(self):
        s = self.station()
        s.mail(REQUEST.format(channels="bhz,bhn", reply="alice@uni.example"))
        code, out = s.run()
        self.assertEqual(0, code, out)
        self.assertEqual(0, s.dovecot.waiting())
        [reply] = s.replies()
        self.assertEqual(["alice@uni.example"], s.smtp.messages[0]["to"])
        self.assertEqual("robot@anmo.example", s.smtp.messages[0]["from"])
        self.assertEqual("Your Event Files", reply["Subject"])
        self.assertEqual("Here are your event files from the ANMO station.\r\n", body_of(reply))
        files = attachments_of(reply)
        self.assertEqual(["0302181430.bhz.mqx", "0302181430.bhn.mqx"], list(files))
        for name, data in files.items():
            self.assertEqual(expected_event_bytes(name), data)
        self.assertEqual([], os.listdir(s.temp))
        self.assertIn("MORNAK Response: ", out)

    def test_a_partial_reply_names_the_channels_not_found(self):
        s = self.station()
        s.mail(REQUEST.format(channels="bhz,xyz", reply="bob@obs.example"))
        self.assertEqual(0, s.run()[0])
        [reply] = s.replies()
        self.assertEqual("Your Event File", reply["Subject"])
        self.assertEqual("Here is your event file from the ANMO station.\r\n\r\nErrors:\r\n"
                         "Sensor channel XYZ not found\r\n", body_of(reply))
        self.assertEqual(["0302181430.bhz.mqx"], list(attachments_of(reply)))

    def test_a_quoted_printable_request_is_served_and_a_bounce_is_not(self):
        s = self.station()
        request = email.message.EmailMessage()
        request["From"] = "Alice <alice@uni.example>"
        request["Message-ID"] = "<request-1@uni.example>"
        request.set_content("Hello,\n\n" + REQUEST.format(channels="bhz", reply="alice@uni.example")
                            + "\n", cte="quoted-printable")
        s.dovecot.deliver(request.as_string())
        with open(os.path.join(os.path.dirname(__file__), "..", "mail", "testdata",
                               "bounce.eml")) as bounce:
            s.dovecot.deliver(bounce.read())
        code, out = s.run()
        self.assertEqual(0, code, out)
        [reply] = s.replies()
        self.assertEqual(["alice@uni.example"], s.smtp.messages[0]["to"])
        self.assertEqual(["0302181430.bhz.mqx"], list(attachments_of(reply)))
        self.assertEqual("<request-1@uni.example>", reply["In-Reply-To"])
        self.assertEqual("auto-replied", reply["Auto-Submitted"])
        self.assertIn("Automatic mail from MAILER-DAEMON@mx.example not answered", out)

    def test_a_request_is_served_over_tls_with_logins_on_both_sides(self):
        s = self.station(tls=True, smtp_login=("robot", "smtp-secret"))
        s.mail(REQUEST.format(channels="bhz", reply="alice@uni.example"))
        code, out = s.run()
        self.assertEqual(0, code, out)
        self.assertEqual(0, s.dovecot.waiting())
        [reply] = s.replies()
        self.assertTrue(s.smtp.messages[0]["authenticated"])
        self.assertEqual(["0302181430.bhz.mqx"], list(attachments_of(reply)))

    def test_a_request_is_served_with_oauth2_on_both_sides(self):
        s = self.station(oauth2=True)
        s.mail(REQUEST.format(channels="bhz", reply="alice@uni.example"))
        code, out = s.run(options=["--verbose"])
        self.assertEqual(0, code, out)
        # The dialogues and the token step on stderr, the token itself nowhere.
        self.assertIn("OAuth2 - token for POP3 fetched from 127.0.0.1: expires in 3600 s\n"
                      "POP3 - connected to 127.0.0.1", s.stderr)
        self.assertIn("OAuth2 - token for SMTP kept from before\nSMTP - connected", s.stderr)
        self.assertIn("POP3 > AUTH OAUTHBEARER ****\nPOP3 < +OK", s.stderr)
        self.assertIn("SMTP > AUTH OAUTHBEARER ****\nSMTP < 235", s.stderr)
        self.assertRegex(s.stderr, r"SMTP - \d+ bytes of message text sent\nSMTP < 250 ")
        self.assertEqual(0, s.dovecot.waiting())
        [reply] = s.replies()
        self.assertTrue(s.smtp.messages[0]["authenticated"])
        self.assertEqual(["0302181430.bhz.mqx"], list(attachments_of(reply)))
        # One token served both logins; the refresh token the endpoint replaced was kept.
        self.assertEqual(1, s.endpoint.count)
        with open(os.path.join(s.config, "oauth2-refresh-token")) as f:
            self.assertEqual("rt-2\n", f.read())
        code, out = s.check()
        self.assertEqual(0, code, out)
        self.assertIn("ok    OAuth2 token from 127.0.0.1: expires in 3600 s\n", out)
        self.assertIn(f"ok    POP3 127.0.0.1:{s.dovecot.port}: logged in as station with "
                      "OAUTHBEARER, 0 messages waiting, none retrieved\n", out)
        self.assertRegex(out, f"ok    SMTP 127.0.0.1:{s.smtp_port}: greeted as [^ ,]+, login as "
                         "station with OAUTHBEARER accepted, nothing sent\n")
        for secret in ("at-1", "at-2", "rt-1", "rt-2", "rt-3"):
            self.assertNotIn(secret, out + s.stderr + "\n".join(s.log()))

    def test_a_token_the_servers_refuse_is_fetched_again_once_and_reported(self):
        s = self.station(oauth2=True)
        counter = os.path.join(s.root, "tokens-printed")
        command = (f"sh -c 'echo x >> {counter}; echo bad-token-$(wc -l < {counter})'")
        s.write_settings(s.settings + f"PopTokenCommand={command}\nSmtpTokenCommand={command}\n")
        code, out = s.check()
        self.assertEqual(7, code, out)  # a login refused
        words = '{"status": "invalid_token", "schemes": "bearer", "scope": "mail"}'
        self.assertIn(f"FAIL  POP3 127.0.0.1:{s.dovecot.port}: the server refused the OAuth2 "
                      'token: {"status":"invalid_token"}', out)
        self.assertIn(f"FAIL  SMTP 127.0.0.1:{s.smtp_port}: the server refused the OAuth2 "
                      f"token: {words}", out)
        with open(counter) as f:
            self.assertEqual(2 + 2 + 2, len(f.readlines()))  # one for each token step, two for each login
        # The command is a setting and shown; no token it printed is.
        self.assertIn(f"      PopTokenCommand={command}\n", out)
        self.assertNotRegex(out, r"bad-token-\d")

    def test_a_queued_reply_is_resent_through_the_server_a_reload_names(self):
        s = self.station(start_smtp=False)
        s.mail(REQUEST.format(channels="bhz", reply="a@x.example"))
        robot = subprocess.Popen([TARNWICK, "--headless", "--config-dir", s.config, "--tick-ms",
                                  TICK_MS], stdout=subprocess.DEVNULL, env=s.environment)
        self.addCleanup(robot.wait)
        self.addCleanup(robot.terminate)
        wait_for(lambda: "Program Startup..." in safe_log(s), "the start")
        robot.send_signal(signal.SIGUSR1)
        wait_for(lambda: "Send File Error = Can't connect to 127.0.0.1:%d: connection refused"
                 % s.smtp_port
                 in safe_log(s), "the failed send")
        server = SmtpServer()
        self.addCleanup(server.stop)
        s.write_settings(s.settings.replace(f"127.0.0.1:{s.smtp_port}", f"127.0.0.1:{server.port}"))
        robot.send_signal(signal.SIGHUP)
        wait_for(lambda: server.messages, "the resend through the new server")
        self.assertEqual("Your Event File", parse(server.messages[0])["Subject"])
        self.assertEqual([], os.listdir(s.temp))
        self.assertNotIn("Resend Error", "\n".join(s.log()))

    def test_an_imap_request_arriving_during_idle_is_answered_and_kept_in_the_done_folder(self):
        s = self.station(imap=True)
        out = os.path.join(s.root, "robot.out")
        with open(out, "w") as f:
            robot = subprocess.Popen([TARNWICK, "--headless", "--config-dir", s.config],
                                     stdout=f, env=s.environment)
        self.addCleanup(robot.wait)
        self.addCleanup(robot.terminate)

        def shown():
            with open(out, errors="replace") as f:
                return f.read()
        wait_for(lambda: "Waiting for new mail (IMAP IDLE)" in shown(), "IDLE")
        s.mail("stationinfo=a@x.example")
        # PopCheckTime is 30 minutes: only the server's word on new mail can start this check.
        wait_for(lambda: s.smtp.messages, "the reply")
        self.assertEqual("Station Information", parse(s.smtp.messages[0])["Subject"])
        done = os.path.join(s.dovecot.maildir, ".Tarnwick.Done")
        wait_for(lambda: os.path.isdir(done) and
                 os.listdir(os.path.join(done, "new")) + os.listdir(os.path.join(done, "cur")),
                 "the request in the done folder")
        self.assertEqual(0, s.dovecot.waiting())
        self.assertEqual(1, shown().count("Waiting for new mail (IMAP IDLE)"))

    def test_an_imap_mailbox_with_an_oauth2_login(self):
        s = self.station(imap=True, oauth2=True)
        s.mail("stationinfo=a@x.example")
        code, out = s.run()
        self.assertEqual(0, code, out + s.stderr)
        self.assertEqual(["Station Information"], [r["Subject"] for r in s.replies()])
        self.assertEqual(0, s.dovecot.waiting())
        self.assertNotIn("Waiting for new mail", out)  # a single run does not wait in IDLE

    def test_error_reports_and_station_information(self):
        s = self.station()
        s.mail(REQUEST.format(channels="lhz", reply="a@x.example"),
               "eventfilerequest=2 18 2003 14 30 5 201 bhz b@x.example",
               "eventfilerequest=2 18 2003 14 30",
               "stationinfo=c@x.example")
        self.assertEqual(0, s.run()[0])
        replies = s.replies()
        self.assertEqual(4, len(replies))
        expected_error = ("Station ANMO:\r\nThere was an error processing your event file "
                          "request.\r\n\r\nError: {}\r\n")
        self.assertEqual("Event File Request Error", replies[0]["Subject"])
        self.assertEqual(expected_error.format("No channel IDs found at this station"),
                         body_of(replies[0]))
        self.assertEqual(expected_error.format("Invalid time length or sample rate"),
                         body_of(replies[1]))
        self.assertEqual("Station Information", replies[2]["Subject"])
        self.assertTrue(body_of(replies[2]).startswith("Station Information: ANMO\r\n\r\n"))
        self.assertIn("Channel ID: BHZ", body_of(replies[2]))
        self.assertIn("Bad Request Line = 2 18 2003 14 30", s.log())
        # The mail's sender hears of its refused line once the mail's last line is served.
        self.assertEqual("someone@example.org", replies[3]["To"])
        self.assertEqual(expected_error.format("Bad Request Line = eventfilerequest=2 18 2003 14 30"),
                         body_of(replies[3]))

    def test_a_refusal_is_reported_to_the_requester(self):
        s = self.station(recorder_args=["--refuse", "No Data for that time"])
        s.mail(REQUEST.format(channels="bhz", reply="a@x.example"))
        self.assertEqual(0, s.run()[0])
        [reply] = s.replies()
        self.assertIn("Error: Mornak Response: bad no data for that time\r\n", body_of(reply))

    def test_a_recorder_that_never_answers(self):
        s = self.station(recorder_args=["--never"])
        s.mail(REQUEST.format(channels="bhz", reply="a@x.example"))
        self.assertEqual(0, s.run()[0])
        [reply] = s.replies()
        self.assertIn("Error: No response from datalogger\r\n", body_of(reply))
        self.assertIn("No response from datalogger", s.log())
        self.assertEqual([], [n for n in os.listdir(s.requests) if n.startswith("RQ")])

    def test_smtp_down_then_back_resends_and_deletes_the_files(self):
        s = self.station(start_smtp=False)
        s.mail(REQUEST.format(channels="bhz", reply="a@x.example"))
        servers = []

        def start_smtp_later():
            # The first send fails at once; the resend comes 120 ticks later.
            while not any("Send File Error" in line for line in safe_log(s)):
                time.sleep(0.02)
            servers.append(SmtpServer(s.smtp_port))

        starter = threading.Thread(target=start_smtp_later)
        starter.start()
        code, out = s.run()
        starter.join()
        self.addCleanup(servers[0].stop)
        self.assertEqual(0, code, out)
        [message] = servers[0].messages
        self.assertEqual("Your Event File", parse(message)["Subject"])
        self.assertEqual([], os.listdir(s.temp))

    def test_smtp_down_for_good_gives_the_reply_up_and_keeps_the_files(self):
        s = self.station(start_smtp=False)
        s.mail(REQUEST.format(channels="bhz", reply="a@x.example"))
        code, out = s.run(timeout=180)
        self.assertEqual(2, code, out)
        log = s.log()
        self.assertEqual(4, sum(line.startswith("Resend Error = ") for line in log))
        self.assertEqual("Can't resend event files", log[-2])
        undelivered = os.path.join(s.config, "spool", "undelivered")
        [folder] = os.listdir(undelivered)
        self.assertEqual(f"Reply to a@x.example not delivered: its files are in "
                         f"{undelivered}/{folder}/", log[-1])
        self.assertEqual(["0302181430.bhz.mqx"], os.listdir(os.path.join(undelivered, folder)))
        self.assertEqual([], os.listdir(s.temp))

    def test_a_refused_smtp_login_holds_the_replies_until_a_reload_mends_it(self):
        s = self.station(smtp_login=("robot", "smtp-secret"))
        s.write_settings(s.settings.replace("smtp-secret".encode().hex(), "wrong".encode().hex()))
        s.mail(REQUEST.format(channels="bhz", reply="a@x.example"))
        code, out = s.run()
        self.assertEqual(8, code, out)  # held, not given up: no try used
        held = "Replies held: Bad authentication response from mail server"
        self.assertEqual(1, s.log().count(held))
        robot = subprocess.Popen([TARNWICK, "--headless", "--config-dir", s.config, "--tick-ms",
                                  TICK_MS], stdout=subprocess.DEVNULL, env=s.environment)
        self.addCleanup(robot.wait)
        self.addCleanup(robot.terminate)
        resumed = "Resuming 0 requests and 1 unsent replies"
        wait_for(lambda: resumed in safe_log(s) and held in safe_log(s),
                 "the resumed reply held again")  # the log is begun anew at each start
        s.write_settings(s.settings)
        robot.send_signal(signal.SIGHUP)
        wait_for(lambda: s.smtp.messages, "the held reply sent after the reload")
        self.assertEqual("Your Event File", parse(s.smtp.messages[0])["Subject"])
        self.assertNotIn("Can't resend event files", s.log())

    def test_auth_login_to_the_smtp_server(self):
        s = self.station(smtp_login=("robot", "smtp-secret"))
        s.mail("stationinfo=a@x.example")
        code, out = s.run()
        self.assertEqual(0, code, out)
        [message] = s.smtp.messages
        self.assertTrue(message["authenticated"])
        self.assertNotIn("smtp-secret", out)

    def test_one_robot_per_config_folder_and_the_folder_must_be_its_own(self):
        s = self.station()
        s.mail(REQUEST.format(channels="bhz", reply="ann@uni.example"))
        command = [TARNWICK, "--config-dir", s.config, "--tick-ms", TICK_MS]
        with open(os.path.join(s.config, "tarnwick.lock"), "a+") as holder:
            fcntl.flock(holder, fcntl.LOCK_EX)
            holder.write(f"{os.getpid()}\n")
            holder.flush()
            second = subprocess.run([*command, "--once"], capture_output=True, text=True,
                                    timeout=60, env=s.environment)
            check = subprocess.run([*command, "--check"], capture_output=True, text=True,
                                   timeout=60, env=s.environment)
        self.assertEqual(3, second.returncode, second.stderr)
        self.assertEqual(f"tarnwick: Another Tarnwick (pid {os.getpid()}) is using {s.config}\n",
                         second.stderr)
        self.assertIn("ok    POP3", check.stdout)
        self.assertEqual(1, s.dovecot.waiting(), "the mail waits for the robot")

        os.chmod(s.config, 0o775)
        refused = subprocess.run([*command, "--once"], capture_output=True, text=True,
                                 timeout=60, env=s.environment)
        self.assertEqual(2, refused.returncode)
        self.assertEqual(f"tarnwick: {s.config}: is writable by its group (mode 0775); "
                         f"chmod go-w {s.config}\n", refused.stderr)

    def test_a_mailbox_not_reached_gives_the_connection_error_code(self):
        s = self.station()
        s.dovecot.stop()
        code, out = s.run()
        self.assertEqual(6, code, out)
        self.assertIn(f"POP Error: POP Connect Error: 127.0.0.1: connection refused", s.log())

    def test_without_its_mail_reading_module_the_robot_leaves_the_mail_on_the_server(self):
        if glob.glob("/usr/lib/*/tarnwick/tarnwick-reading.so"):
            self.skipTest("an installed tarnwick-reading.so would be found")
        s = self.station()
        s.mail("stationinfo=alice@uni.example")
        alone = os.path.join(s.root, "alone")
        os.makedirs(alone)
        shutil.copy(TARNWICK, alone)
        done = subprocess.run([os.path.join(alone, "tarnwick"), "--once", "--config-dir",
                               s.config, "--tick-ms", TICK_MS], capture_output=True, text=True,
                              timeout=120, env=s.environment)
        self.assertEqual(1, s.dovecot.waiting(), done.stdout)
        self.assertTrue(any(line.startswith("Mail left on the server: the mail reading cannot be "
                                            "loaded: the module tarnwick-reading.so is not "
                                            "installed") for line in s.log()), s.log())
        code, out = s.run()
        self.assertEqual(0, code, out)
        self.assertEqual(0, s.dovecot.waiting())
        self.assertEqual(1, len(s.replies()))


def wait_for(condition, what, timeout=120):
    end = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > end:
            raise AssertionError(f"no {what} within {timeout} s")
        time.sleep(0.02)


def safe_log(station):
    try:
        return station.log()
    except OSError:
        return []


def event_file_content(channel, month, day, year, hour, minute, length, decimation):
    """The bytes recorder-sim cuts for one channel (recorder-sim/event_content.h)."""
    header = (f"RECORDER-SIM EVENT FILE\nchannel={channel}\nstart={month}/{day}/{year} "
              f"{hour:02d}:{minute:02d}\nlength={length}\ndecimation={decimation}\n\n")
    content = bytearray(header.encode())
    state = 2166136261
    for c in content:
        state = ((state ^ c) * 16777619) & 0xFFFFFFFF
    for _ in range(4096):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        content.append(state >> 24)
    return bytes(content)


def expected_event_bytes(name):
    """The event file of a request of REQUEST's window (rate 20 at 100 samples per second)."""
    channel = name.split(".")[1]
    return event_file_content(channel, 2, 18, 2003, 14, 30, 5, 5)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
