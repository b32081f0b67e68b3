#!/usr/bin/python3
"""The same mail check as pop3_check_bench, with poplib and the email package.

    pop3_python_peer.py SERVER:PORT USER PASSWORD [LINES_FILE]

Retrieves every message, parses it, decodes its text parts, keeps the lines that begin
"eventfilerequest=" or "stationinfo=" (lower-cased), deletes it, and quits. Prints
"seconds=S peak_kb=K lines=N"; LINES_FILE receives the lines, one a line.
"""

import email
import email.policy
import poplib
import resource
import sys
import time

PREFIXES = ("eventfilerequest=", "stationinfo=")


def request_lines(message):
    for part in message.walk():
        if part.get_content_maintype() == "text":
            for line in part.get_content().splitlines():
                line = line.lower()
                if line.startswith(PREFIXES):
                    yield line


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    host, port = sys.argv[1].rsplit(":", 1)
    start = time.monotonic()
    lines = []
    pop = poplib.POP3(host, int(port), timeout=30)
    pop.user(sys.argv[2])
    pop.pass_(sys.argv[3])
    count, _ = pop.stat()
    for number in range(1, count + 1):
        _, body, _ = pop.retr(number)
        message = email.message_from_bytes(b"\r\n".join(body), policy=email.policy.default)
        lines.extend(request_lines(message))
        pop.dele(number)
    pop.quit()
    seconds = time.monotonic() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    if len(sys.argv) == 5:
        with open(sys.argv[4], "w") as f:
            f.write("".join(line + "\n" for line in lines))
    print("seconds=%.3f peak_kb=%d lines=%d" % (seconds, peak, len(lines)))


if __name__ == "__main__":
    main()
