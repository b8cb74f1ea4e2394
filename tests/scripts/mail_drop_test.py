#!/usr/bin/python3
"""The secure side of ./run's mail server: scripts/mail-drop.py with STARTTLS and a sign-in,
on the certificates of scripts/demo-certificates.sh. Python's smtplib, trusting the demo CA
alone, must find a certificate for 127.0.0.1; no password may be tried before STARTTLS; a
wrong one is refused; and the message that comes with the right one is stored with how it
came (TLS version and login)."""

import json
import os
import shutil
import smtplib
import ssl
import subprocess
import sys
import tempfile
import unittest

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
TIMEOUT = 60
LOGIN = "you@example.org"
PASSWORD = "demo-Pa55"


class SecureMailDrop(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="mail-drop-")
        self.certificates = os.path.join(self.work, "certificates")
        made = subprocess.run([os.path.join(SCRIPTS, "demo-certificates.sh"), self.certificates],
                              capture_output=True, text=True, timeout=TIMEOUT)
        self.assertEqual(made.returncode, 0, made.stderr)
        self.server = None

    def tearDown(self):
        if self.server is not None:
            if self.server.poll() is None:
                self.server.kill()
            self.server.wait()
            self.server.stdout.close()
        shutil.rmtree(self.work)

    def start(self, *options, password=PASSWORD):
        env = dict(os.environ)
        env.pop("MAIL_DROP_PASSWORD", None)
        if password is not None:
            env["MAIL_DROP_PASSWORD"] = password
        self.server = subprocess.Popen(
            [sys.executable, os.path.join(SCRIPTS, "mail-drop.py"), "--folder", os.path.join(self.work, "mail"),
             "--messages", "1", "--timeout", str(TIMEOUT), *options],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return self.server.stdout.readline()

    def secure_options(self):
        return ("--starttls", os.path.join(self.certificates, "server.pem"),
                os.path.join(self.certificates, "server.key"), "--login", LOGIN)

    def test_sign_in_only_over_tls_with_the_password_from_the_environment(self):
        port = int(self.start(*self.secure_options()).split()[1])
        trust_the_demo_ca_only = ssl.create_default_context(cafile=os.path.join(self.certificates, "ca.pem"))
        with smtplib.SMTP("127.0.0.1", port, timeout=TIMEOUT) as client:
            client.ehlo()
            self.assertFalse(client.has_extn("auth"), "AUTH offered before STARTTLS")
            self.assertEqual(client.mail("ann@example.org")[0], 530)
            client.starttls(context=trust_the_demo_ca_only)
            with self.assertRaises(smtplib.SMTPAuthenticationError) as refused:
                client.login(LOGIN, PASSWORD + "x")
            self.assertEqual(refused.exception.smtp_code, 535)
            client.login(LOGIN, PASSWORD)
            client.sendmail("ann@example.org", ["fax@example.net"], b"Subject: one\r\n\r\nbody\r\n")
        self.assertEqual(self.server.wait(timeout=TIMEOUT), 0)
        with open(os.path.join(self.work, "mail", "message-1.json"), encoding="utf-8") as f:
            how = json.load(f)
        self.assertEqual((how["rcpt_tos"], how["login"]), (["fax@example.net"], LOGIN))
        self.assertRegex(how["tls"], r"^TLSv1\.[23]$")

    def test_a_login_without_tls_or_without_a_password_does_not_start(self):
        for options, password in ((("--login", LOGIN), PASSWORD), (self.secure_options(), None)):
            with self.subTest(options=options, password=password is not None):
                said = self.start(*options, password=password)
                self.assertEqual(self.server.wait(timeout=TIMEOUT), 1)
                self.assertIn("--login needs", said + self.server.stdout.read())
                self.server.stdout.close()
                self.server = None


if __name__ == "__main__":
    unittest.main(verbosity=2)
