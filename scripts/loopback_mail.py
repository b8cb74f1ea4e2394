"""What the mail servers on loopback share: scripts/mail-drop.py, which keeps the messages it
receives for ./run and the fax road test, and tests/mail/smtp_peer.py, which checks one
message for the delivery tests. Both are aiosmtpd on 127.0.0.1 that say their port and stop
only once the client has gone; and both, like the fax road test, read a message with Python's
email package under its strict policy."""

import email.parser
import email.policy

from aiosmtpd.smtp import SMTP


def header_problems(part, where):
    problems = []
    for name, value in part.items():
        str(value)  # parses the value; the strict policy raises on a defect
        problems += [f"{where} header {name}: {defect!r}" for defect in getattr(value, "defects", ())]
    return problems + [f"{where}: {defect!r}" for defect in part.defects]


def parse_strictly(content):
    """The message and what is wrong with the headers of it and its parts: (message, problems),
    or (None, [why]) when it does not parse at all."""
    try:
        message = email.parser.BytesParser(policy=email.policy.strict).parsebytes(content)
        problems = header_problems(message, "message")
        for index, part in enumerate(message.walk()):
            if index:
                problems += header_problems(part, f"part {index}")
    except Exception as error:  # the strict policy reports a defect by raising
        return None, [f"does not parse strictly: {error!r}"]
    return message, problems


class LoopbackSMTP(SMTP):
    """Calls on_closed when a client's connection ends, so that a server can stop after the QUIT.
    options go to aiosmtpd's SMTP (tls_context, authenticator, ...)."""

    def __init__(self, handler, on_closed, **options):
        super().__init__(handler, data_size_limit=None, **options)
        self.on_closed = on_closed

    def connection_lost(self, error):
        super().connection_lost(error)
        self.on_closed()


async def start_server(loop, handler, on_closed, port=0, **options):
    """Listens on 127.0.0.1 (port 0: any free port) and prints "PORT n" for whoever started it."""
    server = await loop.create_server(lambda: LoopbackSMTP(handler, on_closed, **options), "127.0.0.1", port)
    print("PORT", server.sockets[0].getsockname()[1], flush=True)
    return server
