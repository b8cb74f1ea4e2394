#!/usr/bin/python3
"""Sendwell --send as a script runs it, without a display, against the loopback mail server
(scripts/mail-drop.py, aiosmtpd): a PDF and a text file sent to two recipients, each mail parsed
with Python's email package and its pages decoded with libtiff (through PIL); every exit status
from a real cause; and the mail password read from a descriptor, which never shows in the
program's /proc/<pid>/cmdline or environ."""

import argparse
import glob
import io
import os
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import loopback_mail  # noqa: E402
import vellum_files  # noqa: E402

SUFFIX = ".fax.vellum-gateway.example"
DOCUMENT = sorted(glob.glob("/usr/share/doc/shared-mime-info/shared-mime-info-*.pdf"))[0]
RASTER_BYTES = 1700 * 2200
TIMEOUT = 120
ARGS = None


def gateway(name, number):
    return f"remote-printer.{name}@{number}{SUFFIX}"


class CommandSend(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="command-send-")
        self.root = os.path.join(self.work, "root")
        self.system = os.path.join(self.root, "windows", "system")
        self.drive = os.path.join(self.root, "c")
        os.makedirs(self.system)
        os.makedirs(self.drive)
        self.servers = []
        # No display and no keyring: nothing may need either.
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env.update(VELLUM_ROOT=self.root, DBUS_SESSION_BUS_ADDRESS="disabled:")

    def tearDown(self):
        for server in self.servers:
            if server.poll() is None:
                server.kill()
            server.wait()
            server.stdout.close()
        shutil.rmtree(self.work)

    def mail_drop(self, *args, env=None):
        folder = os.path.join(self.work, f"mail-{len(self.servers)}")
        server = subprocess.Popen(["/usr/bin/python3", ARGS.mail_drop, "--folder", folder, "--timeout", "60", *args],
                                  stdout=subprocess.PIPE, text=True, env=env)
        self.servers.append(server)
        line = server.stdout.readline()
        self.assertTrue(line.startswith("PORT "), line)
        vellum_files.write_settings(self.system, f"127.0.0.1:{line.split()[1]}", "ann@example.org", "Ann")
        return folder

    def print_pages(self, rasters):
        shutil.rmtree(self.drive)
        os.makedirs(self.drive)
        for number, raster in enumerate(rasters, start=1):
            with open(os.path.join(self.drive, f"quill.{number}"), "wb") as f:
                f.write(raster)
        with open(os.path.join(self.drive, "Page.tmp"), "wb") as f:
            f.write(bytes([len(rasters) + 1]))

    def sendwell(self, *args, **kwargs):
        return subprocess.run([os.path.join(ARGS.bin, "Sendwell"), "--send", *args], env=self.env,
                              capture_output=True, text=True, timeout=TIMEOUT, **kwargs)

    def test_a_pdf_and_a_text_file_to_two_recipients(self):
        text = os.path.join(self.work, "invoice.txt")
        with open(text, "w", encoding="utf-8") as f:
            f.write("Invoice 42\nTotal: 100 EUR\n")
        folder = self.mail_drop("--messages", "2")
        run = self.sendwell("--to", "Ann Smith", "--number", "4930111", "--to", "Bob", "--number", "4930222",
                            DOCUMENT, text)
        self.assertEqual(run.returncode, 0, run.stderr)
        printed = [line.split(" ") for line in run.stdout.splitlines()]
        self.assertEqual([line[1:] for line in printed], [["Ann_Smith", "4930111"], ["Bob", "4930222"]])
        pages_of_pdf = int(subprocess.run(["pdfinfo", DOCUMENT], capture_output=True, text=True,
                                          check=True).stdout.split("Pages:")[1].split()[0])
        made = [os.path.join(self.drive, f"quill{n}.tif") for n in range(1, pages_of_pdf + 2)]
        mails = []
        for number, (message_id, name, fax_number) in enumerate(printed, start=1):
            with open(os.path.join(folder, f"message-{number}.eml"), "rb") as f:
                message, problems = loopback_mail.parse_strictly(f.read())
            self.assertEqual(problems, [])
            self.assertEqual(message["To"], gateway(name, fax_number))
            self.assertEqual(message["Message-ID"], message_id)
            mails.append([part.get_content() for part in message.walk() if part.get_content_type() == "image/tiff"])
        # The same pages to each: the PDF's, then the text's one page, as made in the drive root.
        self.assertEqual(mails[0], mails[1])
        self.assertEqual(len(mails[0]), pages_of_pdf + 1)
        for data, path in zip(mails[0], made):
            with open(path, "rb") as f:
                self.assertEqual(data, f.read())
            page = Image.open(io.BytesIO(data))
            self.assertEqual((page.size, page.mode), ((1728, 2200), "1"))
            self.assertIsNotNone(page.convert("L").point(lambda v: 255 - v).getbbox(), path)  # not blank
        self.assertFalse(os.path.exists(os.path.join(self.drive, "Page.tmp")))
        book = vellum_files.read_address_book(os.path.join(self.system, "flist.dll"))
        self.assertEqual(book, [("Ann_Smith", "4930111"), ("Bob", "4930222")])
        with sqlite3.connect(os.path.join(self.system, "sent", "sent.db")) as db:
            self.assertEqual(db.execute("SELECT COUNT(*) FROM sent_fax").fetchone()[0], 2)

    def test_each_exit_status_has_its_cause(self):
        page = bytes(RASTER_BYTES)
        ann = ["--to", "Ann", "--number", "4930111"]
        bob = ["--to", "Bob", "--number", "4930222"]
        refuse_ann = ("--refuse", gateway("Ann", "4930111"))
        # The coverage of --check is asked where nothing listens.
        with open(os.path.join(self.system, "sendwell.ini"), "w", encoding="utf-8") as f:
            f.write(vellum_files.provider_settings_text("None", "") + "[Gateway]\nQueryHost=127.0.0.1:1\n")
        cases = [
            # (what is wrong, the server's options or None, the pages, arguments, status, message)
            ("no number", None, [page], ["--to", "Ann"], 2, "Sendwell: each --to NAME is followed by --number"),
            ("a dash", None, [page], ["--to", "Ann", "--number", "49-30"], 3,
             "Sendwell: Sorry, only number is adopted for fax number"),
            ("a damaged raster", ("--messages", "1"), [b"short"], ann, 4,
             "Sendwell: Sorry, the fax pages could not be made"),
            ("refused", ("--messages", "1", *refuse_ann), [page], ann, 5, "Sendwell: The are some error when sending"),
            ("nobody listens", "closed", [page], ann, 6, "Sendwell: There some error when connecting internet"),
            ("one of two refused", ("--messages", "1", *refuse_ann), [page], ann + bob, 7,
             "Sendwell: The fax was sent to 1 of 2 recipients"),
            # Nothing listens, and nothing is needed: the fax is made from a copy of the pages.
            ("a dry run", "closed", [page], ann + bob + ["--dry-run"], 0,
             "Sendwell: Nothing was sent (--dry-run): a fax of 1 page would go to:\nSendwell: Ann (4930111): "),
            ("a check that finds what will not work", "closed", [page], ann + ["--check"], 9, "Sendwell: NOT OK: "),
            # The book holds Ann with 4930111 by now.
            ("a likely misdial", None, [page], ["--to", "Ann", "--number", "4930112"], 3,
             "Sendwell: Your address book holds the fax number 4930111 for Ann, not 4930112. Did you mean "
             "4930111 (Ann)?\nSendwell: Nothing was sent."),
            ("a misdial sent all the same", ("--messages", "1"), [page], ["--to", "Ann", "--number", "4930112",
                                                                           "--yes"], 0, "Sendwell: OK!"),
        ]
        for what, server, pages, args, status, said in cases:
            with self.subTest(what):
                if server == "closed":
                    with socket.socket() as probe:
                        probe.bind(("127.0.0.1", 0))
                        port = probe.getsockname()[1]
                    vellum_files.write_settings(self.system, f"127.0.0.1:{port}", "ann@example.org", "Ann")
                elif server:
                    self.mail_drop(*server)
                self.print_pages(pages)
                run = self.sendwell(*args)
                self.assertEqual(run.returncode, status, run.stderr)
                self.assertIn(said, run.stderr)
                if "--dry-run" in args or "--check" in args:  # the waiting pages stay as they were
                    self.assertEqual(sorted(os.listdir(self.drive)), ["Page.tmp", "quill.1"])

    def hold(self, args, on_hold, pass_fds=()):
        """Runs Sendwell --send ARGS against a server that takes the connection and says nothing, calls
        on_hold(process) once it is connected, then closes the connection: (status, what it printed)."""
        with socket.socket() as listener:
            listener.bind(("127.0.0.1", 0))
            listener.listen(1)
            listener.settimeout(TIMEOUT)
            vellum_files.write_settings(self.system, f"127.0.0.1:{listener.getsockname()[1]}", "ann@example.org",
                                        "Ann")
            sendwell = subprocess.Popen([os.path.join(ARGS.bin, "Sendwell"), "--send", *args], env=self.env,
                                        pass_fds=pass_fds, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
            connection, _ = listener.accept()
            on_hold(sendwell)
            connection.close()
            stdout, stderr = sendwell.communicate(timeout=TIMEOUT)
        return sendwell.returncode, stdout + stderr

    def test_a_signal_cancels_a_send_that_waits(self):
        """8: SIGTERM ends the wait for a silent server at once, and the pages stay."""
        self.print_pages([bytes(RASTER_BYTES)])
        status, said = self.hold(["--to", "Ann", "--number", "4930111"], lambda sendwell: sendwell.terminate())
        self.assertEqual(status, 8, said)
        self.assertIn(b"The send was cancelled: nothing was sent", said)
        self.assertTrue(os.path.exists(os.path.join(self.drive, "Page.tmp")))

    def password_on_a_descriptor(self, password):
        read_end, write_end = os.pipe()
        os.write(write_end, password + b"\n")
        os.close(write_end)
        return read_end, ["--to", "Ann", "--number", "4930111", "--password-fd", str(read_end)]

    def test_the_password_comes_from_a_descriptor_and_nowhere_else(self):
        certificates = os.path.join(self.work, "certificates")
        subprocess.run([ARGS.test_ca, certificates], check=True, capture_output=True, timeout=TIMEOUT)
        self.env["SSL_CERT_FILE"] = os.path.join(certificates, "ca.pem")
        vellum_files.write_provider_settings(self.system, "STARTTLS", "ann")
        self.print_pages([bytes(RASTER_BYTES)])
        password = b"fd-secret-7Qx!"

        # Held by a silent server with the password read: what anyone may read of it is read then.
        seen = []

        def look(sendwell):
            for name in ("cmdline", "environ"):
                with open(f"/proc/{sendwell.pid}/{name}", "rb") as f:
                    seen.append(f.read())

        fd, args = self.password_on_a_descriptor(password)
        _, said = self.hold(args, look, pass_fds=[fd])
        os.close(fd)
        self.assertIn(b"--password-fd", seen[0])
        self.assertIn(b"VELLUM_ROOT=", seen[1])
        self.assertNotIn(password, b"".join(seen) + said)

        # The same descriptor's password signs in to a server that asks for it.
        folder = self.mail_drop("--messages", "1", "--starttls", os.path.join(certificates, "good.pem"),
                                os.path.join(certificates, "good.key"), "--login", "ann",
                                env=dict(os.environ, MAIL_DROP_PASSWORD=password.decode()))
        fd, args = self.password_on_a_descriptor(password)
        run = subprocess.run([os.path.join(ARGS.bin, "Sendwell"), "--send", *args], env=self.env, pass_fds=[fd],
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT)
        os.close(fd)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertNotIn(password, run.stdout + run.stderr)
        with open(os.path.join(folder, "message-1.json"), encoding="utf-8") as f:
            self.assertIn('"login": "ann"', f.read())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="the build's bin folder")
    parser.add_argument("--mail-drop", required=True, help="scripts/mail-drop.py")
    parser.add_argument("--test-ca", required=True, help="tests/support/test-ca.sh")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
