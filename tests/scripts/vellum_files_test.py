#!/usr/bin/python3
"""The settings and address-book writer that ./run and the fax road test use: the archive
string's length forms byte for byte as sender/store/ArchiveString.h gives them (the same vectors
as tests/store/ArchiveStringTest.cpp), the address book read back or refused, and
sendwell.ini written without a line that the login could smuggle in."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import vellum_files  # noqa: E402


class ArchiveStrings(unittest.TestCase):
    def test_the_length_form_follows_the_length(self):
        cases = {
            0: b"\x00",
            254: b"\xfe",
            255: b"\xff\xff\x00",
            65533: b"\xff\xfd\xff",
            65534: b"\xff\xff\xff\xfe\xff\x00\x00",
            70000: b"\xff\xff\xff\x70\x11\x01\x00",
        }
        for length, prefix in cases.items():
            with self.subTest(length=length):
                encoded = vellum_files.archive_string("n" * length)
                self.assertEqual(encoded, prefix + b"n" * length)
                self.assertEqual(vellum_files.read_archive_string(encoded + b"next", 0),
                                 ("n" * length, len(encoded)))
        self.assertEqual(vellum_files.archive_string("Zoë"), b"\x04Zo\xc3\xab")

    def test_a_string_the_data_cannot_hold_and_the_wide_form_are_refused(self):
        for data in (b"", b"\x05abcd", b"\xff\x01", b"\xff\xff\xff\x01\x00", b"\xff\xfe\xff\x01a\x00"):
            with self.subTest(data=data):
                with self.assertRaises(ValueError):
                    vellum_files.read_archive_string(data, 0)


class Files(unittest.TestCase):
    def setUp(self):
        self.system = tempfile.mkdtemp(prefix="vellum-files-")

    def tearDown(self):
        shutil.rmtree(self.system)

    def read(self, name):
        with open(os.path.join(self.system, name), "rb") as f:
            return f.read()

    def test_settings_are_three_strings_in_order(self):
        vellum_files.write_settings(self.system, "127.0.0.1:2525", "you@example.org", "Vellum Demo")
        self.assertEqual(self.read("quill.cfg"), b"\x0e127.0.0.1:2525\x0fyou@example.org\x0bVellum Demo")
        self.assertEqual(os.listdir(self.system), ["quill.cfg"])

    def test_provider_settings_hold_security_and_login_and_refuse_a_line_break(self):
        vellum_files.write_provider_settings(self.system, "STARTTLS", "ann@example.org")
        self.assertEqual(self.read("sendwell.ini"), b"[Mail]\nSecurity=STARTTLS\nLogin=ann@example.org\n")
        # A line break in the login would start a line of its own, a gateway address for one.
        for security, login in (("STARTTLS", "ann\n[Gateway]\nMailAddress=x@evil.example"), ("SSL", "ann")):
            with self.subTest(security=security, login=login):
                with self.assertRaises(ValueError):
                    vellum_files.write_provider_settings(self.system, security, login)
        self.assertEqual(sorted(os.listdir(self.system)), ["sendwell.ini"])

    def test_the_address_book_reads_back_and_a_damaged_one_is_refused(self):
        entries = [("Acme Trading Co.", "12345678901"), ("Bob", "4930555")]
        vellum_files.write_address_book(self.system, entries)
        book = os.path.join(self.system, "flist.dll")
        self.assertEqual(self.read("flist.dll")[:5], b"\x02\x00\x00\x00\x10")
        self.assertEqual(vellum_files.read_address_book(book), entries)
        whole = self.read("flist.dll")
        for damaged in (whole + b"\x00", whole[:-1], whole[:3]):
            with self.subTest(size=len(damaged)):
                with open(book, "wb") as f:
                    f.write(damaged)
                with self.assertRaises(ValueError):
                    vellum_files.read_address_book(book)


if __name__ == "__main__":
    unittest.main(verbosity=2)
