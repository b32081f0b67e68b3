#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/, from the project's
test data (mail/testdata/*.eml, the station of the tests, the dialogues of the mail tests).
Run again after changing it: python3 fuzz/make_seeds.py. The files it writes are checked in;
scripts/fuzz.sh runs the targets on copies of them."""

import pathlib
import shutil

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
TESTDATA = ROOT / "mail" / "testdata"
RS = b"\x1e"  # the record separator of the targets' inputs


def eml(name):
    return (TESTDATA / name).read_bytes()


def dot_stuffed(message):
    lines = message.split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return b"".join((b"." + l if l.startswith(b".") else l) + b"\r\n" for l in lines)


# Every byte value but the record separator, for binary file contents inside records.
NO_RS = bytes(b for b in range(256) if b != 0x1e)


def records(*parts):
    return RS.join(parts)


SEEDS = {}

# ---- the settings file ---------------------------------------------------------------------
SEEDS["fuzz_settings_file"] = {
    "defaults.ini": b"StationName=\nPopEnable=0\nPopServer=\nPopUser=\nPopKeyStr=\nPopCheckTime=2\n"
    b"SmtpServer=\nSmtpAuth=0\nSmtpUser=\nSmtpKeyStr=\nFromUser=\nTempDir=\nMapDrive=\0\n"
    b"MornakDir=\nMornakReq=\nMornak2Dir=\nMornak2Req=\n",
    "station.ini": b"StationName=ANMO\nPopServer=pop.example\nPopUser=station\nPopKeyStr=7077\n"
    b"PopCheckTime=2\nSmtpServer=smtp.example\nFromUser=ANMO Robot <robot@anmo>\n"
    b"TempDir=/var/tmp/tarnwick/\nMornakDir=/opt/mornak/\nMornakReq=/opt/mornak/req/\n",
    "complete.ini": b"StationName=ANMO\r\nPopEnable=1\r\nPopServer=pop3s://mail.example:995\r\n"
    b"PopUser=station\r\nPopKeyStr=73e963726574\r\nPopCheckTime=45\r\n"
    b"SmtpServer=smtp+starttls://mail.example\r\nSmtpAuth=1\r\nSmtpUser=robot\r\n"
    b"SmtpKeyStr=7057\r\nFromUser=Station ANMO <robot@anmo.example.org>\r\nTempDir=/tmp/\r\n"
    b"MapDrive=Z\r\nMornakDir=/m/\r\nMornakReq=/m/req/\r\nMornak2Dir=/m2/\r\nMornak2Req=/m2/req/\r\n",
    "odd.ini": b"stationname=lower case key\npopchecktime= -17x\nPopKeyStr=7g0Z7\nSmtpKeyStr=a\n"
    b"TempDir=" + b"t" * 120 + b"\nMapDrive=\nNoSuchKey=1\n=value without key\nline without\n",
}

# ---- the recorder's configuration ----------------------------------------------------------
def channel(file, ident, info, comp):
    return (file + "\nFILEEXTENTION=" + ident + "\nLOCATION=Tarnwick vault, pier 1\nINFORMATION="
            + info + "\nCOMPNAME=" + comp + "\n").encode()


sample_ini = (b"[Mornak]\nSYSTEMNUMBER=1\nNUMBERCHANNELS=3\nSAMPLESPERSECOND=100\n"
              b"CHANFILE1=bhz.chn\nCHANFILE2=bhn.chn\nCHANFILE3=bhe.chn\nVOLINFO1=0,ALL,BHZ,BHN,BHE\n")
sample_channels = [channel("bhz.chn", "BHZ", "STS-2 vertical", "Z"),
                   channel("bhn.chn", "BHN", "STS-2 north", "N"),
                   channel("bhe.chn", "BHE", "STS-2 east", "E")]
SEEDS["fuzz_recorder_config"] = {
    "sample": records(sample_ini, *sample_channels),
    "two_systems": records(sample_ini, *sample_channels,
                           b"2/mornak.ini\nSYSTEMNUMBER=2\nNUMBERCHANNELS=2\nSAMPLESPERSECOND=40\n"
                           b"CHANFILE1=lhz.chn\nCHANFILE2=lhn.chn\nVOLINFO2=1,LONG,LHZ,LHN\n",
                           b"2/" + channel("lhz.chn", "lhz", "", "Z"),
                           b"2/" + channel("lhn.chn", "LHNLONGER", "x", "N")),
    "station_fixture": records(
        b"[Station]\nSYSTEMNUMBER=1\nNUMBERCHANNELS=3\nSAMPLESPERSECOND=100\n"
        b"CHANFILE1=bhz.chn\nCHANFILE2=bhn.chn\nCHANFILE3=bhe.chn\nVOLINFO1=0,quiet,bhz,bhn\n",
        b"bhz.chn\nFILEEXTENTION=BHZ\nLOCATION=Vault 1\nINFORMATION=\nCOMPNAME=Z\n",
        b"bhn.chn\nFILEEXTENTION=BHN\nLOCATION=Vault 1\nINFORMATION=\nCOMPNAME=N\n",
        b"bhe.chn\nFILEEXTENTION=BHE\nLOCATION=Vault 1\nINFORMATION=\nCOMPNAME=E\n"),
    "no_first_ini": records(b"", b"2/mornak.ini\nSYSTEMNUMBER=2\nNUMBERCHANNELS=9\n"),
    "odd": records(b"NUMBERCHANNELS=-3\nCHANFILE0=x\nCHANFILE9=x\nCHANFILEX=x\nCHANFILE8=c8\n"
                   b"VOLINFO4=,, ,BHZ\nVOLINFO5=1,x\nsystemnumber=+12\n",
                   b"c8\nFILEEXTENTION=abcdefgh\nCOMPNAME=" + b"c" * 120 + b"\n"),
}

# ---- the recorder's answers ----------------------------------------------------------------
SEEDS["fuzz_response_files"] = {
    "ok": records(b"fok\n", b"", b"2 18 2003 14 30\nbhz\nbhn", b"f#0\nevent data of bhz",
                  b"f#1\nevent data of bhn"),
    "refused": records(b"fbad channel list\n", b"", b"2 18 2003 14 30\nbhz", b"f#0\nx"),
    "both": records(b"fok\n", b"fOK 2\r\n", b"2 18 2003 14 30\nbhz\nlhz\nbhn",
                    b"f#0\nz", b"f#1\nl", b"l#2"),
    "hostile": records(b"fok\n", b"", b"2 18 2003 14 30\n../secret\na/b\nc\\d\nx..y\nbhz\nfifo",
                       b"d#1", b"f#3\nx", b"L#4", b"p#5", b"fsub/0302181430.bhz.mqx\ninside"),
    "unreadable": records(b"p", b"fok\n", b"2 18 2003 14 30\nbhz", b"f#0\nz"),
}

# ---- request lines -------------------------------------------------------------------------
SEEDS["fuzz_request_lines"] = {
    "readme": b"eventfilerequest=2 18 2003 14 30 5 20 bhz,bhn alice@uni.example\n"
              b"stationinfo=alice@uni.example\n",
    "two_systems": b"eventfilerequest=2 18 2003 14 30 5 20 bhz,lhz,vol,quiet2 a@b.example\n",
    "hostile": b"EventFileRequest=2 18 2003 14 30 5 20 ../up,a/b,c\\d,..,e..f,w\\v,bhz x@y\n"
               + RS + b"eventfilerequest=1 2 3 bad line\nstationinfo=\n"
               b"stationinfo=a@x,b@x,c@x,d@x,e@x,f@x\n",
    "limits": b"eventfilerequest=2 18 2003 14 30 0 20 bhz a@b\n"
              b"eventfilerequest=2 18 2003 14 30 5 201 bhz a@b\n"
              b"eventfilerequest=-1 99 -2003 25 61 5 1 bhe,x,bhn a@b\n"
              b"eventfilerequest=2 18 2003 14 30 5 20 a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q a@b\n"
              b"eventfilerequest=2 18 2003 14 30 5 20 abcdefghijklmnop a@b\n",
}

# ---- the POP3 dialogue ---------------------------------------------------------------------
def pop3(*messages, count_in_pass=True):
    script = b"+OK POP3 ready\r\n+OK\r\n"
    if count_in_pass:
        script += b"+OK station has %d messages (300 octets)\r\n" % len(messages)
    else:
        script += b"+OK logged in\r\n+OK %d 300\r\n" % len(messages)
    for m in messages:
        script += b"+OK message follows\r\n" + dot_stuffed(m) + b".\r\n+OK deleted\r\n"
    return script + b"+OK bye\r\n"


SEEDS["fuzz_pop3_dialogue"] = {
    "plain": pop3(eml("plain.eml")),
    "alternative": pop3(eml("alternative.eml"), count_in_pass=False),
    "bounce_and_forwarded": pop3(eml("bounce.eml"), eml("forwarded.eml")),
    "qp_and_flowed": pop3(eml("qp_soft_break.eml"), eml("flowed.eml"), count_in_pass=False),
    "refused": b"+OK POP3 ready\r\n+OK\r\n-ERR [AUTH] Authentication failed.\r\n",
    "bad_stat": b"+OK POP3 ready\r\n+OK\r\n+OK logged in\r\n-ERR no\r\n+OK bye\r\n",
}

# ---- the IMAP check ------------------------------------------------------------------------
def imap(*messages, move=True):
    caps = b"IMAP4rev1 SASL-IR AUTH=PLAIN UIDPLUS IDLE" + (b" MOVE" if move else b"")
    script = b"* OK [CAPABILITY " + caps + b"] ready\r\n"
    script += b"TAG OK [CAPABILITY " + caps + b"] Logged in\r\n"
    script += RS + b"* %d EXISTS\r\n* OK [UIDVALIDITY 7] UIDs valid\r\nTAG OK [READ-WRITE] Select\r\n" % len(messages)
    script += RS + b"* SEARCH " + b" ".join(b"%d" % (n + 1) for n in range(len(messages))) + b"\r\nTAG OK done\r\n"
    for n, m in enumerate(messages):
        script += RS + b'* %d FETCH (UID %d INTERNALDATE "19-Feb-2003 07:05:09 +0000" BODY[] {%d}\r\n' % (
            n + 1, n + 1, len(m)) + m + b")\r\nTAG OK Fetch\r\n"
    script += RS + b'* LIST (\\Noselect) "/" ""\r\nTAG OK List\r\n'
    if move:
        script += RS + b"TAG NO [TRYCREATE] no such folder\r\n" + RS + b"TAG OK created\r\n"
        script += RS + b"TAG OK subscribed\r\n" + RS + b"TAG OK moved\r\n"
    else:
        script += RS + b"TAG OK copied\r\n" + RS + b"TAG OK stored\r\n" + RS + b"TAG OK expunged\r\n"
    return script + RS + b"* BYE\r\nTAG OK Logout\r\n"


SEEDS["fuzz_imap_dialogue"] = {
    "plain_moved": imap(eml("plain.eml")),
    "two_copied": imap(eml("alternative.eml"), eml("bounce.eml"), move=False),
    "refused": b"* OK ready\r\nTAG NO [AUTHENTICATIONFAILED] Authentication failed.\r\n",
    "bad_select": b"* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] hi\r\nTAG OK in\r\n" + RS
                  + b"TAG NO no such folder\r\n" + RS + b"TAG OK bye\r\n",
}

# ---- the SMTP dialogue ---------------------------------------------------------------------
composed = (b"Date: Wed, 19 Feb 03 07:05:09 +0000\r\nFrom: Station ANMO <robot@anmo.example.org>\r\n"
            b"Subject: Your Event File\r\nTo: ann@example.org\r\nMessage-ID: <1.2.3@anmo.example.org>\r\n"
            b"Auto-Submitted: auto-replied\r\nMIME-Version: 1.0\r\n"
            b"Content-Type: text/plain; charset=\"us-ascii\"\r\nContent-Transfer-Encoding: 7bit\r\n"
            b"X-Mailer: Tarnwick\r\n\r\nHello.\r\n.\r\n..\r\n")
SEEDS["fuzz_smtp_dialogue"] = {
    "helo": records(b"220 smtp.example ESMTP\r\n250 smtp.example\r\n250 2.1.0 Ok\r\n250 2.1.5 Ok\r\n"
                    b"354 End data with <CR><LF>.<CR><LF>\r\n250 2.0.0 Ok: queued\r\n221 2.0.0 Bye\r\n",
                    composed, b"\x00"),
    "auth_login": records(b"220 smtp.example ESMTP\r\n250-smtp.example\r\n250-PIPELINING\r\n"
                          b"250 AUTH LOGIN PLAIN\r\n334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n"
                          b"235 2.7.0 Authentication successful\r\n250 Ok\r\n250 Ok\r\n250 Ok\r\n"
                          b"354 go ahead\r\n250 Ok\r\n221 Bye\r\n",
                          composed, b"\x01", b"ann@example.org,bob@example.org"),
    "refused_rcpt": records(b"220 x\r\n250 x\r\n250 ok\r\n550 5.1.1 no such user\r\n221 bye\r\n",
                            b"text", b"\x00"),
    "refused_data": records(b"220 x\r\n250 x\r\n250 ok\r\n250 ok\r\n451 try later\r\n221 bye\r\n",
                            b"text\r\n", b"\x00"),
    "auth_refused": records(b"220 x\r\n250 AUTH LOGIN\r\n250 leftover\r\n334 VXNlcm5hbWU6\r\n"
                            b"334 UGFzc3dvcmQ6\r\n535 5.7.8 bad credentials\r\n",
                            b"text", b"\x01"),
}

# ---- base64 --------------------------------------------------------------------------------
SEEDS["fuzz_base64"] = {
    "text": b"abcd",
    "encoded": b"YWJjZGU=",
    "lines": b"TWFu\r\nIGlz IGRp\tc3Rp\nbmd1aXNoZWQ=\r\n",
    "bytes": bytes(range(256)),
    "odd": b"=A==\x80\xc1Zm9v*",
    "left_over": b"YWJjZ",
}

# ---- the MIME composer ---------------------------------------------------------------------
SEEDS["fuzz_mime_composer"] = {
    "plain": records(b"Hello.\r\n", b"Your Event File", b"ann@example.org",
                     b"Station ANMO <robot@anmo.example.org>", b""),
    "two_files": records(b"Here are your event files from the ANMO station.\r\n", b"Your Event Files",
                         b"ann@example.org", b"Station ANMO <robot@anmo.example.org>",
                         b"plain@uni.example", b"0302181430.bhz.mqx\nabcd",
                         b"0302181430.bhn.mqx\nabcde" + NO_RS * 2),
    "utf8": records("Station Zürich:\r\nError: Bad Request Line = ä\r\n".encode(), b"Event File Request Error",
                    b"a@b", b"Robot <r@z\xfc.example>", b"id@x", b"empty.mqx\n"),
    "link": records(b"x", b"s", b"a@b", b"r <r@x>", b"", b"!link\nsecret"),
}

# ---- the mail reader -----------------------------------------------------------------------
SEEDS["fuzz_mime_reader"] = {name: eml(name) for name in
                             ["plain.eml", "alternative.eml", "base64_text.eml", "bounce.eml",
                              "flowed.eml", "forwarded.eml", "html_only.eml", "qp_soft_break.eml",
                              "vacation_precedence.eml", "gmail_reply.eml", "outlook_reply.eml",
                              "samsung_signature.eml", "mutt_forward_quoted.eml",
                              "smime_signed.eml", "outlook_tnef.eml"]}
SEEDS["fuzz_mime_reader"]["page.html"] = (
    b"<html><head><title>x</title><style>p{}</style></head><body><p>stationinfo=a@b<br>"
    b"EventFileRequest=2 18 2003 14 30 5 20 bhz a@b</p><table><tr><td>a</td><td>b</td></tr>"
    b"</table><pre>\n  kept\r\n as is</pre>&nbsp;&amp;&#x41;</body></html>")

# ---- the limits before a tree is built -----------------------------------------------------
MIME_HEAD = b"From: eve@x.example\nMIME-Version: 1.0\n"
SEEDS["fuzz_parse_limits"] = {
    "tiny_parts": records(MIME_HEAD + b"Content-Type: multipart/mixed; boundary=b\n\n",
                          b"--b\n\nx\n", b"500000", b"--b--\n"),
    "header_lines": records(b"", b"X-A: 1\n", b"600000",
                            MIME_HEAD + b"Content-Type: text/plain\n\nstationinfo=a@b\n"),
    "html_elements": records(MIME_HEAD + b"Content-Type: text/html\n\n<p>stationinfo=a@b</p>",
                             b"<i a=\"1\" b>x</i>", b"300000", b"\n"),
    "nested": records(MIME_HEAD + b"Content-Type: multipart/mixed; boundary=b\n\n",
                      b"--b\nContent-Type: multipart/mixed; boundary=b\n\n", b"200",
                      b"--b\nContent-Type: text/plain\n\nstationinfo=a@b\n--b--\n"),
    "enclosed": records(MIME_HEAD + b"Content-Type: multipart/mixed; boundary=b\n\n",
                        b"--b\nContent-Type: message/rfc822\n\nSubject: x\n\n", b"100", b""),
    "long_line": records(MIME_HEAD + b"Content-Type: text/plain\n\nstationinfo=a@b ", b"x",
                         b"4000000", b"\n"),
    "script_and_comment": records(b"<script>a<b c='", b"<!-- <i x=\" -->", b"1000",
                                  b"</script><p>stationinfo=a@b</p>"),
}


def main():
    corpus = HERE / "corpus"
    for target, seeds in SEEDS.items():
        folder = corpus / target
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)
    print("wrote", sum(len(s) for s in SEEDS.values()), "seeds for", len(SEEDS), "targets")


if __name__ == "__main__":
    main()
