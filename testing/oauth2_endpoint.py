#!/usr/bin/python3
"""An OAuth2 authorization server for tests, over HTTPS on a loopback port.

POST /token       the grants client_credentials, refresh_token and the device code
                  (urn:ietf:params:oauth:grant-type:device_code); access tokens are "at-1",
                  "at-2", ... for expires_in seconds; a refresh token is "rt-1" at first and,
                  with rotation, replaced by "rt-2", ... at every use (the old one then gets
                  invalid_grant)
POST /device      the device authorization: device code "dc-1", user code "WDJB-MJHT"; its
                  polls are answered in the order of device_answers ("pending", "slow_down",
                  "denied", "expired"), then with tokens
POST /introspect  RFC 7662 for the mail servers: {"active": true, "username": USER} for a token
                  it issued, {"active": false} for any other

The client is "tarnwick-test"; client_credentials also needs the secret "client-secret".

In a test: OAuth2Endpoint(cert, key, ...) runs in a thread of the caller. As a program:
    oauth2_endpoint.py --cert C --key K --port P --dir D [--expires-in N] [--rotate]
        [--device-answers a,b,...] [--user U]
writes D/ready once it listens; SIGTERM ends it.
"""

import argparse
import http.server
import json
import os
import signal
import ssl
import threading
import urllib.parse

CLIENT_ID = "tarnwick-test"
CLIENT_SECRET = "client-secret"


class OAuth2Endpoint:
    def __init__(self, cert, key, port=0, expires_in=3600, rotate=False, device_answers=(),
                 user="station"):
        self.expires_in, self.rotate, self.user = expires_in, rotate, user
        self.device_answers = list(device_answers)
        self.issued = set()
        self.refresh = "rt-1"
        self.count = 0
        self.refreshes = 0
        self.lock = threading.Lock()
        endpoint = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
                with endpoint.lock:
                    status, answer = endpoint.answer(self.path, form)
                body = json.dumps(answer).encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
        self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.port = self.server.server_address[1]
        self.url = f"https://127.0.0.1:{self.port}"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def tokens(self, refresh=None):
        self.count += 1
        token = f"at-{self.count}"
        self.issued.add(token)
        answer = {"access_token": token, "token_type": "Bearer", "expires_in": self.expires_in}
        if refresh:
            answer["refresh_token"] = refresh
        return 200, answer

    def answer(self, path, form):
        if path == "/introspect":
            if form.get("token") in self.issued:
                return 200, {"active": True, "username": self.user}
            return 200, {"active": False}
        if form.get("client_id") != CLIENT_ID:
            return 401, {"error": "invalid_client"}
        if path == "/device":
            return 200, {"device_code": "dc-1", "user_code": "WDJB-MJHT",
                         "verification_uri": f"{self.url}/device-login", "interval": 1,
                         "expires_in": 600}
        grant = form.get("grant_type")
        if grant == "client_credentials":
            if form.get("client_secret") != CLIENT_SECRET:
                return 401, {"error": "invalid_client"}
            return self.tokens()
        if grant == "refresh_token":
            if form.get("refresh_token") != self.refresh:
                return 400, {"error": "invalid_grant"}
            if self.rotate:
                self.refreshes += 1
                self.refresh = f"rt-{self.refreshes + 1}"
                return self.tokens(self.refresh)
            return self.tokens()
        if grant == "urn:ietf:params:oauth:grant-type:device_code" and \
                form.get("device_code") == "dc-1":
            if self.device_answers:
                word = self.device_answers.pop(0)
                error = {"pending": "authorization_pending", "slow_down": "slow_down",
                         "denied": "access_denied", "expired": "expired_token"}[word]
                return 400, {"error": error}
            return self.tokens(self.refresh)
        return 400, {"error": "unsupported_grant_type"}

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--expires-in", type=int, default=3600)
    parser.add_argument("--rotate", action="store_true")
    parser.add_argument("--device-answers", default="")
    parser.add_argument("--user", default="station")
    args = parser.parse_args()
    answers = [a for a in args.device_answers.split(",") if a]
    endpoint = OAuth2Endpoint(args.cert, args.key, args.port, args.expires_in, args.rotate,
                              answers, args.user)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    ready = os.path.join(args.dir, "ready")
    with open(ready + ".tmp", "w") as f:
        f.write(f"{endpoint.port}\n")
    os.rename(ready + ".tmp", ready)
    while not stop.wait(0.05):
        pass
    endpoint.stop()


if __name__ == "__main__":
    main()
