#!/usr/bin/python3
"""An SMTP server for tests: aiosmtpd on a loopback port, AUTH LOGIN and PLAIN allowed without
TLS unless a TLS mode is chosen.

Every accepted message is saved in the output directory as NNNN.eml (the message as the
server received it: CR LF line ends, dot-unstuffed) and then NNNN.meta, written under a
temporary name and renamed, so a reader that sees the .meta file sees the whole message.
The .meta file has one "key=value" line each for mail_from, every rcpt_to, and
authenticated (0 or 1). When the server listens, the file "ready" appears in the directory.
SIGTERM and SIGINT stop it.

--tls starttls offers STARTTLS and requires it before MAIL and AUTH (AUTH is offered only
after it); --tls smtps speaks TLS from the first byte. Both need --cert and --key (PEM files).
--auth-plain-only offers AUTH PLAIN and not AUTH LOGIN.

Run with Debian's interpreter: /usr/bin/python3 smtp_sink.py --port P --dir D
    [--user U --password W] [--auth-required] [--tls starttls|smtps --cert C --key K]
    [--auth-plain-only]
"""

import argparse
import base64
import json
import os
import signal
import ssl
import threading
import urllib.parse
import urllib.request

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword


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


def introspection_check(url, ca_file):
    """A check(user, token) that asks an RFC 7662 introspection endpoint over HTTPS."""
    context = ssl.create_default_context(cafile=ca_file)

    def check(user, token):
        data = urllib.parse.urlencode({"token": token}).encode()
        with urllib.request.urlopen(url, data=data, context=context, timeout=10) as answer:
            info = json.load(answer)
        return info.get("active") is True and info.get("username") == user
    return check


class OAuth2Logins:
    """AUTH XOAUTH2 and OAUTHBEARER for an aiosmtpd handler, the token checked by
    check(user, token). A refused token gets the error challenge (base64 of a JSON text); the
    client's empty response then gets 535."""

    def __init__(self, check):
        self.check = check

    async def auth_XOAUTH2(self, server, args):
        return await self._login(server, args, "XOAUTH2")

    async def auth_OAUTHBEARER(self, server, args):
        return await self._login(server, args, "OAUTHBEARER")

    async def _login(self, server, args, mechanism):
        if len(args) < 2:
            return AuthResult(success=False, handled=False)
        fields = base64.b64decode(args[1]).decode("utf-8", "replace").split("\x01")
        user, token = "", ""
        for field in fields:
            if field.startswith("auth=Bearer "):
                token = field[len("auth=Bearer "):]
            elif mechanism == "XOAUTH2" and field.startswith("user="):
                user = field[len("user="):]
            elif mechanism == "OAUTHBEARER" and field.startswith("n,a="):
                user = field[4:].rstrip(",").replace("=2C", ",").replace("=3D", "=")
        if token and self.check(user, token):
            return AuthResult(success=True, auth_data=user)
        words = json.dumps({"status": "invalid_token", "schemes": "bearer", "scope": "mail"})
        if await server.challenge_auth(words) is MISSING:
            return AuthResult(success=False, handled=True)
        return AuthResult(success=False, handled=False)


def controller_options(tls=None, cert=None, key=None, auth_plain_only=False):
    """The Controller's keyword arguments for a TLS mode (None, "starttls" or "smtps") with the
    certificate and key files, and for offering AUTH PLAIN alone. They go after the others:
    they set auth_require_tls for a TLS mode."""
    options = {}
    if tls is not None:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
        if tls == "starttls":
            options = dict(tls_context=context, require_starttls=True, auth_require_tls=True)
        elif tls == "smtps":
            # aiosmtpd counts only STARTTLS as TLS when it decides whether AUTH may go ahead.
            options = dict(ssl_context=context, auth_require_tls=False)
        else:
            raise ValueError(f"unknown TLS mode {tls!r}")
    if auth_plain_only:
        options["auth_exclude_mechanism"] = ["LOGIN"]
    return options


class FqdnHeloHandler(SavingHandler):
    """Refuses a greeting name without a dot, as Postfix's reject_non_fqdn_helo_hostname."""

    @staticmethod
    def refusal(hostname):
        return "504 5.5.2 <%s>: Helo command rejected: need fully-qualified hostname" % hostname

    async def handle_HELO(self, server, session, envelope, hostname):
        if "." not in hostname:
            return self.refusal(hostname)
        session.host_name = hostname
        return "250 %s" % server.hostname

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        if "." not in hostname:
            session.host_name = None
            return [self.refusal(hostname)]
        session.host_name = hostname
        return responses


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--auth-required", action="store_true")
    parser.add_argument("--tls", choices=("starttls", "smtps"))
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--auth-plain-only", action="store_true")
    parser.add_argument("--fqdn-helo", action="store_true")
    args = parser.parse_args()

    SMTP.AuthLoginUsernameChallenge = "Username:"
    SMTP.AuthLoginPasswordChallenge = "Password:"
    options = dict(authenticator=Authenticator(args.user, args.password),
                   auth_require_tls=False, auth_required=args.auth_required)
    options.update(controller_options(args.tls, args.cert, args.key, args.auth_plain_only))
    handler = (FqdnHeloHandler if args.fqdn_helo else SavingHandler)(args.dir)
    controller = Controller(handler, hostname="127.0.0.1", port=args.port,
                            **options)
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
