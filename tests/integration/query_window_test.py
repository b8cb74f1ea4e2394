#!/usr/bin/python3
"""The Online Query as a user meets it: Sendwell on a virtual X display with no message log,
so that its answer is a real box, and the gateway's web host reached through a proxy on
loopback (libcurl honours http_proxy) that answers every question with "Bingo". The test
types a number, presses Online Query, closes the answer box with a click on its OK button,
and asks again: the second question must reach the server and get its own box.

Exits with 77 (skipped), saying why, only when Xvfb cannot start at all."""

import argparse
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import desktop  # noqa: E402

CAPTION = desktop.SENDWELL_CAPTION
DIALOG_UNITS = desktop.MAIN_DIALOG_UNITS
NUMBER = "8675512345"
# A message box with one button keeps it at its bottom right, inside the layout's margins.
OK_FROM_BOTTOM_RIGHT = (50, 24)

ARGS = None
DISPLAY = None


class CoverageProxy:
    """An HTTP proxy on loopback that answers every GET with a covered number's reply."""

    def __init__(self):
        requests = self.requests = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                requests.append(self.path)
                body = b"<html><body>Bingo</body></html>"
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    @property
    def url(self):
        return f"http://127.0.0.1:{self.server.server_port}"

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class TheAnswerBoxClosesAndTheNextQueryRuns(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="query-window-")
        os.makedirs(os.path.join(self.work, "root", "c"))
        with open(os.path.join(self.work, "root", "c", "Page.tmp"), "wb") as f:
            f.write(bytes([2]))
        self.proxy = CoverageProxy()
        self.hands = desktop.Hands(DISPLAY, self.fail)
        runtime = os.path.join(self.work, "runtime")
        os.mkdir(runtime, 0o700)
        env = desktop.program_environment(DISPLAY, VELLUM_ROOT=os.path.join(self.work, "root"),
                                          XDG_RUNTIME_DIR=runtime, http_proxy=self.proxy.url)
        for name in ("VELLUM_MESSAGE_LOG", "no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"):
            env.pop(name, None)
        self.sendwell = subprocess.Popen([ARGS.sendwell], env=env, cwd=self.work,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def tearDown(self):
        if self.sendwell.poll() is None:
            self.sendwell.kill()
        self.sendwell.wait()
        self.proxy.close()
        shutil.rmtree(self.work)

    def answer_box(self, dialog, what):
        windows = self.hands.wait_for_windows(self.sendwell.pid, CAPTION, 2, what)
        return next(w for w in windows if w != dialog)

    def close_with_a_click(self, box):
        size = self.hands.geometry(box)
        self.hands.click_at(box, size["WIDTH"] - OK_FROM_BOTTOM_RIGHT[0], size["HEIGHT"] - OK_FROM_BOTTOM_RIGHT[1])

    def test_two_queries_one_after_the_other(self):
        [dialog] = self.hands.wait_for_windows(self.sendwell.pid, CAPTION, 1, "the main dialog")
        self.hands.click_in_units(dialog, DIALOG_UNITS, desktop.FAX_NUMBER_POINT)
        self.hands.type(NUMBER)
        self.hands.click_in_units(dialog, DIALOG_UNITS, desktop.ONLINE_QUERY_POINT)
        box = self.answer_box(dialog, "the answer to the first query")
        self.close_with_a_click(box)
        self.hands.wait_for_windows(self.sendwell.pid, CAPTION, 1, "the first answer box, clicked on its OK")

        # The button is back: a second query goes out and is answered.
        self.hands.click_in_units(dialog, DIALOG_UNITS, desktop.ONLINE_QUERY_POINT)
        box = self.answer_box(dialog, "the answer to the second query")
        self.hands.key("Return")
        self.hands.wait_for_windows(self.sendwell.pid, CAPTION, 1, "the second answer box, after Return")
        query = f"http://fax.vellum-gateway.example/cgi-bin/tpcvrfy.pl?destnumber={NUMBER}"
        self.assertEqual(self.proxy.requests, [query, query])

        # Escape closes the main dialog, and with it the program.
        self.hands.key("Escape")
        self.assertEqual(self.sendwell.wait(timeout=desktop.TIMEOUT), 0)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--sendwell", required=True, help="the Sendwell program")
    ARGS, rest = parser.parse_known_args()
    ARGS.sendwell = os.path.abspath(ARGS.sendwell)
    return desktop.run_tests_on_a_display([sys.argv[0]] + rest)


if __name__ == "__main__":
    sys.exit(main())
