#!/usr/bin/python3
"""A real SMTP server (aiosmtpd) on 127.0.0.1 that takes one message and checks it with
Python's email package under its strict policy.

    smtp_peer.py --from ADDR --to ADDR [--body FILE] [--timeout S] [ATTACHMENT ...]

Prints "PORT n" once it listens, then one "PROBLEM ..." line for everything that is not as
expected and a last line "DONE ok" or "DONE failed"; exits 0 only when all was well. With
attachments the message must be multipart/mixed with exactly those files, in that order,
each an image/tiff part named after its file whose content decodes byte for byte to it.
With --body the message text after the header block must equal the file. It stops by
itself after one message, or after the time-out."""

import argparse
import asyncio
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import loopback_mail  # noqa: E402


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

    async def handle_DATA(self, server, session, envelope):
        problems = []
        if envelope.mail_from != self.args.sender:
            problems.append(f"MAIL FROM {envelope.mail_from!r}")
        if envelope.rcpt_tos != [self.args.recipient]:
            problems.append(f"RCPT TO {envelope.rcpt_tos!r}")
        problems += check(envelope.content, self.args)
        if not self.done.done():
            self.done.set_result(problems)
        return "250 Message accepted for delivery"


async def serve(args):
    loop = asyncio.get_running_loop()
    done = loop.create_future()
    closed = loop.create_future()
    handler = Handler(args, done)

    # The server stops only once the client has gone, after its QUIT.
    def on_closed():
        if not closed.done():
            closed.set_result(True)

    server = await loopback_mail.start_server(loop, handler, on_closed)
    try:
        problems = await asyncio.wait_for(done, args.timeout)
    except asyncio.TimeoutError:
        problems = ["no message arrived"]
    try:
        await asyncio.wait_for(closed, args.timeout)
    except asyncio.TimeoutError:
        problems.append("the client did not close the connection")
    server.close()
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--from", dest="sender", required=True)
    parser.add_argument("--to", dest="recipient", required=True)
    parser.add_argument("--body")
    parser.add_argument("--timeout", type=float, default=60)
    parser.add_argument("attachments", nargs="*")
    args = parser.parse_args()
    problems = asyncio.run(serve(args))
    for problem in problems:
        print("PROBLEM", problem)
    print("DONE", "failed" if problems else "ok", flush=True)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
