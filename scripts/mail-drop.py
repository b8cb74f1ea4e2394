#!/usr/bin/python3
"""A mail server on loopback for trying the fax sender and for whole-program tests:
aiosmtpd on 127.0.0.1 that accepts every message and stores it, as received, in a folder.

    mail-drop.py --folder DIR [--port N] [--messages N] [--timeout S]
                 [--starttls CERT KEY [--login NAME]] [--refuse ADDRESS ...]

Each message becomes DIR/message-N.eml (the message text exactly as the client sent it
after the end-of-data dot, CR LF line ends) with DIR/message-N.json beside it (the
envelope: "mail_from" and "rcpt_tos"). Both appear whole or not at all: they are written
under temporary names and renamed, the JSON file last.

With --starttls it offers STARTTLS with that certificate (PEM, with its chain) and key, and
takes no command but EHLO, STARTTLS and QUIT before it. With --login it also requires sign-in
(AUTH PLAIN or LOGIN, over TLS only) as that user, with the password read from the
environment variable MAIL_DROP_PASSWORD (never from the command line, where anyone could read
it). The JSON file then also says how the message came: "tls" (the TLS version) and "login".

With --refuse it answers RCPT TO with 550 for that address, as a server refuses a mailbox it
does not take (for tests of a send to several recipients where one is refused).

Prints "PORT n" once it listens and "STORED path" for each message. It stops by itself
after --messages messages, once the client has closed its connection; after --timeout
seconds in any case (default 600); and on SIGTERM or SIGINT. Exits 0 when the messages
it waited for arrived, 1 otherwise."""

import argparse
import asyncio
import hmac
import json
import logging
import os
import signal
import ssl
import sys

import loopback_mail
from aiosmtpd.smtp import AuthResult

PASSWORD_VARIABLE = "MAIL_DROP_PASSWORD"
# aiosmtpd logs a warning about its own use of its old login field at each sign-in; nobody
# here can act on it.
logging.getLogger("mail.log").addFilter(lambda record: "login_data is deprecated" not in record.getMessage())


def store(folder, number, envelope, how=None):
    base = os.path.join(folder, f"message-{number}")
    facts = {"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos, **(how or {})}
    for suffix, data in ((".eml", envelope.content), (".json", json.dumps(facts).encode())):
        with open(base + suffix + ".part", "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.replace(base + suffix + ".part", base + suffix)
    return base + ".eml"


class Handler:
    def __init__(self, folder, secure, refused=()):
        self.folder = folder
        self.secure = secure
        self.refused = {address.lower() for address in refused}
        self.stored = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refused:
            return "550 5.1.1 Mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.stored += 1
        how = None
        if self.secure:
            tls = session.ssl.get("ssl_object") if session.ssl else None
            login = getattr(session.auth_data, "login", None)
            how = {"tls": tls.version() if tls else None, "login": login.decode() if login else None}
        path = store(self.folder, self.stored, envelope, how)
        print("STORED", path, flush=True)
        return "250 Message accepted for delivery"


class Authenticator:
    """Takes one user with one password, through PLAIN or LOGIN."""

    def __init__(self, login, password):
        self.login = login.encode()
        self.password = password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        known = (mechanism in ("PLAIN", "LOGIN") and hmac.compare_digest(auth_data.login, self.login) and
                 hmac.compare_digest(auth_data.password, self.password))
        # A refusal is left to the server, which answers it with 535.
        return AuthResult(success=known, handled=False, auth_data=auth_data if known else None)


def security_options(args):
    """aiosmtpd's options for STARTTLS and sign-in; exits, saying why, when they cannot be had."""
    if args.login is not None and args.starttls is None:
        sys.exit("mail-drop.py: --login needs --starttls: a password goes over TLS only")
    if args.starttls is None:
        return {}
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    try:
        context.load_cert_chain(*args.starttls)
    except (OSError, ssl.SSLError) as error:
        sys.exit(f"mail-drop.py: the certificate or key cannot be used: {error}")
    options = {"tls_context": context, "require_starttls": True}
    if args.login is not None:
        # Read once and taken out of the environment, so that nothing this server starts inherits it.
        password = os.environ.pop(PASSWORD_VARIABLE, "")
        if not password:
            sys.exit(f"mail-drop.py: --login needs the password in the environment variable {PASSWORD_VARIABLE}")
        options.update(authenticator=Authenticator(args.login, password), auth_required=True)
    return options


async def serve(args, options):
    loop = asyncio.get_running_loop()
    finished = asyncio.Event()
    handler = Handler(args.folder, args.starttls is not None, args.refuse)

    # Only once the client has closed its connection after the last message, its QUIT included.
    def on_closed():
        if args.messages and handler.stored >= args.messages:
            finished.set()

    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, finished.set)
    server = await loopback_mail.start_server(loop, handler, on_closed, args.port, **options)
    try:
        await asyncio.wait_for(finished.wait(), args.timeout)
    except asyncio.TimeoutError:
        pass
    server.close()
    await server.wait_closed()
    return handler.stored


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--port", type=int, default=0, help="0: any free port")
    parser.add_argument("--messages", type=int, default=0, help="stop after this many; 0: only at the time-out")
    parser.add_argument("--timeout", type=float, default=600)
    parser.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"), help="offer and require STARTTLS")
    parser.add_argument("--login", help=f"require sign-in as this user; the password in ${PASSWORD_VARIABLE}")
    parser.add_argument("--refuse", action="append", default=[], metavar="ADDRESS",
                        help="answer RCPT TO for this address with 550")
    args = parser.parse_args()
    options = security_options(args)
    os.makedirs(args.folder, exist_ok=True)
    stored = asyncio.run(serve(args, options))
    return 0 if stored >= args.messages else 1


if __name__ == "__main__":
    sys.exit(main())
