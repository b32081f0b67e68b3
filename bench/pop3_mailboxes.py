#!/usr/bin/python3
"""The two mailboxes of the POP3 benchmark, written with the email package.

    pop3_mailboxes.py make DIR [--quick]     writes DIR/big and DIR/small (--quick: two big
                                             mails of 1 MB and 20 small ones, for a check
                                             that the benchmark still runs)
    pop3_mailboxes.py fill BOX MAILDIR UID GID
                                             delivers the mails of BOX into MAILDIR/new

big: ten MIME mails (multipart/mixed) of about 10 MB: a short quoted-printable text/plain
part with one request line, and a base64 attachment of 7.5 MB of random bytes.
small: 1000 MIME mails of a few hundred bytes, one request line each in quoted-printable
text/plain; every third is multipart/alternative with an HTML copy of the text.

Beside each box, BOX.lines holds the request lines a reader should find (lower-cased, one a
line, in mail order) and BOX.json the number of mails and the size of the largest one as
the server sends it (CR LF line ends).
"""

import json
import os
import random
import shutil
import sys
import time
from datetime import datetime, timezone
from email import policy
from email.message import EmailMessage
from email.utils import format_datetime, make_msgid

PEOPLE = ["alice@uni.example", "bob@obs.example", "Carol.Nguyen@seismo.institute.example",
          "dmitri@geo.example.org", "eve.long-name@department-of-geophysics.uni.example"]
CHANNELS = ["bhz", "bhn", "bhe", "bhz,bhn", "bhz,bhn,bhe", "bhz,bhn,bhe,lhz,lhn,lhe"]


def request_line(rng, number):
    """An event-file request, or every tenth time a station-information request."""
    address = rng.choice(PEOPLE)
    if number % 10 == 9:
        return "stationinfo=" + address
    return "eventfilerequest=%d %d %d %d %d %d %d %s %s" % (
        rng.randint(1, 12), rng.randint(1, 28), rng.randint(1999, 2024), rng.randint(0, 23),
        rng.randint(0, 59), rng.choice([5, 10, 30, 60]), rng.choice([20, 40, 100]),
        rng.choice(CHANNELS), address)


def new_mail(number, line):
    message = EmailMessage()
    sender = line.rsplit(" ", 1)[-1].split("=", 1)[-1]
    message["From"] = sender
    message["To"] = "station@anmo.example"
    message["Subject"] = "Data request %d" % (number + 1)
    sent = datetime.fromtimestamp(1700000000 + 60 * number, timezone.utc)
    message["Date"] = format_datetime(sent)
    message["Message-ID"] = make_msgid(idstring=str(number), domain="uni.example")
    text = "Hello,\n\nplease send the following:\n\n%s\n\nThank you,\n%s\n" % (line, sender)
    message.set_content(text, cte="quoted-printable")
    return message, text


def big_mail(rng, number, attachment_bytes=7_500_000):
    line = request_line(rng, number)
    message, _ = new_mail(number, line)
    message.add_attachment(rng.randbytes(attachment_bytes), maintype="application",
                           subtype="octet-stream", filename="record%02d.bin" % number)
    return message, line


def small_mail(rng, number):
    line = request_line(rng, number)
    message, text = new_mail(number, line)
    if number % 3 == 2:
        paragraphs = "".join("<p>%s</p>" % p.replace("\n", "<br>") for p in text.split("\n\n"))
        message.add_alternative("<html><body>%s</body></html>\n" % paragraphs, subtype="html",
                                cte="quoted-printable")
    return message, line


def make_box(directory, name, count, make_mail):
    box = os.path.join(directory, name)
    os.makedirs(box)
    rng = random.Random(name)
    lines, largest = [], 0
    for number in range(count):
        message, line = make_mail(rng, number)
        data = message.as_bytes(policy=policy.default)
        with open(os.path.join(box, "%04d.eml" % number), "wb") as f:
            f.write(data)
        lines.append(line.lower())
        largest = max(largest, len(data) + data.count(b"\n"))
    with open(box + ".lines", "w") as f:
        f.write("".join(line + "\n" for line in lines))
    with open(box + ".json", "w") as f:
        json.dump({"mails": count, "largest": largest}, f)


def fill(box, maildir, uid, gid):
    """Each mail is copied into tmp/ and renamed into new/, as a delivery agent does."""
    stamp = time.time_ns()
    for name in sorted(os.listdir(box)):
        unique = "%d.%s.bench" % (stamp, name)
        temporary = os.path.join(maildir, "tmp", unique)
        shutil.copyfile(os.path.join(box, name), temporary)
        os.chown(temporary, uid, gid)
        os.rename(temporary, os.path.join(maildir, "new", unique))


def main():
    if sys.argv[1:2] == ["make"] and len(sys.argv) == 4 and sys.argv[3] == "--quick":
        make_box(sys.argv[2], "big", 2, lambda rng, n: big_mail(rng, n, 750_000))
        make_box(sys.argv[2], "small", 20, small_mail)
    elif sys.argv[1:2] == ["make"] and len(sys.argv) == 3:
        make_box(sys.argv[2], "big", 10, big_mail)
        make_box(sys.argv[2], "small", 1000, small_mail)
    elif sys.argv[1:2] == ["fill"] and len(sys.argv) == 6:
        fill(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
