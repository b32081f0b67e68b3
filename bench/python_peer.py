#!/usr/bin/python3
"""The same replies as smtp_send_bench, composed with email and sent with smtplib.

    python_peer.py SERVER:PORT FILE COUNT

Prints "seconds=S peak_kb=K".
"""

import os
import resource
import smtplib
import sys
import time
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText


def reply(path):
    message = MIMEMultipart()
    message["From"] = "Station ANMO <robot@anmo.example.org>"
    message["To"] = "ann@example.org"
    message["Subject"] = "Your Event File"
    message.attach(MIMEText("Your event file is attached.\r\n"))
    with open(path, "rb") as f:
        part = MIMEApplication(f.read(), Name=os.path.basename(path))
    part["Content-Disposition"] = 'attachment; filename="%s"' % os.path.basename(path)
    message.attach(part)
    return message


def main():
    server, path, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    host, port = server.rsplit(":", 1)
    start = time.monotonic()
    for _ in range(count):
        message = reply(path)
        with smtplib.SMTP(host, int(port)) as smtp:
            smtp.sendmail("robot@anmo.example.org", ["ann@example.org"], message.as_string())
    seconds = time.monotonic() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print("seconds=%.3f peak_kb=%d" % (seconds, peak))


if __name__ == "__main__":
    main()
