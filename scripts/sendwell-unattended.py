#!/usr/bin/python3
"""Sendwell on a virtual X display (Xvfb), used as a person would use it: types the
recipient and the fax number into its dialog, presses Send, waits for it to end and prints
what it said.

    sendwell-unattended.py --sendwell PROGRAM --recipient NAME --number DIGITS --work DIR

DIR receives Sendwell's messages (messages.log) and its output (sendwell.out). Exits 1,
saying why, when the display or the dialog does not come up or cannot be typed into;
otherwise 0, whatever Sendwell said.

With the environment variable SENDWELL_PASSWORD set, it also types that password into the
question that Sendwell asks at Send when no keyring holds the mail password. The variable
never reaches Sendwell, and the password never stands on a command line."""

import argparse
import os
import subprocess
import sys

import desktop

# How long Send may take, from the key press to Sendwell's end.
SEND_TIMEOUT = 300
PASSWORD_VARIABLE = "SENDWELL_PASSWORD"


class NotDriven(Exception):
    pass


def fail(text):
    raise NotDriven(text)


def drive(display, args, password, messages, output):
    env = desktop.program_environment(display, VELLUM_MESSAGE_LOG=messages)
    try:
        with open(output, "wb") as out:
            sendwell = subprocess.Popen([args.sendwell], env=env, stdout=out, stderr=subprocess.STDOUT)
    except OSError as error:
        raise NotDriven(f"Sendwell cannot start: {error}") from None
    try:
        hands = desktop.Hands(display, fail)
        try:
            [dialog] = hands.wait_for_windows(sendwell.pid, desktop.SENDWELL_CAPTION, 1, "Sendwell's dialog")
        except NotDriven as error:
            with open(output, encoding="utf-8", errors="replace") as f:
                raise NotDriven(f"Sendwell's dialog did not appear ({error}):\n{f.read()}") from None
        hands.send_fax(dialog, args.recipient, args.number)
        if password is not None:
            hands.answer_password_question(sendwell.pid, dialog, password)
        desktop.wait_after_send(sendwell, messages, SEND_TIMEOUT)
    finally:
        if sendwell.poll() is None:
            sendwell.terminate()
        sendwell.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sendwell", required=True)
    parser.add_argument("--recipient", required=True)
    parser.add_argument("--number", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    args.sendwell = os.path.abspath(args.sendwell)
    # Out of the environment before anything is started, so that no program inherits it.
    password = os.environ.pop(PASSWORD_VARIABLE, None)
    # A picture of the screen at a failure lands beside the other files of the run.
    os.chdir(args.work)
    messages = os.path.abspath("messages.log")
    with desktop.VirtualDisplay() as display:
        if display.server is None:
            print(f"Xvfb did not start: {display.why_not}", file=sys.stderr)
            return 1
        try:
            drive(display.display, args, password, messages, os.path.abspath("sendwell.out"))
        except NotDriven as error:
            print(error, file=sys.stderr)
            return 1
    print("Sendwell said:")
    said = desktop.read_messages(messages)
    for line in said.splitlines():
        print("  " + line.replace("\t", ": ", 1))
    if not said:
        print("  (nothing)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
