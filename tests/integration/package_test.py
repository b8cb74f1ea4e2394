#!/usr/bin/python3
"""The Debian package from build to removal, on this computer but where nothing lasts.

The test builds the package with scripts/build-package.sh, then runs the rest of itself in
private namespaces (unshare): a mount namespace with overlays on /usr, /etc and /var whose
upper folders lie in the test's temporary folder, tmpfs on /run and /tmp (the test's folder
carried over), a network namespace of its own (its loopback holds the scheduler's port, the
mail server and the virtual display) and a PID namespace, so that when the test ends, however it ends, every process it started
ends with it and the overlays go. Inside, as on a freshly set up computer:

- the scheduler is the system's cupsd with the stock configuration in /etc/cups, started
  after the overlays, so it sees the package's backend and PPD where the package puts them
  and listens where clients look by default (/run/cups/cups.sock, localhost:631): dpkg's
  maintainer scripts, lpstat and lp reach it with no CUPS_SERVER, as on a desktop;
- two users made for the test (useradd into the overlay's /etc, homes in the temporary
  folder) see the queue with lpstat; Ada's job before her first start fails with a message
  that tells her what to do; Ada starts Pagewatch and Bob Sendwell, which sets each up; Ada's
  next job opens Sendwell through her Pagewatch on a virtual display (Xvfb), the test types a
  recipient and presses Send, and her pages reach a mail server on loopback as a fax; Bob's
  job lands in his own root, and neither sees the other's pages;
- dpkg -i over the installed package keeps the queue and the users' settings; dpkg -r
  removes the queue and every file the package installed but its conffiles; dpkg -P those
  too, and neither touches the users' homes.

The real /usr/lib/cups/backend, /etc/cups and dpkg's status file are compared before and
after the test: nothing of it may reach them.

Exits with 77 (skipped), saying why, when not run as root, when namespaces or overlays cannot
be made here, or when the package's build dependencies are missing."""

import argparse
import glob
import hashlib
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import desktop  # noqa: E402
import loopback_mail  # noqa: E402
import vellum_files  # noqa: E402

PACKAGE = "vellum-zeru"
QUEUE = "Vellum_Zeru_3.0"
NOT_SET_UP = "This user has not set up the fax printer: open Sendwell once."
# A manual that a Debian package ships; Ada prints its first two pages, Bob its third.
DOCUMENT = sorted(glob.glob("/usr/share/doc/shared-mime-info/shared-mime-info-*.pdf"))[0]
RECIPIENT, FAX_NUMBER = "Dr Ann Smith", "0049301234567"
SENDER = "ada@example.org"
# Where an administrator says the fax printer is; a queue made anew would not know it.
LOCATION = "Room 12"
TIMEOUT = 120
BUILD_TIMEOUT = 1800
SKIP = desktop.SKIP_CODE

# What the real computer must keep exactly as it is.
GUARDED = ("/usr/lib/cups/backend", "/etc/cups", "/var/lib/dpkg/status")
OVERLAID = ("/usr", "/etc", "/var")
# Files that may differ between the file lists before the install and after the removal, and
# why. What the scheduler keeps of the queue itself (/etc/cups/ppd/QUEUE.ppd, its strings in
# /var/cache/cups) is never among them: removing the package removes that too.
STATE_FILES = {
    "/var/lib/dpkg/": "dpkg's database: its record of the package, kept after removal until purge, and backups",
    "/var/log/cups/": "the scheduler's logs",
    "/var/log/dpkg.log": "dpkg's log",
    "/var/log/alternatives.log": "the log of update-alternatives, which dpkg's triggers may run",
    "/etc/cups/printers.conf": "the scheduler's queues and their backup (.O), rewritten when a queue comes or goes",
    "/etc/cups/subscriptions.conf": "the scheduler's subscriptions, rewritten with the queues",
    "/etc/cups/classes.conf": "the scheduler's classes, rewritten with the queues",
    "/var/cache/cups/": "the scheduler's caches: job list, PPD list, remote printers",
}

ARGS = None
DISPLAY = None


def run(command, timeout=TIMEOUT, **kwargs):
    """Runs a program to its end; (exit code, output and errors together)."""
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=timeout,
                            **kwargs)
    return result.returncode, result.stdout


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def wait_until(condition, what, fail, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            fail(f"{what} did not happen within {timeout} s")
        time.sleep(0.05)


# ---- outside the namespaces -------------------------------------------------------------


def fingerprint(paths):
    """Every entry under the paths with its type, mode, owner and content digest."""
    seen = {}

    def note(path):
        st = os.lstat(path)
        digest = ""
        if os.path.islink(path):
            digest = os.readlink(path)
        elif os.path.isfile(path):
            with open(path, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
        seen[path] = (st.st_mode, st.st_uid, st.st_gid, digest)

    for top in paths:
        if not os.path.lexists(top):
            continue
        note(top)
        for folder, folders, files in os.walk(top):
            for name in folders + files:
                note(os.path.join(folder, name))
    return seen


def why_namespaces_fail(work):
    """None when this computer lets root make the namespaces and an overlay on a folder of the
    temporary folder; else why not."""
    probe = os.path.join(work, "probe")
    for name in ("lower", "upper", "work", "merged"):
        os.makedirs(os.path.join(probe, name))
    options = f"lowerdir={probe}/lower,upperdir={probe}/upper,workdir={probe}/work"
    code, output = run(["unshare", "--mount", "--propagation", "private", "--pid", "--net", "--fork", "--mount-proc",
                        "mount", "-t", "overlay", "overlay", "-o", options, f"{probe}/merged"])
    shutil.rmtree(probe)
    return None if code == 0 else f"cannot make a mount namespace with an overlay here: {output.strip()}"


def build_package(out):
    """The built .deb, or (None, why) when this computer lacks what building it needs."""
    missing = [tool for tool in ("dpkg-buildpackage", "fakeroot", "lintian") if shutil.which(tool) is None]
    code, output = run(["dpkg-checkbuilddeps"], cwd=ARGS.source)
    if missing or code != 0:
        return None, f"the package cannot be built here: {' '.join(missing)} {output.strip()}"
    # In a process group of its own, so that a test stopped while it builds stops the whole build.
    build = subprocess.Popen([os.path.join(ARGS.source, "scripts", "build-package.sh"), out], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, start_new_session=True)
    try:
        output, _ = build.communicate(timeout=BUILD_TIMEOUT)
    finally:
        if build.poll() is None:
            os.killpg(build.pid, signal.SIGKILL)
            build.wait()
    code = build.returncode
    debs = glob.glob(os.path.join(out, f"{PACKAGE}_*.deb"))
    if code != 0 or len(debs) != 1:
        print(output)
        raise SystemExit(f"FAIL: scripts/build-package.sh exited with {code} and made {debs}")
    return debs[0], None


def outside():
    if os.geteuid() != 0:
        print("SKIP: the package test installs into overlays of the system's folders, which needs root")
        return SKIP
    work = tempfile.mkdtemp(prefix="vellum-package-")
    # The users made for the test pass through it to their homes.
    os.chmod(work, 0o711)
    inside = None

    def on_sigterm(signum, frame):
        # An exception, unlike the default end, stops the build and the namespaces (below).
        raise SystemExit(f"FAIL: ended by signal {signum}")

    signal.signal(signal.SIGTERM, on_sigterm)
    try:
        why = why_namespaces_fail(work)
        if why:
            print(f"SKIP: {why}")
            return SKIP
        started = time.monotonic()
        deb, why = build_package(os.path.join(work, "deb"))
        if why:
            print(f"SKIP: {why}")
            return SKIP
        print(f"built {os.path.basename(deb)} in {time.monotonic() - started:.0f} s", flush=True)
        before = fingerprint(GUARDED)
        # --kill-child: should this test be killed, the namespaces' first process is killed
        # too, and with it every process in them.
        inside = subprocess.Popen(["unshare", "--mount", "--propagation", "private", "--pid", "--net", "--fork",
                                   "--mount-proc", "--kill-child", sys.executable, os.path.abspath(__file__),
                                   "--source", ARGS.source, "--inside", deb, "--work", work] + ARGS.rest)
        code = inside.wait(timeout=BUILD_TIMEOUT)
        after = fingerprint(GUARDED)
        changed = sorted(path for path in set(before) | set(after) if before.get(path) != after.get(path))
        if changed:
            print(f"FAIL: the test changed the real system: {changed}")
            return 1
        return code
    finally:
        if inside is not None and inside.poll() is None:
            inside.kill()
            inside.wait()
        shutil.rmtree(work, ignore_errors=True)


# ---- inside the namespaces --------------------------------------------------------------


def mount(*args):
    subprocess.run(["mount", *args], check=True, timeout=TIMEOUT)


def private_system(carried):
    """Overlays on the system's folders, a private /run, /tmp and loopback. The folders carried
    (the test's own, and the sources where they lie in /tmp) stay where they are: they are
    carried over into the private /tmp. The first is the test's folder."""
    work = carried[0]
    for top in OVERLAID:
        layer = os.path.join(work, "overlay", top.strip("/"))
        os.makedirs(f"{layer}/upper")
        os.makedirs(f"{layer}/work")
        mount("-t", "overlay", "overlay", "-o", f"lowerdir={top},upperdir={layer}/upper,workdir={layer}/work", top)
    # No socket of the real computer's scheduler or session bus can be reached from here.
    mount("-t", "tmpfs", "-o", "mode=0755", "tmpfs", "/run")
    os.makedirs("/run/cups")
    # Nor can the virtual display's socket and lock file reach the real /tmp, where another
    # display's lock, whose process this PID namespace cannot see, would look stale.
    aside = [f"/run/carried/{n}" for n in range(len(carried))]
    for folder, place in zip(carried, aside):
        os.makedirs(place)
        mount("--bind", folder, place)
    mount("-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/tmp")
    for folder, place in zip(carried, aside):
        os.makedirs(folder, 0o711, exist_ok=True)
        mount("--move", place, folder)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True, timeout=TIMEOUT)
    # The manual pages' index is rebuilt on a trigger; without this mark man-db skips that,
    # which takes longer than the rest of the install.
    if os.path.exists("/var/lib/man-db/auto-update"):
        os.remove("/var/lib/man-db/auto-update")


def start_scheduler():
    """The system's cupsd with the configuration in /etc/cups, as the overlays have it."""
    cupsd = subprocess.Popen(["/usr/sbin/cupsd", "-f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + TIMEOUT
    while run(["lpstat", "-r"])[1].strip() != "scheduler is running":
        if cupsd.poll() is not None or time.monotonic() > deadline:
            raise RuntimeError(f"cupsd did not start{scheduler_log()}")
        time.sleep(0.05)
    return cupsd


def scheduler_log():
    try:
        with open("/var/log/cups/error_log", encoding="utf-8", errors="replace") as f:
            return "\nThe scheduler's log:\n" + f.read()[-4000:]
    except FileNotFoundError:
        return " (the scheduler has written no log)"


def file_list():
    paths = set()
    for top in OVERLAID:
        for folder, folders, files in os.walk(top):
            paths.update(os.path.join(folder, name) for name in folders + files)
    return paths


def unexplained(paths, allowed=()):
    """The paths that neither are among the allowed ones nor are the scheduler's or dpkg's state."""
    return sorted(p for p in paths
                  if QUEUE in p or (p not in allowed and not any(p.startswith(s) for s in STATE_FILES)))


class User:
    """A user made for the test, with a home in the test's folder."""

    def __init__(self, work, name):
        self.name = f"vzpkg{name}"
        self.home = os.path.join(work, "home", self.name)
        os.makedirs(os.path.dirname(self.home), mode=0o755, exist_ok=True)
        subprocess.run(["useradd", "--home-dir", self.home, "--create-home", "--user-group", "--shell", "/bin/sh",
                        self.name], check=True, timeout=TIMEOUT)
        self.root = os.path.join(self.home, ".local", "share", "vellum")
        self.drive = os.path.join(self.root, "c")
        self.system = os.path.join(self.root, "windows", "system")
        self.registration = os.path.join(self.home, ".config", "vellum", "fax-printer")
        self.messages = os.path.join(self.home, "messages.log")
        runtime = os.path.join(self.home, "runtime")
        os.mkdir(runtime, 0o700)
        shutil.chown(runtime, self.name, self.name)
        self.env = {"HOME": self.home, "USER": self.name, "LOGNAME": self.name, "PATH": "/usr/local/bin:/usr/bin:/bin",
                    "XDG_RUNTIME_DIR": runtime, "DISPLAY": DISPLAY, "DBUS_SESSION_BUS_ADDRESS": "disabled:",
                    "VELLUM_MESSAGE_LOG": self.messages}

    def command(self, args, **env):
        values = [f"{k}={v}" for k, v in dict(self.env, **env).items()]
        return ["runuser", "-u", self.name, "--", "env", "-i", *values, *args]

    def run(self, args):
        return run(self.command(args), cwd=self.home)

    def start(self, args, **env):
        return subprocess.Popen(self.command(args, **env), cwd=self.home, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def own(self, path):
        shutil.chown(path, self.name, self.name)


class PackageOnThisComputer(unittest.TestCase):
    def setUp(self):
        self.work = ARGS.work
        self.hands = desktop.Hands(DISPLAY, self.fail)
        self.cupsd = start_scheduler()
        self.ada = User(self.work, "ada")
        self.bob = User(self.work, "bob")

    def tearDown(self):
        # Whatever is left running ends with the PID namespace.
        stop(self.cupsd)

    def dpkg(self, *args):
        code, output = run(["dpkg", *args], env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        self.assertEqual(code, 0, f"dpkg {' '.join(args)}:\n{output}")
        return output

    def queue_seen_by(self, user):
        code, output = user.run(["lpstat", "-v", QUEUE])
        return code == 0 and f"device for {QUEUE}:" in output

    def print_pages(self, user, pages):
        """Prints the pages of the document as the user; the job's end state and message."""
        code, output = user.run(["lp", "-d", QUEUE, "-P", pages, DOCUMENT])
        match = re.search(rf"request id is {re.escape(QUEUE)}-(\d+) ", output)
        self.assertTrue(code == 0 and match, output)
        # The user asks over the scheduler's socket, where the scheduler knows them, so the
        # job's private values are theirs to read.
        uri = f"ipp://%2Frun%2Fcups%2Fcups.sock/jobs/{match.group(1)}"
        state = {}

        def ended():
            code, state["output"] = user.run(["ipptool", "-tv", uri, "/usr/share/cups/ipptool/get-job-attributes.test"])
            state.update(re.findall(r"^\s*(job-state|job-printer-state-message) \(\w+\) = (.*)$", state["output"],
                                    re.M))
            return state.get("job-state") in ("canceled", "aborted", "completed")

        wait_until(ended, f"the end of {user.name}'s job {match.group(1)}",
                   lambda why: self.fail(f"{why}: {state['output']}{scheduler_log()}"))
        return state["job-state"], state.get("job-printer-state-message", "")

    def first_start(self, user, program, **env):
        process = user.start([f"/usr/bin/{program}"], **env)
        self.addCleanup(stop, process)
        wait_until(lambda: os.path.exists(user.registration), f"{user.name}'s first start of {program}", self.fail)
        return process

    def sendwells(self):
        """The running packaged Sendwells."""
        pids = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                if os.readlink(f"/proc/{pid}/exe") == f"/usr/lib/{PACKAGE}/Sendwell":
                    pids.append(int(pid))
            except OSError:
                pass  # a process that has just ended, or a kernel thread
        return pids

    def send_adas_fax(self, pages):
        """Sendwell, opened by Ada's Pagewatch, sends her pages through a mail server on loopback."""
        mail = os.path.join(self.work, "mail")
        server = subprocess.Popen([sys.executable, os.path.join(ARGS.source, "scripts", "mail-drop.py"), "--folder",
                                   mail, "--messages", "1", "--timeout", str(TIMEOUT)], stdout=subprocess.PIPE,
                                  text=True)
        self.addCleanup(server.stdout.close)
        self.addCleanup(server.kill)
        line = server.stdout.readline()
        self.assertTrue(line.startswith("PORT "), f"the mail server said {line!r}")
        port = line.split()[1]
        vellum_files.write_settings(self.ada.system, f"127.0.0.1:{port}", SENDER, "Ada")
        vellum_files.write_provider_settings(self.ada.system, "None")
        for name in (vellum_files.SETTINGS_FILE, vellum_files.PROVIDER_SETTINGS_FILE):
            self.ada.own(os.path.join(self.ada.system, name))

        self.assertEqual(self.print_pages(self.ada, pages), ("completed", ""))
        wait_until(lambda: self.sendwells(), "Sendwell opening on Ada's pages", self.fail)
        [pid] = self.sendwells()
        [dialog] = self.hands.wait_for_windows(pid, desktop.SENDWELL_CAPTION, 1, "Sendwell's dialog")
        self.hands.send_fax(dialog, RECIPIENT, FAX_NUMBER)
        self.assertEqual(server.wait(timeout=TIMEOUT), 0, desktop.read_messages(self.ada.messages))
        wait_until(lambda: not self.sendwells(), "Sendwell ending after the send", self.fail)
        self.assertIn(desktop.SEND_SUCCESS, desktop.read_messages(self.ada.messages))
        with open(os.path.join(mail, "message-1.eml"), "rb") as f:
            message, problems = loopback_mail.parse_strictly(f.read())
        self.assertEqual(problems, [])
        return [p.get_filename() for p in message.walk() if p.get_content_disposition() == "attachment"]

    def pages_of(self, user):
        """The user's page files and who owns them."""
        return {name: os.stat(os.path.join(user.drive, name)).st_uid for name in os.listdir(user.drive)
                if name.startswith("quill")}

    def settings_of(self, users):
        found = {}
        for user in users:
            for path in (user.registration, *filter(os.path.isfile, glob.glob(os.path.join(user.system, "*")))):
                with open(path, "rb") as f:
                    found[path] = f.read()
        return found

    def test_install_print_send_reinstall_remove(self):
        before = file_list()
        said = self.dpkg("-i", ARGS.inside)
        installed = self.dpkg("-L", PACKAGE).split("\n")
        conffiles = [line.split()[0] for line in self.dpkg("-s", PACKAGE).split("\n") if line.startswith(" /")]
        self.assertTrue(self.queue_seen_by(self.ada), f"lpstat does not show the queue to a user; dpkg said:\n{said}")

        state, message = self.print_pages(self.ada, "1")
        self.assertEqual(state, "aborted")
        self.assertIn(NOT_SET_UP, message)
        self.assertFalse(os.path.exists(self.ada.root), "a job of a user who has not set up wrote into a root")

        self.first_start(self.ada, "Pagewatch")
        wait_until(lambda: os.path.exists(os.path.join(self.ada.drive, ".pagewatch.lock")), "Pagewatch watching",
                   self.fail)
        stop(self.first_start(self.bob, "Sendwell", QT_QPA_PLATFORM="offscreen"))

        self.assertEqual(self.send_adas_fax("1-2"), ["quill1.tif", "quill2.tif"])
        self.assertEqual(self.print_pages(self.bob, "3"), ("completed", ""))
        ada, bob = (pwd.getpwnam(u.name).pw_uid for u in (self.ada, self.bob))
        self.assertEqual(self.pages_of(self.ada), {"quill1.tif": ada, "quill2.tif": ada})
        self.assertEqual(self.pages_of(self.bob), {"quill.1": bob})

        self.assertNotEqual(self.bob.run(["ls", self.ada.drive])[0], 0, "Bob can list Ada's pages")

        # An upgrade to the same version: the queue, with what an administrator set on it, and
        # every user's files stay.
        self.assertEqual(run(["lpadmin", "-p", QUEUE, "-L", LOCATION])[0], 0)
        vellum_files.write_provider_settings(self.ada.system, "TLS", "ada-login")
        settings = self.settings_of([self.ada, self.bob])
        self.dpkg("-i", ARGS.inside)
        self.assertIn(f"Location: {LOCATION}", self.bob.run(["lpstat", "-l", "-p", QUEUE])[1],
                      "reinstalling made the queue anew")
        self.assertEqual(self.settings_of([self.ada, self.bob]), settings)

        self.dpkg("-r", PACKAGE)
        self.assertFalse(self.queue_seen_by(self.ada), "removing the package left the queue")
        after = file_list()
        self.assertEqual(unexplained(after - before, allowed=conffiles), [], "left after dpkg -r")
        self.assertEqual(unexplained(before - after), [], "gone after dpkg -r")
        self.assertTrue(set(installed) - before, "the package installed nothing")
        self.dpkg("-P", PACKAGE)
        after = file_list()
        self.assertEqual(unexplained(after - before), [], "left after dpkg -P")
        self.assertEqual(self.settings_of([self.ada, self.bob]), settings, "purging touched a user's files")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True, help="the source tree, which holds scripts/build-package.sh")
    parser.add_argument("--inside", help="(run by the test itself) the package, inside the namespaces")
    parser.add_argument("--work", help="(run by the test itself) the test's temporary folder")
    ARGS, ARGS.rest = parser.parse_known_args()
    ARGS.source = os.path.abspath(ARGS.source)
    if ARGS.inside:
        private_system([ARGS.work] + [ARGS.source] * ARGS.source.startswith("/tmp/"))
        return desktop.run_tests_on_a_display([sys.argv[0]] + ARGS.rest)
    return outside()


if __name__ == "__main__":
    sys.exit(main())
