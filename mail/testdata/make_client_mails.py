#!/usr/bin/env python3
"""Writes the second set of request mails: each in the habit of one mail client, byte for byte.

Each mail names its client and the habit it shows in a Comments header. Every mail is written
with CR LF line ends, as on the wire; nothing depends on the time, so running this again gives
the same bytes.
"""

import base64
import quopri
import struct
from pathlib import Path

HERE = Path(__file__).resolve().parent
DATE = "Wed, 19 Feb 2003 06:58:12 +0100"
REQUEST = "eventfilerequest=2 18 2003 14 30 5 20 bhz alice@uni.example"


def qp(text):
    return quopri.encodestring(text.encode("utf-8")).decode("ascii")


def b64(data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    text = base64.b64encode(data).decode("ascii")
    return "\n".join(text[i:i + 76] for i in range(0, len(text), 76)) + "\n"


def head(stem, client, sender, subject, extra="", mime=True):
    return (f"Comments: {client}\n"
            f"From: {sender}\nTo: robot@anmo.example\nSubject: {subject}\nDate: {DATE}\n"
            f"Message-ID: <{stem}@uni.example>\n{extra}" + ("MIME-Version: 1.0\n" if mime else ""))


def alternative(boundary, plain, html, plain_cte="quoted-printable", html_cte="quoted-printable"):
    def part(subtype, text, cte):
        body = qp(text) if cte == "quoted-printable" else b64(text) if cte == "base64" else text
        return (f"--{boundary}\nContent-Type: text/{subtype}; charset=\"UTF-8\"\n"
                f"Content-Transfer-Encoding: {cte}\n\n{body}\n")
    return (f"Content-Type: multipart/alternative; boundary=\"{boundary}\"\n\n"
            + part("plain", plain, plain_cte) + part("html", html, html_cte) + f"--{boundary}--\n")


def plain_only(text, params=""):
    return f"Content-Type: text/plain; charset=\"UTF-8\"{params}\nContent-Transfer-Encoding: 7bit\n\n{text}"


ALICE_GEO = "Alice Example <alice.example@geophysics.institute-of-example.edu>"
GEO_REQUEST = ("eventfilerequest=2 18 2003 14 30 5 20 bhz,bhn,bhe "
               "alice.example@geophysics.institute-of-example.edu")


def gmail_wrapped():
    # Gmail hard-wraps its plain copy near 76 columns; its HTML copy keeps the line whole.
    plain = ("Hello,\n\neventfilerequest=2 18 2003 14 30 5 20 bhz,bhn,bhe\n"
             "alice.example@geophysics.institute-of-example.edu\n\nThanks,\nAlice\n")
    html = ('<div dir="ltr">Hello,<div><br></div><div>' + GEO_REQUEST +
            '</div><div><br></div><div>Thanks,</div><div>Alice</div></div>\n')
    return (head("gmail_wrapped", "Gmail: the plain copy hard-wrapped at 76 columns", ALICE_GEO,
                 "Event file request")
            + alternative("000000000000a1b2c3d4e5f6a7b8", plain, html))


SAM = "Sam Lee <sam.lee@gmail.com>"
SAMSUNG_HTML_HEAD = ('<html><head><meta http-equiv="Content-Type" content="text/html; '
                     'charset=UTF-8"></head><body>')
SAMSUNG_SIGNATURE = ('<div id="composer_signature" dir="auto"><div style="font-size:85%;'
                     'color:#575757" dir="auto">Sent from my Galaxy</div></div>')


def samsung_signature():
    # Samsung Email builds its plain copy from <div>s without line breaks: the signature runs
    # into the address.
    plain = "eventfilerequest=2 18 2003 14 30 5 20 bhz sam.lee@gmail.comSent from my Galaxy"
    html = (SAMSUNG_HTML_HEAD + '<div dir="auto">eventfilerequest=2 18 2003 14 30 5 20 bhz '
            'sam.lee@gmail.com</div><div dir="auto"><br></div>' + SAMSUNG_SIGNATURE +
            "</body></html>")
    return (head("samsung_signature", "Samsung Email: the signature glued to the plain copy",
                 SAM, "Request") + alternative("--_com.samsung.android.email_1045634292", plain,
                                               html, "base64", "base64"))


def samsung_run_together():
    # The same habit with two typed lines and a greeting: no line of the plain copy begins
    # with a key.
    plain = ("Hi,eventfilerequest=2 18 2003 14 30 5 20 bhz,bhn sam.lee@gmail.com"
             "stationinfo=sam.lee@gmail.comSent from my Galaxy")
    html = (SAMSUNG_HTML_HEAD + '<div dir="auto">Hi,</div><div dir="auto">eventfilerequest=2 18 '
            '2003 14 30 5 20 bhz,bhn sam.lee@gmail.com</div><div dir="auto">stationinfo='
            'sam.lee@gmail.com</div><div dir="auto"><br></div>' + SAMSUNG_SIGNATURE +
            "</body></html>")
    return (head("samsung_run_together", "Samsung Email: typed lines run together in the plain "
                 "copy", SAM, "Requests")
            + alternative("--_com.samsung.android.email_1045634293", plain, html, "base64",
                          "base64"))


def samsung_plain_glued():
    # Samsung Email set to plain text only: nothing to take the line from but the glued copy.
    return (head("samsung_plain_glued", "Samsung Email, plain text only: the signature glued on",
                 SAM, "Request")
            + plain_only("eventfilerequest=2 18 2003 14 30 5 20 bhz sam.lee@gmail.comSent from "
                         "my Galaxy\n"))


OUTLOOK_HISTORY = ("From: Station ANMO <robot@anmo.example>\n"
                   "Sent: Wednesday, February 19, 2003 7:06 AM\n"
                   "To: Alice Example <alice@uni.example>\n"
                   "Subject: Your Event File\n\n"
                   "Here is your event file from the ANMO station.\n\n"
                   "From: Alice Example <alice@uni.example>\n"
                   "Sent: Wednesday, February 19, 2003 6:58 AM\n"
                   "To: robot@anmo.example\n"
                   "Subject: Event file request\n\n" + REQUEST + "\n")
OUTLOOK_BLOCK_HTML = (
    '<div style="border:none;border-top:solid #E1E1E1 1.0pt;padding:3.0pt 0in 0in 0in">'
    '<p class="MsoNormal"><b>From:</b> Station ANMO &lt;robot@anmo.example&gt; <br><b>Sent:</b> '
    'Wednesday, February 19, 2003 7:06 AM<br><b>To:</b> Alice Example &lt;alice@uni.example&gt;'
    '<br><b>Subject:</b> Your Event File</p></div><p class="MsoNormal">Here is your event file '
    'from the ANMO station.</p><div style="border:none;border-top:solid #E1E1E1 1.0pt">'
    '<p class="MsoNormal"><b>From:</b> Alice Example &lt;alice@uni.example&gt;<br><b>Sent:</b> '
    'Wednesday, February 19, 2003 6:58 AM<br><b>To:</b> robot@anmo.example<br><b>Subject:</b> '
    'Event file request</p></div><p class="MsoNormal">' + REQUEST + '</p>')


def outlook_reply():
    # Outlook copies the earlier mails below its reply without "> " quoting.
    plain = "Thank you, the file arrived.\n\nAlice\n\n" + OUTLOOK_HISTORY
    html = ('<html><body lang="EN-US"><div class="WordSection1"><p class="MsoNormal">Thank you, '
            'the file arrived.</p><p class="MsoNormal">Alice</p>' + OUTLOOK_BLOCK_HTML +
            "</div></body></html>\n")
    return (head("outlook_reply", "Outlook 2016: the earlier mails copied below the reply "
                 "without quoting", "Alice Example <alice@uni.example>", "RE: Your Event File")
            + alternative("_000_DM6PR11MB0001_", plain, html))


def outlook_original_message():
    # Outlook in plain text mode separates the earlier mail with "-----Original Message-----".
    return (head("outlook_original_message", "Outlook, plain text mode: -----Original Message-----",
                 "Alice Example <alice@uni.example>", "RE: Station Information")
            + plain_only("Thanks again.\n\n-----Original Message-----\n"
                         "From: Alice Example <alice@uni.example>\nSent: Wednesday, February 19, "
                         "2003 6:58 AM\nTo: robot@anmo.example\nSubject: Station information\n\n"
                         "stationinfo=alice@uni.example\n"))


def outlook_forward():
    # Outlook forwards under the same header block as its replies: the subject says forward.
    plain = ("Bob asked for this.\n\n________________________________\n"
             "From: Bob <bob@obs.example>\nSent: Tuesday, February 18, 2003 5:02 PM\n"
             "To: Alice Example <alice@uni.example>\nSubject: Station information, please\n\n"
             "stationinfo=bob@obs.example\n")
    html = ('<html><body><div><p>Bob asked for this.</p></div><hr style="display:inline-block;'
            'width:98%"><div id="divRplyFwdMsg" dir="ltr"><font face="Calibri"><b>From:</b> Bob '
            '&lt;bob@obs.example&gt;<br><b>Sent:</b> Tuesday, February 18, 2003 5:02 PM<br>'
            '<b>To:</b> Alice Example &lt;alice@uni.example&gt;<br><b>Subject:</b> Station '
            'information, please</font><div>&nbsp;</div></div><div>stationinfo=bob@obs.example'
            '</div></body></html>\n')
    return (head("outlook_forward", "Outlook: a forward under the reply's header block",
                 "Alice Example <alice@uni.example>", "FW: Station information, please")
            + alternative("_000_DM6PR11MB0002_", plain, html))


def gmail_forward():
    # Gmail forwards inline below its "---------- Forwarded message ---------" marker.
    plain = ("---------- Forwarded message ---------\nFrom: Bob <bob@obs.example>\n"
             "Date: Tue, Feb 18, 2003 at 5:02 PM\nSubject: Station information, please\n"
             "To: Alice Example <alice@uni.example>\n\n\nstationinfo=bob@obs.example\n")
    html = ('<div dir="ltr"><br><br><div class="gmail_quote"><div dir="ltr" class="gmail_attr">'
            '---------- Forwarded message ---------<br>From: <strong class="gmail_sendername" '
            'dir="auto">Bob</strong> <span dir="auto">&lt;bob@obs.example&gt;</span><br>Date: '
            'Tue, Feb 18, 2003 at 5:02 PM<br>Subject: Station information, please<br>To: Alice '
            'Example &lt;alice@uni.example&gt;<br></div><br><br><div dir="ltr">stationinfo='
            'bob@obs.example</div></div></div>\n')
    return (head("gmail_forward", "Gmail: an inline forward", "Alice Example <alice@uni.example>",
                 "Fwd: Station information, please")
            + alternative("000000000000b1c2d3e4f5a6b7c8", plain, html))


def gmail_reply():
    # Gmail wraps a long attribution line and quotes with "> " in the plain copy; the HTML
    # copy quotes in a <blockquote>, which reads as lines without marks.
    plain = ("Thanks!\n\nOn Wed, Feb 19, 2003 at 6:58 AM Alice Example <alice.example@"
             "geophysics.institute-of-example.edu>\nwrote:\n\n> " + GEO_REQUEST + "\n>\n")
    html = ('<div dir="ltr">Thanks!</div><br><div class="gmail_quote"><div dir="ltr" '
            'class="gmail_attr">On Wed, Feb 19, 2003 at 6:58 AM Alice Example &lt;<a href="mailto:'
            'alice.example@geophysics.institute-of-example.edu">alice.example@geophysics.'
            'institute-of-example.edu</a>&gt; wrote:<br></div><blockquote class="gmail_quote" '
            'style="margin:0px 0px 0px 0.8ex;border-left:1px solid rgb(204,204,204);padding-left:'
            '1ex"><div dir="ltr">' + GEO_REQUEST + '</div></blockquote></div>\n')
    return (head("gmail_reply", "Gmail: a thank-you quoting the request", ALICE_GEO,
                 "Re: Event file request")
            + alternative("000000000000c1d2e3f4a5b6c7d8", plain, html))


def ios_reply():
    # iOS Mail quotes the attribution too, and cites in <blockquote type="cite">.
    plain = ("Thanks!\n\nSent from my iPhone\n\n> On 19 Feb 2003, at 06:58, Alice Example "
             "<alice@uni.example> wrote:\n> \n> " + REQUEST + "\n")
    html = ('<html><head></head><body dir="auto">Thanks!<br><br><div dir="ltr">Sent from my '
            'iPhone</div><div dir="ltr"><br><blockquote type="cite">On 19 Feb 2003, at 06:58, '
            'Alice Example &lt;alice@uni.example&gt; wrote:<br><br></blockquote></div><blockquote '
            'type="cite"><div dir="ltr">' + REQUEST + '</div></blockquote></body></html>\n')
    return (head("ios_reply", "iOS Mail: a thank-you quoting the request",
                 "Alice Example <alice@uni.example>", "Re: Event file request")
            + alternative("Apple-Mail-1A2B3C4D-5E6F-7A8B-9C0D-1E2F3A4B5C6D", plain, html))


def thunderbird_interleaved():
    # A Thunderbird user answering below the quote (format=flowed): the new line is served,
    # the quoted one is not.
    text = ("On 2/18/03 5:02 PM, Bob wrote:\n> stationinfo=bob@obs.example\n\n"
            "And for me, please:\n\n" + REQUEST + "\n\nAlice\n")
    return (head("thunderbird_interleaved", "Thunderbird: an answer written below the quote",
                 "Alice Example <alice@uni.example>", "Re: Station information, please")
            + plain_only(text, "; format=flowed"))


def mutt_forward_quoted():
    # mutt with forward_quote set: the forwarded text arrives behind "> ".
    text = ("Bob's request, below.\n\n----- Forwarded message from Bob <bob@obs.example> -----\n\n"
            "> Date: Tue, 18 Feb 2003 17:02:40 +0000\n> From: Bob <bob@obs.example>\n"
            "> Subject: Station information, please\n>\n> stationinfo=bob@obs.example\n\n"
            "----- End forwarded message -----\n")
    return (head("mutt_forward_quoted", "mutt with forward_quote: the forwarded request quoted",
                 "Alice Example <alice@uni.example>", "Fwd: Station information, please")
            + plain_only(text))


def thunderbird_txt_attachment():
    # The request only in an attached request.txt.
    boundary = "------------mix9876543210FEDCBA"
    return (head("thunderbird_txt_attachment", "Thunderbird: the request in an attached file",
                 "Alice Example <alice@uni.example>", "Event file request")
            + f"Content-Type: multipart/mixed; boundary=\"{boundary}\"\n\n"
            f"This is a multi-part message in MIME format.\n--{boundary}\n"
            "Content-Type: text/plain; charset=UTF-8; format=flowed\n"
            "Content-Transfer-Encoding: 7bit\n\nThe request is in the attached file.\n\n"
            f"--{boundary}\nContent-Type: text/plain; charset=UTF-8; name=\"request.txt\"\n"
            "Content-Disposition: attachment; filename=\"request.txt\"\n"
            f"Content-Transfer-Encoding: base64\n\n{b64(REQUEST + chr(10))}\n--{boundary}--\n")


def mailman_list():
    # A Mailman 3 list: no Precedence header, only List-* headers, and Reply-To the list.
    extra = ("Reply-To: seismo-l@lists.example\nList-Id: <seismo-l.lists.example>\n"
             "List-Post: <mailto:seismo-l@lists.example>\n"
             "List-Unsubscribe: <mailto:seismo-l-leave@lists.example>\n")
    return (head("mailman_list", "Mailman 3: a list mail marked only by List-* headers",
                 "Carol <carol@obs.example>", "[seismo-l] How to ask the station", extra)
            + plain_only("Write to the station like this:\n\nstationinfo=you@example.org\n"))


# ---- S/MIME: DER written by hand; the reader opens signed-data without checking signers ----

def der(tag, content):
    n = len(content)
    if n < 0x80:
        length = bytes([n])
    else:
        octets = n.to_bytes((n.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(octets)]) + octets
    return bytes([tag]) + length + content


def oid(text):
    parts = [int(p) for p in text.split(".")]
    out = bytes([40 * parts[0] + parts[1]])
    for p in parts[2:]:
        chunk = [p & 0x7F]
        p >>= 7
        while p:
            chunk.insert(0, 0x80 | (p & 0x7F))
            p >>= 7
        out += bytes(chunk)
    return der(0x06, out)


def signed_data(content):
    sha256 = der(0x30, oid("2.16.840.1.101.3.4.2.1") + der(0x05, b""))
    encap = der(0x30, oid("1.2.840.113549.1.7.1") + der(0xA0, der(0x04, content)))
    body = der(0x30, der(0x02, b"\x01") + der(0x31, sha256) + encap + der(0x31, b""))
    return der(0x30, oid("1.2.840.113549.1.7.2") + der(0xA0, body))


def smime_signed():
    # Outlook with "send signed as opaque": the text only inside application/pkcs7-mime.
    inner = (b"Content-Type: text/plain; charset=\"us-ascii\"\r\n"
             b"Content-Transfer-Encoding: 7bit\r\n\r\nstationinfo=alice@uni.example\r\n")
    return (head("smime_signed", "Outlook: S/MIME opaque signed (signed-data, no signer here)",
                 "Alice Example <alice@uni.example>", "Station information")
            + "Content-Type: application/pkcs7-mime; smime-type=signed-data; name=\"smime.p7m\"\n"
            "Content-Transfer-Encoding: base64\n"
            "Content-Disposition: attachment; filename=\"smime.p7m\"\n\n" + b64(signed_data(inner)))


def smime_encrypted():
    # Outlook encrypting to the robot's certificate, which it does not have.
    enveloped = der(0x30, oid("1.2.840.113549.1.7.3") + der(0xA0, der(0x30, b"\x02\x01\x00")))
    return (head("smime_encrypted", "Outlook: S/MIME encrypted (enveloped-data)",
                 "Alice Example <alice@uni.example>", "Station information")
            + "Content-Type: application/pkcs7-mime; smime-type=enveloped-data; name=\"smime.p7m\"\n"
            "Content-Transfer-Encoding: base64\n"
            "Content-Disposition: attachment; filename=\"smime.p7m\"\n\n" + b64(enveloped))


# ---- TNEF: Outlook's winmail.dat with the text in its body attribute ----

def tnef_attribute(level, attribute, data):
    checksum = sum(data) & 0xFFFF
    return struct.pack("<BII", level, attribute, len(data)) + data + struct.pack("<H", checksum)


def winmail(text):
    out = struct.pack("<IH", 0x223E9F78, 0x0001)
    out += tnef_attribute(1, 0x00089006, struct.pack("<I", 0x00010000))  # TNEF version
    out += tnef_attribute(1, 0x00078008, b"IPM.Microsoft Mail.Note\0")  # message class
    out += tnef_attribute(1, 0x0002800C, text.encode("ascii"))  # body
    return out


def outlook_tnef():
    # Outlook sending "rich text" through Exchange to the outside: only winmail.dat.
    boundary = "_000_DM6PR11MB0003_"
    return (head("outlook_tnef", "Outlook rich text: the text only in winmail.dat (TNEF)",
                 "Alice Example <alice@uni.example>", "Event file request")
            + f"Content-Type: multipart/mixed; boundary=\"{boundary}\"\n\n--{boundary}\n"
            "Content-Type: application/ms-tnef; name=\"winmail.dat\"\n"
            "Content-Transfer-Encoding: base64\n"
            "Content-Disposition: attachment; filename=\"winmail.dat\"\n\n"
            + b64(winmail("Hello,\r\n\r\n" + REQUEST + "\r\n\r\nAlice\r\n")) + f"\n--{boundary}--\n")


def mailx_key_in_line():
    # bsd-mailx sends ASCII text without MIME headers; the request written inside a sentence.
    return (head("mailx_key_in_line", "bsd-mailx: no MIME headers, the key inside a sentence",
                 "Alice Example <alice@uni.example>", "data", mime=False)
            + "\nPlease send me eventfilerequest=2 18 2003 14 30 5 20 bhz alice@uni.example\n"
            "> stationinfo=alice@uni.example\n")


MAILS = [gmail_wrapped, samsung_signature, samsung_run_together, samsung_plain_glued,
         outlook_reply, outlook_original_message, outlook_forward, gmail_forward, gmail_reply,
         ios_reply, thunderbird_interleaved, mutt_forward_quoted, thunderbird_txt_attachment,
         mailman_list, smime_signed, smime_encrypted, outlook_tnef, mailx_key_in_line]


def main():
    for make in MAILS:
        text = make()
        path = HERE / f"{make.__name__}.eml"
        path.write_bytes(text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8"))
        print(path.name)


if __name__ == "__main__":
    main()
