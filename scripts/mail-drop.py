#!/usr/bin/python3
"""A mail server on loopback for trying the fax sender and for whole-program tests:
aiosmtpd on 127.0.0.1 that accepts every message and stores it, as received, in a folder.

    mail-drop.py --folder DIR [--port N] [--messages N] [--timeout S]

Each message becomes DIR/message-N.eml (the message text exactly as the client sent it
after the end-of-data dot, CR LF line ends) with DIR/message-N.json beside it (the
envelope: "mail_from" and "rcpt_tos"). Both appear whole or not at all: they are written
under temporary names and renamed, the JSON file last.

Prints "PORT n" once it listens and "STORED path" for each message. It stops by itself
after --messages messages, once the client has closed its connection; after --timeout
seconds in any case (default 600); and on SIGTERM or SIGINT. Exits 0 when the messages
it waited for arrived, 1 otherwise."""

import argparse
import asyncio
import json
import os
import signal
import sys

import loopback_mail


def store(folder, number, envelope):
    base = os.path.join(folder, f"message-{number}")
    for suffix, data in ((".eml", envelope.content),
                         (".json", json.dumps({"mail_from": envelope.mail_from,
                                               "rcpt_tos": envelope.rcpt_tos}).encode())):
        with open(base + suffix + ".part", "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.replace(base + suffix + ".part", base + suffix)
    return base + ".eml"


class Handler:
    def __init__(self, folder):
        self.folder = folder
        self.stored = 0

    async def handle_DATA(self, server, session, envelope):
        self.stored += 1
        path = store(self.folder, self.stored, envelope)
        print("STORED", path, flush=True)
        return "250 Message accepted for delivery"


async def serve(args):
    loop = asyncio.get_running_loop()
    finished = asyncio.Event()
    handler = Handler(args.folder)

    # Only once the client has closed its connection after the last message, its QUIT included.
    def on_closed():
        if args.messages and handler.stored >= args.messages:
            finished.set()

    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, finished.set)
    server = await loopback_mail.start_server(loop, handler, on_closed, args.port)
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
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    stored = asyncio.run(serve(args))
    return 0 if stored >= args.messages else 1


if __name__ == "__main__":
    sys.exit(main())
