"""A virtual X display for ./run and the whole-program tests, and the user's hands on it:
Xvfb on a display number of its own choosing, windows found by program and caption, clicks
in dialog units, typing and keys through xdotool, and a picture of the screen for a failure
report. Sendwell's main dialog is known by its caption and layout, so that the recipient
and the fax number can be typed into it and Send pressed."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

TIMEOUT = 60
# The exit code that tells CTest a test was skipped.
SKIP_CODE = 77

# Sendwell's main dialog: its caption, its layout of 255 x 177 dialog units
# (resources/DialogTables.h), and points inside the recipient box, the fax number field
# (122, 70, 72, 13) and the Online Query button (201, 70, 48, 13).
SENDWELL_CAPTION = "Vellum Zeru 3.1"
MAIN_DIALOG_UNITS = (255, 177)
RECIPIENT_POINT = (150, 28)
FAX_NUMBER_POINT = (150, 76)
ONLINE_QUERY_POINT = (225, 76)
# What Sendwell says after a fax went out; it closes its dialog then.
SEND_SUCCESS = ("OK! The fax is sent successifully, please note your email box because their will soon be an "
                "email about it")


def start_xvfb(log):
    """Xvfb on a display number it chooses itself (-displayfd); (process, display) or
    (None, reason)."""
    if shutil.which("Xvfb") is None:
        return None, "the program Xvfb is not installed"
    read_end, write_end = os.pipe()
    try:
        server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                                   "-nolisten", "tcp"],
                                  pass_fds=(write_end,), stdout=log, stderr=log)
    finally:
        os.close(write_end)
    with os.fdopen(read_end, "rb") as reader:
        number = reader.readline().strip()  # ends when Xvfb writes its number or dies
    if not number.isdigit():
        server.kill()
        server.wait()
        return None, f"Xvfb ended without a display (exit code {server.poll()})"
    return server, ":" + number.decode()


class VirtualDisplay:
    """An Xvfb that lives as long as the object is open (use it in a with block)."""

    def __enter__(self):
        self._log = tempfile.TemporaryFile()
        self.server, self.display = start_xvfb(self._log)
        if self.server is None:
            self._log.seek(0)
            self.why_not = f"{self.display}\n{self._log.read().decode(errors='replace')}"
        return self

    def __exit__(self, *exc):
        if self.server is not None:
            self.server.terminate()
            self.server.wait()
        self._log.close()
        return False


def program_environment(display, **extra):
    """The environment of a program started on the display: no Wayland, no forced Qt
    platform, and no session bus (D-Bus autolaunched per program would steal keys)."""
    env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update(DISPLAY=display, DBUS_SESSION_BUS_ADDRESS="disabled:")
    env.update(extra)
    return env


class Hands:
    """xdotool on one display."""

    def __init__(self, display, fail):
        self.display = display
        self.fail = fail

    def xdotool(self, *args, timeout=TIMEOUT):
        result = subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=self.display),
                                capture_output=True, text=True, timeout=timeout)
        if result.returncode != 0:
            self.fail(f"xdotool {' '.join(args)}: {result.stderr}")
        return result.stdout

    def windows(self, pid, caption):
        """The visible windows of a process with exactly this caption, as X window ids."""
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid),
                                 "--name", f"^{re.escape(caption)}$"],
                                env=dict(os.environ, DISPLAY=self.display), capture_output=True, text=True,
                                timeout=TIMEOUT)
        return result.stdout.split()

    def wait_for_windows(self, pid, caption, count, what, timeout=TIMEOUT):
        """Waits until the process shows exactly `count` windows with the caption."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.windows(pid, caption)
            if len(found) == count:
                return found
            time.sleep(0.05)
        self.fail(f"{what}: {len(self.windows(pid, caption))} windows named {caption!r}, "
                  f"not {count}{self.screenshot_note()}")

    def geometry(self, window):
        values = dict(line.split("=", 1) for line in self.xdotool("getwindowgeometry", "--shell", window).split())
        return {k: int(v) for k, v in values.items() if k in ("X", "Y", "WIDTH", "HEIGHT")}

    def click_in_units(self, window, units, point):
        """A click at a point given in dialog units of a dialog laid out as `units` (width,
        height). Without a window manager the window is exactly the dialog's client area,
        so dialog units scale linearly to its pixels."""
        size = self.geometry(window)
        x = point[0] * size["WIDTH"] // units[0]
        y = point[1] * size["HEIGHT"] // units[1]
        self.xdotool("mousemove", "--window", window, str(x), str(y), "click", "1")

    def click_at(self, window, x, y):
        self.xdotool("mousemove", "--window", window, str(x), str(y), "click", "1")

    def type(self, text):
        self.xdotool("type", "--delay", "10", text)

    def type_secret(self, text):
        """Types a password: xdotool reads it from its standard input, so that it never stands
        on a command line, where any user could read it."""
        result = subprocess.run(["xdotool", "type", "--delay", "10", "--file", "-"], input=text,
                                env=dict(os.environ, DISPLAY=self.display), capture_output=True, text=True,
                                timeout=TIMEOUT)
        if result.returncode != 0:
            self.fail(f"xdotool type (a password from its input): {result.stderr}")

    def key(self, name):
        self.xdotool("key", name)

    def send_fax(self, dialog, recipient, number):
        """Types the recipient and the fax number into Sendwell's main dialog and presses Send."""
        self.click_in_units(dialog, MAIN_DIALOG_UNITS, RECIPIENT_POINT)
        self.type(recipient)
        # Leaving a name of the address book fills in its number: type over it.
        self.click_in_units(dialog, MAIN_DIALOG_UNITS, FAX_NUMBER_POINT)
        self.key("ctrl+a")
        self.type(number)
        # Enter presses the default button, Send.
        self.key("Return")

    def answer_password_question(self, pid, dialog, password):
        """Types the password into the question that Send brings up over Sendwell's main dialog
        when no keyring holds the mail password, and presses OK (Return)."""
        windows = self.wait_for_windows(pid, SENDWELL_CAPTION, 2, "the password question at Send")
        [question] = [w for w in windows if w != dialog]
        # Without a window manager the question takes the keyboard only when given it.
        self.xdotool("windowfocus", "--sync", question)
        self.type_secret(password)
        self.key("Return")

    def screenshot_note(self, name="screen-at-failure.png"):
        """Keeps a picture of the screen in the working folder, for whoever reads the failure."""
        picture = os.path.abspath(name)
        try:
            from PIL import ImageGrab
            ImageGrab.grab(xdisplay=self.display).save(picture)
        except Exception as error:  # a failure report must not fail for want of a picture
            return f" (no picture of the screen: {error})"
        return f" (screen: {picture})"


def read_messages(path):
    """What a program said through the message log (VELLUM_MESSAGE_LOG); "" before it said anything."""
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def wait_after_send(sendwell, messages, timeout):
    """Waits for Sendwell to end after Send; True when it did. Its dialog stays open after any
    message but the success, with nobody to close it, so such a message ends the wait at once
    and Sendwell is left running."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            sendwell.wait(timeout=0.1)
            return True
        except subprocess.TimeoutExpired:
            said = read_messages(messages)
            if said and SEND_SUCCESS not in said:
                return False
    return False


def run_tests_on_a_display(unittest_args):
    """Runs the calling script's unittest cases with an Xvfb of their own, whose name they find
    in the script's global DISPLAY. Returns the exit code: 0, 1, or SKIP_CODE (saying why)
    when no virtual display can start or every case that ran skipped itself."""
    with VirtualDisplay() as display:
        if display.server is None:
            print(f"SKIP: no virtual X display: {display.why_not}")
            return SKIP_CODE
        sys.modules["__main__"].DISPLAY = display.display
        program = unittest.main(module="__main__", argv=[os.path.basename(unittest_args[0])] + unittest_args[1:],
                                verbosity=2, exit=False)
    result = program.result
    if not result.wasSuccessful():
        return 1
    if result.testsRun and len(result.skipped) == result.testsRun:
        for case, reason in result.skipped:
            print(f"SKIP: {case.id()}: {reason}")
        return SKIP_CODE
    return 0
