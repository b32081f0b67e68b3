"""Real mail servers on loopback for the end-to-end tests and the demo.

Dovecot serves POP3 from a Maildir of its own; aiosmtpd runs in this process and keeps every
message it accepts. Both listen on free ports of 127.0.0.1 only.
"""

import grp
import os
import pwd
import shutil
import signal
import socket
import string
import subprocess
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP

from smtp_sink import Authenticator

SMTP.AuthLoginUsernameChallenge = "Username:"
SMTP.AuthLoginPasswordChallenge = "Password:"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


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
    """A POP3 server of its own, in the foreground, with one Maildir user."""

    def __init__(self, root, user="station", password="pop-secret"):
        os.makedirs(root, exist_ok=True)
        self.root, self.user, self.password = root, user, password
        self.port = free_port()
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
        template = os.path.join(os.path.dirname(os.path.abspath(__file__)), "dovecot.conf.in")
        with open(template) as f:
            text = string.Template(f.read()).substitute(
                DIR=root + "/", PORT=self.port, LOGIN_USER=login_user,
                INTERNAL_USER=internal_user, INTERNAL_GROUP=internal_group,
                UID=self.uid, GID=self.gid)
        with open(conf, "w") as f:
            f.write(text)
        subprocess.run(["chown", "-R", f"{self.uid}:{self.gid}", os.path.join(root, "home")],
                       check=True)
        program = shutil.which("dovecot") or "/usr/sbin/dovecot"
        self.proc = subprocess.Popen([program, "-F", "-c", conf], start_new_session=True,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for_port(self.port, "Dovecot")
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
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()


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


class SmtpServer:
    """aiosmtpd in this process. With login set, AUTH LOGIN is offered (and required)."""

    def __init__(self, port=None, login=None):
        self.port = port or free_port()
        self.messages = []
        kwargs = {}
        if login:
            kwargs = dict(authenticator=Authenticator(*login), auth_require_tls=False,
                          auth_required=True)
        self.controller = Controller(_Saver(self.messages), hostname="127.0.0.1",
                                     port=self.port, **kwargs)
        self.controller.start()

    def stop(self):
        self.controller.stop()
