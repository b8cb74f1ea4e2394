#!/usr/bin/python3
"""Cancel after "Sendwell FILE" sticks with the watcher running: Pagewatch and Sendwell as real
processes on a virtual X display (Xvfb). Sendwell renders a text file into the page files
itself, the test clicks Cancel, and for 5 s Pagewatch must open no Sendwell for those pages.
A print job afterwards must open one, which shows that Pagewatch watched all along and that
the mark Sendwell left beside its own pages hides no later print job.

Exits with 77 (skipped), saying why, only when Xvfb cannot start at all."""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import desktop  # noqa: E402

CAPTION = desktop.SENDWELL_CAPTION
# The Cancel button (199, 157, 48, 13 in dialog units) of the main dialog.
CANCEL_POINT = (223, 163)
STAYS_CANCELLED = 5.0
TIMEOUT = desktop.TIMEOUT

ARGS = None
DISPLAY = None


class CancelAfterSendwellFileStaysCancelled(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="pagewatch-")
        self.root = os.path.join(self.work, "root")
        self.drive = os.path.join(self.root, "c")
        system = os.path.join(self.root, "windows", "system")
        os.makedirs(system)
        # The Sendwell that Pagewatch opens, the one beside it; the test's own runs from the build
        # under another name. Pagewatch is copied, as the Installer places it, so that its own
        # folder is the system folder.
        self.installed_sendwell = os.path.join(system, "Sendwell")
        os.symlink(os.path.join(ARGS.bin, "Sendwell"), self.installed_sendwell)
        self.installed_watcher = os.path.join(system, "Pagewatch")
        shutil.copy2(os.path.join(ARGS.bin, "Pagewatch"), self.installed_watcher)
        self.document = os.path.join(self.work, "note.txt")
        with open(self.document, "w", encoding="utf-8") as f:
            f.write("Cancel must stick.\n")
        self.messages = os.path.join(self.work, "messages.log")
        runtime = os.path.join(self.work, "runtime")
        os.mkdir(runtime, 0o700)
        self.env = desktop.program_environment(DISPLAY, VELLUM_ROOT=self.root, XDG_RUNTIME_DIR=runtime,
                                               VELLUM_MESSAGE_LOG=self.messages)
        # Without a logind session the watcher watches until it is told to stop.
        self.env.pop("XDG_SESSION_ID", None)
        self.hands = desktop.Hands(DISPLAY, self.fail)
        self.processes = []

    def tearDown(self):
        for pid in self.opened_sendwells():
            os.kill(pid, signal.SIGKILL)
        for process in self.processes:
            if process.poll() is None:
                process.terminate()
            process.wait(timeout=TIMEOUT)
        shutil.rmtree(self.work)

    def start(self, command):
        process = subprocess.Popen(command, env=self.env, cwd=self.work, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def opened_sendwells(self):
        """The Sendwells that Pagewatch started: it starts the installed one by its path."""
        pids = []
        for entry in os.listdir("/proc"):
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    if f.read().split(b"\0")[0] == self.installed_sendwell.encode():
                        pids.append(int(entry))
            except (OSError, ValueError):
                pass  # not a process, or one that has just ended
        return pids

    def wait_until(self, condition, what):
        deadline = time.monotonic() + TIMEOUT
        while not condition():
            if time.monotonic() > deadline:
                self.fail(f"{what} did not happen within {TIMEOUT} s; messages: {desktop.read_messages(self.messages)}")
            time.sleep(0.05)

    def test_cancel_after_sendwell_file(self):
        watcher = self.start([self.installed_watcher])
        lock = os.path.join(self.drive, ".pagewatch.lock")
        # The watcher notes its process id in the lock file once it watches.
        self.wait_until(lambda: os.path.exists(lock) and open(lock).read() == f"{watcher.pid}\n",
                        "Pagewatch watching")

        sendwell = self.start([os.path.join(ARGS.bin, "Sendwell"), self.document])
        [dialog] = self.hands.wait_for_windows(sendwell.pid, CAPTION, 1, "Sendwell's dialog")
        self.wait_until(lambda: os.path.exists(os.path.join(self.drive, "Page.tmp")), "the document's pages")
        # A click that comes while the rendering is ending closes nothing: Cancel is clicked until
        # Sendwell ends.
        deadline = time.monotonic() + TIMEOUT
        while sendwell.poll() is None and time.monotonic() < deadline:
            self.hands.click_in_units(dialog, desktop.MAIN_DIALOG_UNITS, CANCEL_POINT)
            try:
                sendwell.wait(timeout=0.2)
            except subprocess.TimeoutExpired:
                pass
        self.assertEqual(sendwell.poll(), 0, "Sendwell did not end with Cancel")
        self.assertEqual(desktop.read_messages(self.messages), "")

        deadline = time.monotonic() + STAYS_CANCELLED
        while time.monotonic() < deadline:
            self.assertEqual(self.opened_sendwells(), [], "Pagewatch opened Sendwell for the cancelled pages")
            self.assertIsNone(watcher.poll(), "Pagewatch ended")
            time.sleep(0.05)

        # A print job: its page count renamed into place, as the printer leaves it.
        count = os.path.join(self.drive, ".Page.tmp.print")
        with open(count, "wb") as f:
            f.write(bytes([2]))
        os.rename(count, os.path.join(self.drive, "Page.tmp"))
        self.wait_until(lambda: self.opened_sendwells(), "Sendwell opening for a print job")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="the folder of the built programs")
    ARGS, rest = parser.parse_known_args()
    ARGS.bin = os.path.abspath(ARGS.bin)
    return desktop.run_tests_on_a_display([sys.argv[0]] + rest)


if __name__ == "__main__":
    sys.exit(main())
