#!/usr/bin/python3
"""A real SMTP server (aiosmtpd) on 127.0.0.1 that takes one message and checks it with
Python's email package under its strict policy.

    smtp_peer.py --from ADDR --to ADDR [--body FILE] [--timeout S]
                 [--security none|starttls|tls --cert PEM --key KEY] [--user NAME]
                 [--size-limit N] [--stall] [--expect-no-mail] [ATTACHMENT ...]

Prints "PORT n" once it listens, then one "PROBLEM ..." line for everything that is not as
expected and a last line "DONE ok" or "DONE failed"; exits 0 only when all was well. With
attachments the message must be multipart/mixed with exactly those files, in that order,
each an image/tiff part named after its file whose content decodes byte for byte to it.
With --body the message text after the header block must equal the file. It stops by
itself after one message, or after the time-out.

With --security starttls it offers STARTTLS and takes no command but EHLO, STARTTLS and QUIT
before it (AUTH only over TLS); with tls it speaks TLS from the first byte. With --user it
requires sign-in with that user and the password in the environment variable
SMTP_PEER_PASSWORD (never on a command line). With --size-limit it announces SIZE. With
--stall it takes the message data and never answers it. With --expect-no-mail it waits for
the client to close instead of a message, and any MAIL command is a problem."""

import argparse
import asyncio
import os
import ssl
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import loopback_mail  # noqa: E402
from aiosmtpd.smtp import SMTP, AuthResult  # noqa: E402


def check(content, args):
    message, problems = loopback_mail.parse_strictly(content)
    if message is None:
        return problems

    if message["Date"] is None or message["Date"].datetime is None:
        problems.append("no valid Date")
    if message["Message-ID"] is None or not str(message["Message-ID"]).startswith("<"):
        problems.append("no Message-ID")

    if args.body is not None:
        with open(args.body, "rb") as f:
            expected = f.read()
        text = content.split(b"\r\n\r\n", 1)[1] if b"\r\n\r\n" in content else b""
        if text != expected:
            problems.append(f"body differs: got {text[:300]!r}, expected {expected[:300]!r}")

    if args.attachments:
        if message.get_content_type() != "multipart/mixed":
            return problems + [f"content type {message.get_content_type()}"]
        parts = [p for p in message.get_payload() if p.get_content_disposition() == "attachment"]
        if len(parts) != len(args.attachments):
            problems.append(f"{len(parts)} attachments, expected {len(args.attachments)}")
        for part, path in zip(parts, args.attachments):
            with open(path, "rb") as f:
                expected = f.read()
            name = os.path.basename(path)
            if part.get_filename() != name:
                problems.append(f"attachment named {part.get_filename()!r}, expected {name!r}")
            if part.get_content_type() != "image/tiff":
                problems.append(f"{name}: content type {part.get_content_type()}")
            if part.get_content() != expected:
                problems.append(f"{name}: content differs from the file")
    return problems


class Handler:
    def __init__(self, args, done):
        self.args = args
        self.done = done
        self.mail_commands = []

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        self.mail_commands.append(address)
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.args.stall:
            await asyncio.sleep(3600)
        problems = []
        if self.args.user is not None and not session.authenticated:
            problems.append("the message came without sign-in")
        if self.args.security == "starttls" and session.ssl is None:
            problems.append("the message came without STARTTLS")
        if envelope.mail_from != self.args.sender:
            problems.append(f"MAIL FROM {envelope.mail_from!r}")
        if envelope.rcpt_tos != [self.args.recipient]:
            problems.append(f"RCPT TO {envelope.rcpt_tos!r}")
        problems += check(envelope.content, self.args)
        if not self.done.done():
            self.done.set_result(problems)
        return "250 Message accepted for delivery"


class Authenticator:
    def __init__(self, user, password):
        self.user = user.encode()
        self.password = password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        known = auth_data.login == self.user and auth_data.password == self.password
        # Not handled: the server itself answers a refusal with 535.
        return AuthResult(success=mechanism in ("PLAIN", "LOGIN") and known, handled=False)


class PeerSMTP(SMTP):
    """Tells when the client has gone, so that the server stops only after the QUIT."""

    def __init__(self, handler, closed, args, context):
        options = {"data_size_limit": args.size_limit}
        if args.security == "starttls":
            options.update(tls_context=context, require_starttls=True)
        if args.user is not None:
            options.update(
                authenticator=Authenticator(args.user, os.environ.get("SMTP_PEER_PASSWORD", "")),
                auth_required=True,
                # Under TLS from the first byte the server does not know that it is protected.
                auth_require_tls=args.security != "tls",
            )
        super().__init__(handler, **options)
        self.closed = closed

    def connection_lost(self, error):
        super().connection_lost(error)
        if not self.closed.done():
            self.closed.set_result(True)


async def serve(args):
    loop = asyncio.get_running_loop()
    done = loop.create_future()
    closed = loop.create_future()
    handler = Handler(args, done)
    context = None
    if args.security != "none":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    server = await loop.create_server(
        lambda: PeerSMTP(handler, closed, args, context),
        "127.0.0.1",
        0,
        ssl=context if args.security == "tls" else None,
    )
    print("PORT", server.sockets[0].getsockname()[1], flush=True)
    if args.expect_no_mail:
        problems = []
    else:
        try:
            problems = await asyncio.wait_for(done, args.timeout)
        except asyncio.TimeoutError:
            problems = ["no message arrived"]
    try:
        await asyncio.wait_for(closed, args.timeout)
    except asyncio.TimeoutError:
        problems.append("the client did not close the connection")
    server.close()
    if args.expect_no_mail and handler.mail_commands:
        problems.append(f"MAIL FROM came: {handler.mail_commands!r}")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--from", dest="sender", required=True)
    parser.add_argument("--to", dest="recipient", required=True)
    parser.add_argument("--body")
    parser.add_argument("--timeout", type=float, default=60)
    parser.add_argument("--security", choices=("none", "starttls", "tls"), default="none")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--user")
    parser.add_argument("--size-limit", type=int)
    parser.add_argument("--stall", action="store_true")
    parser.add_argument("--expect-no-mail", action="store_true")
    parser.add_argument("attachments", nargs="*")
    args = parser.parse_args()
    problems = asyncio.run(serve(args))
    for problem in problems:
        print("PROBLEM", problem)
    print("DONE", "failed" if problems else "ok", flush=True)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
