#!/usr/bin/python3
"""Checks a message as a mail server stored it: it must parse under Python's strict email
policy without a defect, and its text after the header block must be the expected body.

    check_stored_mail.py STORED EXPECTED_BODY

Servers store lines with their own line end (Maildir: LF), so both sides are compared with
CR LF taken as LF. Prints "OK" or one "PROBLEM ..." line for each difference; exits 0 only
when there is none."""

import email.parser
import email.policy
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        stored = f.read().replace(b"\r\n", b"\n")
    with open(sys.argv[2], "rb") as f:
        expected = f.read().replace(b"\r\n", b"\n")
    problems = []
    try:
        message = email.parser.BytesParser(policy=email.policy.strict).parsebytes(stored)
        for name, value in message.items():
            str(value)
            problems += [f"header {name}: {defect!r}" for defect in getattr(value, "defects", ())]
        problems += [repr(defect) for defect in message.defects]
    except Exception as error:  # the strict policy reports a defect by raising
        problems.append(f"does not parse strictly: {error!r}")
    text = stored.split(b"\n\n", 1)[1] if b"\n\n" in stored else b""
    if text != expected:
        problems.append(f"body differs: got {text[:300]!r}, expected {expected[:300]!r}")
    for problem in problems:
        print("PROBLEM", problem)
    if not problems:
        print("OK")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
