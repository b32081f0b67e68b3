#!/usr/bin/python3
"""An SMTP server for tests: aiosmtpd on a loopback port, AUTH LOGIN allowed without TLS.

Every accepted message is saved in the output directory as NNNN.eml (the message as the
server received it: CR LF line ends, dot-unstuffed) and then NNNN.meta, written under a
temporary name and renamed, so a reader that sees the .meta file sees the whole message.
The .meta file has one "key=value" line each for mail_from, every rcpt_to, and
authenticated (0 or 1). When the server listens, the file "ready" appears in the directory.
SIGTERM and SIGINT stop it.

Run with Debian's interpreter: /usr/bin/python3 smtp_sink.py --port P --dir D
    [--user U --password W] [--auth-required]
"""

import argparse
import os
import signal
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def write_atomically(path, data):
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.rename(temporary, path)


class SavingHandler:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            number = self.count
        stem = os.path.join(self.directory, "%04d" % number)
        write_atomically(stem + ".eml", envelope.original_content)
        lines = ["mail_from=%s" % envelope.mail_from]
        lines += ["rcpt_to=%s" % r for r in envelope.rcpt_tos]
        lines.append("authenticated=%d" % (1 if session.authenticated else 0))
        write_atomically(stem + ".meta", ("\n".join(lines) + "\n").encode())
        return "250 OK: queued as %d" % number


class Authenticator:
    def __init__(self, user, password):
        self.user = user.encode() if user is not None else None
        self.password = password.encode() if password is not None else None

    def __call__(self, server, session, envelope, mechanism, auth_data):
        if (self.user is not None and isinstance(auth_data, LoginPassword)
                and auth_data.login == self.user and auth_data.password == self.password):
            return AuthResult(success=True, auth_data=auth_data)
        # handled=False: the server answers 535 itself instead of leaving the client waiting.
        return AuthResult(success=False, handled=False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--auth-required", action="store_true")
    args = parser.parse_args()

    SMTP.AuthLoginUsernameChallenge = "Username:"
    SMTP.AuthLoginPasswordChallenge = "Password:"
    controller = Controller(SavingHandler(args.dir), hostname="127.0.0.1", port=args.port,
                            authenticator=Authenticator(args.user, args.password),
                            auth_require_tls=False, auth_required=args.auth_required)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    controller.start()
    write_atomically(os.path.join(args.dir, "ready"), b"%d\n" % os.getpid())
    while not stop.wait(0.05):
        pass
    controller.stop()


if __name__ == "__main__":
    main()
