"""Real mail servers on loopback for the end-to-end tests and the demo.

Dovecot serves POP3 from a Maildir of its own; aiosmtpd runs in this process and keeps every
message it accepts. Both listen on free ports of 127.0.0.1 only, and either can serve TLS with
a certificate given as (certificate file, key file).
"""

import grp
import os
import pwd
import shutil
import signal
import socket
import string
import subprocess
import sys
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP

from smtp_sink import Authenticator, OAuth2Logins, controller_options, introspection_check

HERE = os.path.dirname(os.path.abspath(__file__))

SMTP.AuthLoginUsernameChallenge = "Username:"
SMTP.AuthLoginPasswordChallenge = "Password:"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def free_ports(count):
    """As many different ports as asked for, free a moment ago (bound together, then closed)."""
    sockets = [socket.socket() for _ in range(count)]
    try:
        for s in sockets:
            s.bind(("127.0.0.1", 0))
        return [s.getsockname()[1] for s in sockets]
    finally:
        for s in sockets:
            s.close()


def wait_for_port(port, what, timeout=10.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"{what} did not start on port {port}")


class Dovecot:
    """A POP3 server of its own, in the foreground, with one Maildir user.

    With tls=(certificate file, key file) it offers STLS on port and speaks POP3S on tls_port,
    and refuses plain-text logins before TLS. Dovecot would count a client on loopback as
    secure (its address is Dovecot's own), so clients then reach it through tcp_relay.py,
    which connects on from 127.0.0.2. Without tls, tls_port is 0.
    """

    def __init__(self, root, user="station", password="pop-secret", tls=None, oauth2=None):
        """oauth2=(introspection URL, CA file) also offers SASL XOAUTH2 and OAUTHBEARER, with
        the tokens checked by that endpoint."""
        os.makedirs(root, exist_ok=True)
        if oauth2:
            write_oauth2_passdb(root, *oauth2)
        self.root, self.user, self.password = root, user, password
        self.relay = None
        if tls:
            self.port, own_port, self.tls_port, own_tls_port = free_ports(4)
        else:
            self.port = own_port = free_port()
            self.tls_port = own_tls_port = 0
        if os.getuid() == 0:
            account = pwd.getpwnam("dovecot")
            login_user, internal_user, internal_group = "dovenull", "dovecot", "dovecot"
        else:
            account = pwd.getpwuid(os.getuid())
            login_user = internal_user = account.pw_name
            internal_group = grp.getgrgid(account.pw_gid).gr_name
        self.uid, self.gid = account.pw_uid, account.pw_gid
        self.maildir = os.path.join(root, "home", user, "Maildir")
        for sub in ("tmp", "new", "cur"):
            os.makedirs(os.path.join(self.maildir, sub))
        with open(os.path.join(root, "users"), "w") as f:
            f.write(f"{user}:{{PLAIN}}{password}\n")
        conf = os.path.join(root, "dovecot.conf")
        template = os.path.join(HERE, "dovecot.conf.in")
        with open(template) as f:
            text = string.Template(f.read()).substitute(
                DIR=root + "/", PORT=own_port, TLS_PORT=own_tls_port,
                SSL="yes" if tls else "no",
                SSL_CERT="<" + tls[0] if tls else "", SSL_KEY="<" + tls[1] if tls else "",
                DISABLE_PLAINTEXT_AUTH="yes" if tls else "no",
                LOGIN_USER=login_user, INTERNAL_USER=internal_user,
                INTERNAL_GROUP=internal_group, UID=self.uid, GID=self.gid)
        with open(conf, "w") as f:
            f.write(text)
        subprocess.run(["chown", "-R", f"{self.uid}:{self.gid}", os.path.join(root, "home")],
                       check=True)
        program = shutil.which("dovecot") or "/usr/sbin/dovecot"
        self.proc = subprocess.Popen([program, "-F", "-c", conf], start_new_session=True,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_for_port(own_port, "Dovecot")
            if tls:
                self.relay = subprocess.Popen(
                    [sys.executable, os.path.join(HERE, "tcp_relay.py"), "--source",
                     "127.0.0.2", f"{self.port}:{own_port}", f"{self.tls_port}:{own_tls_port}"],
                    stdout=subprocess.DEVNULL)
                wait_for_port(self.port, "the relay in front of Dovecot")
        except RuntimeError:
            self.stop()
            raise
        self.count = 0

    def deliver(self, text):
        """Puts one message (LF line ends) into the mailbox."""
        self.count += 1
        name = f"{time.time():.6f}.{self.count}.tarnwick"
        tmp = os.path.join(self.maildir, "tmp", name)
        with open(tmp, "w", encoding="latin-1") as f:
            f.write(text)
        os.chown(tmp, self.uid, self.gid)
        os.rename(tmp, os.path.join(self.maildir, "new", name))

    def waiting(self):
        return len(os.listdir(os.path.join(self.maildir, "new"))) + \
            len(os.listdir(os.path.join(self.maildir, "cur")))

    def stop(self):
        if self.relay:
            self.relay.terminate()
            try:
                self.relay.wait(5)
            except subprocess.TimeoutExpired:
                self.relay.kill()
                self.relay.wait()
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()


def write_oauth2_passdb(root, introspection_url, ca_file):
    with open(os.path.join(root, "oauth2.conf.ext"), "w") as f:
        f.write(f"introspection_mode = post\nintrospection_url = {introspection_url}\n"
                "username_attribute = username\nactive_attribute = active\n"
                f"active_value = true\nforce_introspection = yes\ntls_ca_cert_file = {ca_file}\n")
    with open(os.path.join(root, "oauth2.conf"), "w") as f:
        f.write("auth_mechanisms = plain login xoauth2 oauthbearer\n"
                "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n"
                f"  args = {root}/oauth2.conf.ext\n}}\n")


class _Saver:
    def __init__(self, messages):
        self.messages = messages

    async def handle_DATA(self, server, session, envelope):
        self.messages.append({
            "from": envelope.mail_from,
            "to": list(envelope.rcpt_tos),
            "content": envelope.original_content,
            "authenticated": bool(session.authenticated),
        })
        return "250 OK"


class _OAuth2Saver(_Saver, OAuth2Logins):
    def __init__(self, messages, check):
        _Saver.__init__(self, messages)
        OAuth2Logins.__init__(self, check)


class SmtpServer:
    """aiosmtpd in this process. With login=(user, password), AUTH LOGIN and PLAIN are offered
    (and required). With oauth2=(introspection URL, CA file), AUTH XOAUTH2 and OAUTHBEARER are
    offered (and required), the tokens checked by that endpoint. tls_mode "starttls" offers STARTTLS and requires it before MAIL and AUTH;
    "smtps" speaks TLS from the first byte; either needs tls=(certificate file, key file).
    auth_plain_only leaves AUTH LOGIN out."""

    def __init__(self, port=None, login=None, tls_mode=None, tls=None, auth_plain_only=False,
                 oauth2=None):
        self.port = port or free_port()
        self.messages = []
        kwargs = {}
        if login or oauth2:
            kwargs = dict(authenticator=Authenticator(*(login or (None, None))),
                          auth_require_tls=False, auth_required=True)
        cert, key = tls or (None, None)
        kwargs.update(controller_options(tls_mode, cert, key, auth_plain_only))
        handler = (_OAuth2Saver(self.messages, introspection_check(*oauth2)) if oauth2
                   else _Saver(self.messages))
        self.controller = Controller(handler, hostname="127.0.0.1", port=self.port, **kwargs)
        self.controller.start()

    def stop(self):
        self.controller.stop()
