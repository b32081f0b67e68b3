#!/usr/bin/python3
"""The robot end to end on loopback.

Starts a Dovecot POP3 server, an aiosmtpd SMTP server and the stand-in recorder in a temp
dir, writes a tarnwick.ini for them, puts a few request mails in the mailbox, runs
`tarnwick --once`, and shows what the requesters received and the log. Cleans up after
itself.

Usage: demo.py BUILD_DIR
"""

import email
import email.message
import email.policy
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testing"))
from loopback_servers import Dovecot, SmtpServer  # noqa: E402

STATION = "ANMO"


def request_mail(sender, lines):
    body = "\n".join(lines)
    return (f"From: {sender}\nTo: station@anmo.example\nSubject: data request\n\n"
            f"Please send the data.\n{body}\nThanks.\n")


def client_mail(sender, line):
    """A request as desktop mail clients send it: quoted-printable text with an HTML twin."""
    msg = email.message.EmailMessage()
    msg["From"] = sender
    msg["To"] = "station@anmo.example"
    msg["Subject"] = "data request"
    msg["Message-ID"] = "<demo-request-1@uni.example>"
    msg.set_content(f"Please send the data.\n\n{line}\n\nThanks.\n", cte="quoted-printable")
    msg.add_alternative(f"<p>Please send the data.</p><p>{line}</p><p>Thanks.</p>\n",
                        subtype="html", cte="quoted-printable")
    return msg.as_string()


def show_replies(messages):
    print(f"\n=== {len(messages)} replies received by the SMTP server ===")
    for m in messages:
        msg = email.message_from_bytes(m["content"], policy=email.policy.default)
        print(f"\n--- to {', '.join(m['to'])} (envelope from {m['from']})")
        print(f"Subject: {msg['Subject']}")
        if msg["In-Reply-To"]:
            print(f"In-Reply-To: {msg['In-Reply-To']}")
        for part in msg.walk():
            if part.is_multipart():
                continue
            name = part.get_filename()
            if name:
                size = len(part.get_payload(decode=True))
                print(f"  attachment {name}: {size} bytes")
            else:
                text = part.get_payload(decode=True).decode("utf-8", "replace")
                for line in text.rstrip("\r\n").split("\r\n"):
                    print(f"  | {line}")


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/demo")
    tarnwick = os.path.join(build, "app", "tarnwick")
    recorder = os.path.join(build, "recorder-sim", "recorder-sim")
    root = tempfile.mkdtemp(prefix="tarnwick-demo-")
    os.chmod(root, 0o755)
    procs = []
    dovecot = None
    smtp = None
    try:
        dovecot = Dovecot(os.path.join(root, "pop"))
        smtp = SmtpServer()

        station = os.path.join(root, "station")
        mornak, requests, temp = (os.path.join(station, d) for d in ("mornak", "req", "tmp"))
        for d in (requests, temp):
            os.makedirs(d)
        subprocess.run([recorder, "--config", mornak, "--init"], check=True,
                       stdout=subprocess.DEVNULL)
        procs.append(subprocess.Popen([recorder, "--config", mornak, "--requests", requests],
                                      stdout=subprocess.DEVNULL))

        config = os.path.join(root, "config")
        os.makedirs(config, mode=0o700)
        with open(os.path.join(config, "tarnwick.ini"), "w") as f:
            f.write(f"StationName={STATION}\nPopServer=127.0.0.1:{dovecot.port}\n"
                    f"PopUser={dovecot.user}\nPopKeyStr={dovecot.password.encode().hex()}\n"
                    f"PopCheckTime=2\nSmtpServer=127.0.0.1:{smtp.port}\n"
                    f"FromUser=ANMO Station Robot <robot@anmo.example>\n"
                    f"TempDir={temp}/\nMornakDir={mornak}/\nMornakReq={requests}/\n")

        dovecot.deliver(client_mail("Alice <alice@uni.example>",
                                    "eventfilerequest=2 18 2003 14 30 5 20 bhz,bhn alice@uni.example"))
        dovecot.deliver(request_mail("bob@obs.example", [
            "EventFileRequest=2 18 2003 14 31 5 100 bhz,xyz bob@obs.example"]))
        dovecot.deliver(request_mail("carol@net.example", [
            "stationinfo=carol@net.example"]))
        dovecot.deliver(request_mail("dave@lab.example", [
            "eventfilerequest=2 18 2003 dave@lab.example",
            "eventfilerequest=2 18 2003 14 30 5 20 lhz dave@lab.example"]))
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mail",
                               "testdata", "bounce.eml")) as bounce:
            dovecot.deliver(bounce.read())

        print("=== tarnwick --once (activity list) ===")
        start = time.monotonic()
        run = subprocess.run([tarnwick, "--once", "--config-dir", config, "--tick-ms", "50"],
                             timeout=300)
        elapsed = time.monotonic() - start
        print(f"\ntarnwick exited with {run.returncode} after {elapsed:.1f} s")
        time.sleep(0.2)
        show_replies(smtp.messages)
        print("\n=== tarnwick.log ===")
        with open(os.path.join(config, "tarnwick.log")) as f:
            print(f.read(), end="")
        print(f"\nMessages left in the mailbox: {dovecot.waiting()}")
        print(f"Event files left in the temporary directory: {len(os.listdir(temp))}")
        return run.returncode
    finally:
        for p in procs:
            p.terminate()
            p.wait()
        if smtp:
            smtp.stop()
        if dovecot:
            dovecot.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
