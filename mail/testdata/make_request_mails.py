#!/usr/bin/env python3
"""Writes the request mails of this folder, made the way mail clients and servers make them.

Every mail is written with CR LF line ends, as on the wire. Dates, Message-IDs and MIME
boundaries are fixed, so that running this again gives the same bytes.
"""

import datetime
import email.message
import email.policy
import email.utils
from email.generator import BytesGenerator
from email.message import EmailMessage, MIMEPart
from pathlib import Path

HERE = Path(__file__).resolve().parent

# CR LF line ends; quoted-printable and base64 lines of at most 76 characters.
POLICY = email.policy.SMTP.clone(max_line_length=76)

ALICE = "Alice Example <alice@uni.example>"
ROBOT = "robot@anmo.example"
CET = datetime.timezone(datetime.timedelta(hours=1))
DATE = email.utils.format_datetime(datetime.datetime(2003, 2, 19, 6, 58, 12, tzinfo=CET))


def new_mail(stem, subject, sender=ALICE, mime=True):
    msg = EmailMessage(policy=POLICY)
    msg["From"] = sender
    msg["To"] = ROBOT
    msg["Subject"] = subject
    msg["Date"] = DATE
    msg["Message-ID"] = f"<{stem}@uni.example>"
    if mime:
        msg["MIME-Version"] = "1.0"
    return msg


def drop_part_mime_versions(msg):
    """Removes the MIME-Version that the email package gives the parts it adds to a multipart."""
    if msg.get_content_maintype() != "multipart":
        return
    for part in msg.get_payload():
        del part["MIME-Version"]
        drop_part_mime_versions(part)


def write(stem, msg):
    drop_part_mime_versions(msg)
    path = HERE / f"{stem}.eml"
    with open(path, "wb") as out:
        BytesGenerator(out, policy=POLICY).flatten(msg)
    return path


def qp_soft_break():
    msg = new_mail("qp_soft_break", "Event file request")
    msg["Reply-To"] = "Alice Replies <replies@uni.example>"
    msg.set_content(
        "Hello,\n"
        "\n"
        "eventfilerequest=2 18 2003 14 30 5 20 bhz,bhn,bhe,bhz1,bhn1,bhe1,lhz,lhn,lhe"
        " alice@uni.example\n"
        "\n"
        "-- \n"
        "Viele Grüße\n"
        "Alice Example, University of Example\n",
        charset="utf-8",
        cte="quoted-printable",
    )
    return msg


def base64_text():
    msg = new_mail("base64_text", "Station information")
    msg.set_content(
        "Hello,\n\nstationinfo=alice@uni.example\n\nThanks, and Grüße\nAlice\n",
        charset="utf-8",
        cte="base64",
    )
    return msg


def flowed(stem, body, delsp):
    params = {"format": "flowed"}
    if delsp:
        params["delsp"] = "yes"
    msg = new_mail(stem, "Event file request")
    msg.set_content(body, charset="utf-8", cte="7bit", params=params)
    return msg


def alternative():
    msg = new_mail("alternative", "Station information")
    msg.set_content("stationinfo=alice@uni.example\n", charset="utf-8", cte="quoted-printable")
    msg.add_alternative(
        "<html>\n"
        "  <head>\n"
        '    <meta http-equiv="content-type" content="text/html; charset=UTF-8">\n'
        "  </head>\n"
        "  <body>\n"
        "    <p>stationinfo=alice@uni.example<br></p>\n"
        "  </body>\n"
        "</html>\n",
        subtype="html",
        charset="utf-8",
        cte="quoted-printable",
    )
    msg.set_boundary("------------alt0123456789ABCDEF")
    return msg


def html_only():
    msg = new_mail("html_only", "Requests")
    msg.set_content(
        "<div>Hello,</div><div>eventfilerequest=2&nbsp;18 2003 14 30 5 20 bhz,bhn"
        " alice@uni.example<br></div><div>&nbsp;&nbsp;stationinfo=alice@uni.example</div>\n",
        subtype="html",
        charset="utf-8",
        cte="quoted-printable",
    )
    return msg


def forwarded():
    bob = EmailMessage(policy=POLICY)
    bob["From"] = "Bob <bob@obs.example>"
    bob["To"] = ALICE
    bob["Subject"] = "Station information, please"
    bob["Date"] = email.utils.format_datetime(
        datetime.datetime(2003, 2, 18, 17, 2, 40, tzinfo=datetime.timezone.utc)
    )
    bob["Message-ID"] = "<bob-request@obs.example>"
    bob["MIME-Version"] = "1.0"
    bob.set_content(
        "Hi Alice,\n\ncould you send this on to the station?\n\n"
        "stationinfo=bob@obs.example\n\nBob\n",
        charset="utf-8",
        cte="quoted-printable",
    )

    msg = new_mail("forwarded", "Fwd: Station information, please")
    msg.set_content("Forwarding Bob's request.\n", charset="utf-8", cte="7bit")
    msg.add_attachment(bob, cte="7bit", filename="Station information, please.eml")
    msg.set_boundary("------------mix0123456789ABCDEF")
    return msg


def header_block(fields):
    block = email.message.Message(policy=POLICY)
    for name, value in fields:
        block[name] = value
    return block


def bounce():
    original = EmailMessage(policy=POLICY)
    original["From"] = ROBOT
    original["To"] = "alice@uni.example"
    original["Subject"] = "Your Event File"
    original["Date"] = DATE
    original["Message-ID"] = "<reply-0219@anmo.example>"
    original["MIME-Version"] = "1.0"
    original.set_content(
        "Your request:\n"
        "eventfilerequest=2 18 2003 14 30 5 20 bhz alice@uni.example\n"
        "\n"
        "Here is your event file from the ANMO station.\n",
        charset="us-ascii",
        cte="7bit",
    )

    msg = EmailMessage(policy=POLICY)
    msg["Return-Path"] = "<>"  # a bounce has no sender to bounce to
    msg["From"] = "Mail Delivery System <MAILER-DAEMON@mx.example>"
    msg["To"] = ROBOT
    msg["Subject"] = "Undelivered Mail Returned to Sender"
    msg["Date"] = DATE
    msg["Message-ID"] = "<bounce@uni.example>"
    msg["Auto-Submitted"] = "auto-replied"
    msg["MIME-Version"] = "1.0"
    msg["Content-Type"] = "multipart/report; report-type=delivery-status"
    msg.preamble = "This is a MIME-encapsulated message.\n"

    notice = MIMEPart(policy=POLICY)
    notice.set_content(
        "This is the mail system at host mx.example.\n"
        "\n"
        "I'm sorry to have to inform you that your message could not\n"
        "be delivered to one or more recipients. It's attached below.\n"
        "\n"
        "                   The mail system\n"
        "\n"
        "<alice@uni.example>: host mail.uni.example[192.0.2.25] said: 550 5.1.1\n"
        "    <alice@uni.example>: Recipient address rejected: User unknown (in reply\n"
        "    to RCPT TO command)\n",
        charset="us-ascii",
        cte="7bit",
    )
    notice["Content-Description"] = "Notification"

    status = MIMEPart(policy=POLICY)
    status["Content-Description"] = "Delivery report"
    status["Content-Type"] = "message/delivery-status"
    status.set_payload(
        [
            header_block(
                [
                    ("Reporting-MTA", "dns; mx.example"),
                    ("X-Postfix-Queue-ID", "4C1D2E3F40"),
                    ("X-Postfix-Sender", "rfc822; robot@anmo.example"),
                    ("Arrival-Date", DATE),
                ]
            ),
            header_block(
                [
                    ("Final-Recipient", "rfc822; alice@uni.example"),
                    ("Original-Recipient", "rfc822;alice@uni.example"),
                    ("Action", "failed"),
                    ("Status", "5.1.1"),
                    ("Remote-MTA", "dns; mail.uni.example"),
                    (
                        "Diagnostic-Code",
                        "smtp; 550 5.1.1 <alice@uni.example>: Recipient address rejected:"
                        " User unknown",
                    ),
                ]
            ),
        ]
    )

    returned = MIMEPart(policy=POLICY)
    returned["Content-Description"] = "Undelivered Message"
    returned["Content-Type"] = "message/rfc822"
    returned.set_payload([original])

    msg.set_payload([notice, status, returned])
    msg.set_boundary("4C1D2E3F40.1045634292/mx.example")
    return msg


OUT_OF_OFFICE = (
    "I am away until Monday.\n"
    "\n"
    "> stationinfo=carol@obs.example\n"
    "stationinfo=carol@obs.example\n"
)


def auto_reply():
    msg = new_mail(
        "auto_reply", "Automatic reply: Station information", sender="Carol <carol@obs.example>"
    )
    msg["Auto-Submitted"] = "auto-replied"
    msg.set_content(OUT_OF_OFFICE, charset="us-ascii", cte="7bit")
    return msg


def vacation_precedence():
    msg = new_mail(
        "vacation_precedence", "Away: Station information", sender="Carol <carol@obs.example>"
    )
    msg["Precedence"] = "auto_reply"
    msg.set_content(OUT_OF_OFFICE, charset="us-ascii", cte="7bit")
    return msg


def plain():
    """No MIME headers at all: a mail as written before MIME."""
    msg = new_mail("plain", "Event file request", mime=False)
    msg.set_payload(
        "Hello,\n\nEventFileRequest=2 18 2003 14 30 5 20 BHZ alice@uni.example\n\nAlice\n"
    )
    return msg


def main():
    mails = {
        "qp_soft_break": qp_soft_break(),
        "base64_text": base64_text(),
        # DelSp=yes: the blank that ends the first line is not part of the text.
        "flowed": flowed(
            "flowed",
            "Hello,\n"
            "\n"
            "eventfilerequest=2 18 2003 14 30 5 20 bh \n"
            "z,bhn alice@uni.example\n"
            "\n"
            "Alice\n",
            delsp=True,
        ),
        # No DelSp: the blank that ends the first line stays in the text.
        "flowed_nodelsp": flowed(
            "flowed_nodelsp",
            "Hello,\n"
            "\n"
            "eventfilerequest=2 18 2003 14 30 \n"
            "5 20 bhz,bhn alice@uni.example\n"
            "\n"
            "Alice\n",
            delsp=False,
        ),
        "alternative": alternative(),
        "html_only": html_only(),
        "forwarded": forwarded(),
        "bounce": bounce(),
        "auto_reply": auto_reply(),
        "vacation_precedence": vacation_precedence(),
        "plain": plain(),
    }
    for stem, msg in mails.items():
        print(write(stem, msg).name)


if __name__ == "__main__":
    main()
