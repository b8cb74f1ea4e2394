#!/usr/bin/python3
"""The road of one fax, with every program as a process: the Installer puts the programs
into a fresh root's system folder, a real 3-page document is printed into the page files,
Sendwell opens on a virtual X display (Xvfb), the test types the recipient and the fax
number into the dialog and presses Send, Pagemill makes the fax pages, and the mail goes
to a real SMTP server (aiosmtpd) on loopback. Then the stored mail must parse strictly
with Python's email package and carry the pages, and libtiff must decode each page to its
original raster widened to 1728 white columns.

The same road runs a second time through a private Postfix with STARTTLS and sign-in
(OneFaxThroughPostfixWithStartTlsAndSignIn): Sendwell has no keyring there and asks for the
password at Send, and the test types it.

Exits with 77 (skipped), saying why, when Xvfb cannot start at all, or when every case that
ran skipped itself (the Postfix road without root or without Postfix)."""

import argparse
import email
import email.policy
import filecmp
import glob
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image, ImageChops

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import desktop  # noqa: E402
import loopback_mail  # noqa: E402
import vellum_files  # noqa: E402

WIDTH, HEIGHT, FAX_WIDTH = 1700, 2200, 1728
PAGES = 3
SUBJECT = "Hi! I am: Vellum Zeru 3.1"
# A manual that a Debian package ships; its first pages are text, headings and lists.
DOCUMENT = sorted(glob.glob("/usr/share/doc/shared-mime-info/shared-mime-info-*.pdf"))[0]
SENDER = "ann@example.org"
# Typed as a user would: the blank and the dots become underscores in the mailbox.
RECIPIENT_TYPED = "Dr. Ann Smith"
RECIPIENT_MAILBOX = "Dr__Ann_Smith"
FAX_NUMBER = "0049301234567"
EARLIER_ENTRY = ("Bob", "4930555")

TIMEOUT = 120
ARGS = None
DISPLAY = None


def gateway_suffix():
    with open(ARGS.gateway_header, encoding="utf-8") as f:
        match = re.search(r'GATEWAY_MAIL_DOMAIN_SUFFIX\s*=\s*"([^"]+)"', f.read())
    return match.group(1)


def unused_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def expected_image(raster):
    """The page as libtiff should decode it: black where the raster is nonzero, then white
    up to the fax page's width."""
    page = Image.frombytes("L", (WIDTH, HEIGHT), raster).point(lambda v: 255 if v == 0 else 0)
    fax = Image.new("L", (FAX_WIDTH, HEIGHT), 255)
    fax.paste(page, (0, 0))
    return fax


class OneFaxFromPrintingToTheMailbox(unittest.TestCase):
    """The plain dialogue to aiosmtpd (scripts/mail-drop.py), as settings made before
    sendwell.ini existed give it."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="fax-road-")
        self.root = os.path.join(self.work, "root")
        self.system = os.path.join(self.root, "windows", "system")
        self.drive = os.path.join(self.root, "c")
        self.mail = os.path.join(self.work, "mail")
        self.messages = os.path.join(self.work, "messages.log")
        self.processes = []
        self.hands = desktop.Hands(DISPLAY, self.fail)

    def tearDown(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
            process.wait()
            if process.stdout:
                process.stdout.close()
        shutil.rmtree(self.work)

    def start(self, command, **kwargs):
        process = subprocess.Popen(command, **kwargs)
        self.processes.append(process)
        return process

    def run_installer(self):
        cups = os.path.join(self.work, "cups")
        env = dict(os.environ, VELLUM_ROOT=self.root, VELLUM_MESSAGE_LOG=os.path.join(self.work, "install.log"),
                   XDG_CONFIG_HOME=os.path.join(self.work, "config"),
                   CUPS_SERVERBIN=os.path.join(cups, "bin"), CUPS_DATADIR=os.path.join(cups, "data"),
                   # No scheduler listens there, so the queue is not registered anywhere;
                   # the Installer says so and copies everything all the same.
                   CUPS_SERVER=os.path.join(cups, "no-scheduler.sock"))
        result = subprocess.run([os.path.join(ARGS.bin, "Installer")], cwd=ARGS.bin, env=env,
                                capture_output=True, text=True, timeout=TIMEOUT)
        with open(env["VELLUM_MESSAGE_LOG"], encoding="utf-8") as f:
            report = f.read()
        failed = re.findall(r"\\n- ([^:]+):", report)
        self.assertEqual(failed, ["registering the printer Vellum Zeru 3.0"], report)
        self.assertEqual(result.returncode, 1, result.stderr)
        for name in ("Sendwell", "Pagemill", "libvellum_msgbox.so"):
            self.assertTrue(filecmp.cmp(os.path.join(ARGS.bin, name), os.path.join(self.system, name),
                                        shallow=False), f"{name} was not installed whole")

    def print_document(self):
        result = subprocess.run([sys.executable, ARGS.render, "--root", self.root, "--document", DOCUMENT,
                                 "--first", "1", "--last", str(PAGES)],
                                capture_output=True, text=True, timeout=TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stderr)
        rasters = []
        for n in range(1, PAGES + 1):
            with open(os.path.join(self.drive, f"quill.{n}"), "rb") as f:
                rasters.append(f.read())
        self.assertTrue(all(r.count(0) < len(r) for r in rasters), "the document rendered a blank page")
        self.assertEqual(len(set(rasters)), PAGES, "two pages rendered alike")
        return rasters

    def configure(self, server):
        vellum_files.write_settings(self.system, server, SENDER, "Ann Example")
        vellum_files.write_address_book(self.system, [EARLIER_ENTRY])

    # What the variants of the road change: the mail server, what Sendwell is told about it,
    # the password question, and where the delivered message is found.

    def start_mail_server(self):
        """Starts the server; the SMTP server setting that reaches it."""
        self.mail_server = self.start([sys.executable, ARGS.mail_drop, "--folder", self.mail, "--messages", "1",
                                       "--timeout", str(TIMEOUT)], stdout=subprocess.PIPE, text=True)
        line = self.mail_server.stdout.readline()
        self.assertTrue(line.startswith("PORT "), f"the mail server said {line!r}")
        return f"127.0.0.1:{line.split()[1]}"

    def sendwell_environment(self):
        return {}

    def answer_the_password_question(self, sendwell, dialog):
        pass

    def take_the_message(self, gateway):
        """Waits for the delivered message, checks its envelope and returns its bytes."""
        self.assertEqual(self.mail_server.wait(timeout=TIMEOUT), 0)
        self.assertEqual(sorted(os.listdir(self.mail)), ["message-1.eml", "message-1.json"])
        with open(os.path.join(self.mail, "message-1.json"), encoding="utf-8") as f:
            self.assertEqual(json.load(f), {"mail_from": SENDER, "rcpt_tos": [gateway]})
        with open(os.path.join(self.mail, "message-1.eml"), "rb") as f:
            return f.read()

    def send_through_the_dialog(self, sendwell):
        [window] = self.hands.wait_for_windows(sendwell.pid, desktop.SENDWELL_CAPTION, 1, "Sendwell's dialog")
        self.hands.send_fax(window, RECIPIENT_TYPED, FAX_NUMBER)
        self.answer_the_password_question(sendwell, window)

    def wait_for_the_end(self, sendwell):
        if not desktop.wait_after_send(sendwell, self.messages, TIMEOUT):
            said = desktop.read_messages(self.messages)
            self.fail((f"Sendwell said {said!r}" if said else "Sendwell did not end after Send") +
                      self.hands.screenshot_note())

    def test_a_printed_document_reaches_the_gateway_as_fax_pages(self):
        # The server first: a variant that cannot run here skips before anything else is done.
        server = self.start_mail_server()
        self.run_installer()
        rasters = self.print_document()
        self.configure(server)

        runtime = os.path.join(self.work, "runtime")
        os.mkdir(runtime, 0o700)
        env = desktop.program_environment(DISPLAY, XDG_RUNTIME_DIR=runtime, VELLUM_ROOT=self.root,
                                          VELLUM_MESSAGE_LOG=self.messages, **self.sendwell_environment())
        output = os.path.join(self.work, "sendwell.out")
        with open(output, "wb") as out:
            sendwell = self.start([os.path.join(self.system, "Sendwell")], env=env, cwd=self.work,
                                  stdout=out, stderr=subprocess.STDOUT)
        self.send_through_the_dialog(sendwell)

        self.wait_for_the_end(sendwell)
        with open(output, encoding="utf-8", errors="replace") as f:
            self.assertEqual(sendwell.returncode, 0, f.read())
        self.assertEqual(desktop.read_messages(self.messages),
                         f"{desktop.SENDWELL_CAPTION}\t{desktop.SEND_SUCCESS}\n")

        # The page files: rasters and page count used up, the fax pages left. Beside them only
        # Sendwell's empty mark that it was open, which the watcher reads.
        self.assertEqual(sorted(os.listdir(self.drive)),
                         [".sendwell.open"] + [f"quill{n}.tif" for n in range(1, PAGES + 1)])
        self.assertEqual(os.path.getsize(os.path.join(self.drive, ".sendwell.open")), 0)
        # The recipient, as it went into the address, first in the book, which holds
        # exactly the bytes of its format (the short prefix for each short text).
        book = os.path.join(self.system, vellum_files.ADDRESS_BOOK_FILE)
        entries = [(RECIPIENT_MAILBOX, FAX_NUMBER), EARLIER_ENTRY]
        self.assertEqual(vellum_files.read_address_book(book), entries)
        with open(book, "rb") as f:
            self.assertEqual(f.read(), vellum_files.address_book_bytes(entries))

        gateway = f"remote-printer.{RECIPIENT_MAILBOX}@{FAX_NUMBER}{gateway_suffix()}"
        self.check_message(self.take_the_message(gateway), gateway, rasters)

    def check_message(self, content, gateway, rasters):
        message, problems = loopback_mail.parse_strictly(content)
        self.assertEqual(problems, [])
        self.assertEqual(message["To"].addresses[0].addr_spec, gateway)
        self.assertEqual(len(message["To"].addresses), 1)
        self.assertEqual(message["From"].addresses[0].addr_spec, SENDER)
        self.assertEqual(str(message["Subject"]), SUBJECT)
        self.assertEqual(message.get_content_type(), "multipart/mixed")

        parts = [p for p in message.walk() if p.get_content_disposition() == "attachment"]
        self.assertEqual([p.get_filename() for p in parts], [f"quill{n}.tif" for n in range(1, PAGES + 1)])
        for n, (part, raster) in enumerate(zip(parts, rasters), start=1):
            with self.subTest(page=n):
                page = os.path.join(self.drive, f"quill{n}.tif")
                with open(page, "rb") as f:
                    self.assertEqual(part.get_content_type(), "image/tiff")
                    self.assertEqual(part.get_content(), f.read(), "the attachment differs from the fax page")
                self.assert_decodes_to(page, raster)

    def assert_decodes_to(self, page, raster):
        # libtiff must read the page without a word of complaint...
        copy = os.path.join(self.work, "decoded.tif")
        result = subprocess.run(["tiffcp", "-c", "none", page, copy], capture_output=True, text=True)
        self.assertEqual((result.returncode, result.stderr), (0, ""), f"libtiff on {page}")
        # ...and find exactly the raster's pixels in it.
        with Image.open(page) as image:
            self.assertEqual(image.size, (FAX_WIDTH, HEIGHT))
            self.assertEqual(image.info.get("compression"), "group3")
            decoded = image.convert("L")
        difference = ImageChops.difference(decoded, expected_image(raster)).getbbox()
        self.assertIsNone(difference, f"{page} differs from its raster in the box {difference}")


class OneFaxThroughPostfixWithStartTlsAndSignIn(OneFaxFromPrintingToTheMailbox):
    """The same road through a private Postfix (tests/support/private-postfix.sh) on its
    submission port, as a mail provider's port 587 works: STARTTLS with a certificate of the
    test's own CA, which Sendwell trusts only through SSL_CERT_FILE, and sign-in against a
    sasldb user. Sendwell runs without a session bus (DBUS_SESSION_BUS_ADDRESS=disabled:), so
    there is no keyring to hold the password and Sendwell asks for it at Send; the test types
    it into that question. Postfix needs root and the packages postfix and sasl2-bin; without
    them this case skips, saying so."""

    LOGIN = "faxuser"
    # Typed by xdotool from its standard input; never on a command line.
    PASSWORD = "Pa55 w0rd:Fax"
    SIZE_LIMIT = 20 * 1024 * 1024
    # private-postfix.sh exits with this when Postfix cannot run here.
    POSTFIX_CANNOT_RUN = 3

    def start_mail_server(self):
        self.certificates = os.path.join(self.work, "certificates")
        made = subprocess.run([ARGS.test_ca, self.certificates], capture_output=True, text=True, timeout=TIMEOUT)
        self.assertEqual(made.returncode, 0, made.stderr)
        # smtpd reads its folders as the user postfix, so they must not lie under the test's own
        # folder, which only root may pass.
        self.postfix = tempfile.mkdtemp(prefix="fax-road-postfix-")
        self.addCleanup(shutil.rmtree, self.postfix, True)
        self.addCleanup(subprocess.run, [ARGS.private_postfix, "stop", self.postfix], timeout=TIMEOUT)
        submission = unused_port()
        started = subprocess.run(
            [ARGS.private_postfix, "start", self.postfix, str(submission), str(unused_port()),
             os.path.join(self.certificates, "good.pem"), os.path.join(self.certificates, "good.key"),
             self.LOGIN, FAX_NUMBER + gateway_suffix(), str(self.SIZE_LIMIT)],
            env=dict(os.environ, PRIVATE_POSTFIX_PASSWORD=self.PASSWORD), capture_output=True, text=True,
            timeout=TIMEOUT)
        if started.returncode == self.POSTFIX_CANNOT_RUN:
            self.skipTest(started.stderr.strip())
        self.assertEqual((started.returncode, started.stdout.strip()), (0, "READY"), started.stderr)
        return f"127.0.0.1:{submission}"

    def configure(self, server):
        super().configure(server)
        vellum_files.write_provider_settings(self.system, "STARTTLS", self.LOGIN)

    def sendwell_environment(self):
        no_certificates = os.path.join(self.work, "no-certificates")
        os.mkdir(no_certificates)
        # The test CA is the only authority Sendwell trusts; no keyring: the password is asked.
        return {"SSL_CERT_FILE": os.path.join(self.certificates, "ca.pem"), "SSL_CERT_DIR": no_certificates,
                "DBUS_SESSION_BUS_ADDRESS": "disabled:"}

    def answer_the_password_question(self, sendwell, dialog):
        self.hands.answer_password_question(sendwell.pid, dialog, self.PASSWORD)

    def take_the_message(self, gateway):
        incoming = os.path.join(self.postfix, "mail", "maildir", "new")

        def delivered():
            # The Maildir comes about with the first delivery.
            return os.listdir(incoming) if os.path.isdir(incoming) else []

        deadline = time.monotonic() + TIMEOUT
        while not delivered() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(len(delivered()), 1, "Postfix did not deliver exactly one message")
        with open(os.path.join(incoming, delivered()[0]), "rb") as f:
            content = f.read()
        # The envelope, as Postfix writes it at delivery; ESMTPSA in its Received line says the
        # message came over TLS and signed in (RFC 3848).
        message = email.message_from_bytes(content, policy=email.policy.default)
        self.assertEqual(message["Return-Path"], f"<{SENDER}>")
        self.assertEqual(message["Delivered-To"], gateway)
        self.assertRegex(str(message["Received"]), r"\bwith ESMTPSA\b")
        return content


class Terminated(Exception):
    pass


def stop_on_sigterm(signum, frame):
    # An exception, unlike the default end, lets each case's cleanup stop the servers it started.
    raise Terminated(f"signal {signum}")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="the build's bin folder: the distribution")
    parser.add_argument("--render", required=True, help="scripts/make-page-files.py")
    parser.add_argument("--mail-drop", required=True, help="scripts/mail-drop.py")
    parser.add_argument("--gateway-header", required=True, help="sender/common/Gateway.h")
    parser.add_argument("--test-ca", required=True, help="tests/support/test-ca.sh")
    parser.add_argument("--private-postfix", required=True, help="tests/support/private-postfix.sh")
    ARGS, rest = parser.parse_known_args()
    for name in ("bin", "render", "mail_drop", "gateway_header", "test_ca", "private_postfix"):
        setattr(ARGS, name, os.path.abspath(getattr(ARGS, name)))
    signal.signal(signal.SIGTERM, stop_on_sigterm)

    return desktop.run_tests_on_a_display([sys.argv[0]] + rest)


if __name__ == "__main__":
    sys.exit(main())
