#!/usr/bin/python3
"""Pagemill as a process in a temporary VELLUM_ROOT: every fax page it writes must
decode with libtiff, without a warning, to exactly its raster widened to 1728 white-
padded columns; and the files it creates, deletes and leaves, its messages and its exit
code must be as the user and the sender expect."""

import argparse
import ctypes
import glob
import os
import re
import struct
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import unittest

from PIL import Image, ImageChops

WIDTH, HEIGHT, FAX_WIDTH = 1700, 2200, 1728
RASTER_BYTES = WIDTH * HEIGHT
CAPTION = "警告"
NO_PAGES = "该程序不能单独运行，只能与Quill科技--Vellum打印机共同使用"
OUT_OF_MEMORY = "内存不够，请关闭其它应用程序"
# A multi-page manual that a Debian package ships.
DOCUMENT = glob.glob("/usr/share/doc/shared-mime-info/shared-mime-info-*.pdf")[0]
ARGS = None


def rows(make_row):
    return b"".join(make_row(y) for y in range(HEIGHT))


def noise(rnd):
    """Random pixels, black ones with any nonzero value."""
    return rnd.randbytes(RASTER_BYTES).translate(bytes(v if v % 2 else 0 for v in range(256)))


def worst_cases():
    rnd = random.Random(42)
    stripes = bytes(x % 2 for x in range(WIDTH))
    checker = [bytes((x + y) % 2 for x in range(WIDTH)) for y in range(2)]
    runs_63 = (bytes([1]) * 63 + bytes(63)) * 14  # 1764 bytes, cut to width below
    runs_64 = (bytes([255]) * 64 + bytes(64)) * 14
    return {
        "vertical one-pixel stripes": stripes * HEIGHT,
        "horizontal one-pixel stripes": rows(lambda y: bytes([y % 2]) * WIDTH),
        "checkerboard": rows(lambda y: checker[y % 2]),
        "noise": noise(rnd),
        "all black": bytes([1]) * RASTER_BYTES,
        "runs of 63": rows(lambda y: runs_63[y % 63:y % 63 + WIDTH]),
        "runs of 64": rows(lambda y: runs_64[y % 64:y % 64 + WIDTH]),
        "all white (a run of 1728)": bytes(RASTER_BYTES),
        "black runs of every length": rows(lambda y: (bytes([7]) * (y % (WIDTH + 1)) + bytes(WIDTH))[:WIDTH]),
    }


def expected_image(raster):
    """The page as libtiff should decode it: black where the raster is nonzero."""
    page = Image.frombytes("L", (WIDTH, HEIGHT), raster[:RASTER_BYTES])
    page = page.point(lambda v: 255 if v == 0 else 0)
    fax = Image.new("L", (FAX_WIDTH, HEIGHT), 255)
    fax.paste(page, (0, 0))
    return fax


def tiff_page_fields(path):
    with open(path, "rb") as f:
        head = f.read(214)
    return int.from_bytes(head[210:212], "little"), int.from_bytes(head[212:214], "little")


class PagemillCase(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="pagemill-")
        self.drive = os.path.join(self.root, "c")
        os.makedirs(self.drive)
        self.log = os.path.join(self.root, "messages.log")

    def tearDown(self):
        shutil.rmtree(self.root)

    def path(self, name):
        return os.path.join(self.drive, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def listing(self):
        """Every file with its bytes; a FIFO is named, never opened, so the test cannot wait on it."""
        return {name: self.read(name) if os.path.isfile(self.path(name)) else "not a file"
                for name in sorted(os.listdir(self.drive))}

    def run_pagemill(self, log=True, limit_memory=None, timeout=120):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["VELLUM_ROOT"] = self.root
        if log:
            env["VELLUM_MESSAGE_LOG"] = self.log
        else:
            env.pop("VELLUM_MESSAGE_LOG", None)

        def limit():
            if limit_memory:
                resource.setrlimit(resource.RLIMIT_AS, (limit_memory, limit_memory))

        result = subprocess.run([ARGS.pagemill], env=env, capture_output=True, timeout=timeout, preexec_fn=limit)
        return result

    def least_address_space(self):
        """About the least address space in which Pagemill starts, reads Page.tmp and finds
        nothing to do (to 64 KiB); the page files are as they were afterwards."""
        count = self.read("Page.tmp") if os.path.exists(self.path("Page.tmp")) else None
        self.write("Page.tmp", bytes([0]))
        low, high = 1 << 20, 64 << 20
        while high - low > 64 << 10:
            middle = (low + high) // 2
            if self.run_pagemill(limit_memory=middle).returncode == 0:
                high = middle
            else:
                low = middle
        if count is None:
            os.remove(self.path("Page.tmp"))
        else:
            self.write("Page.tmp", count)
        return high

    def messages(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            return f.read().splitlines()

    def assert_decodes_to(self, tif, raster, page_index, page_total):
        # libtiff must read the file without a word of complaint...
        out = os.path.join(self.root, "decoded.tif")
        result = subprocess.run(["tiffcp", "-c", "none", tif, out], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "", f"libtiff warned about {tif}")
        # ...and find exactly the raster's pixels in it.
        with Image.open(tif) as image:
            self.assertEqual(image.size, (FAX_WIDTH, HEIGHT))
            self.assertEqual(image.info.get("compression"), "group3")
            self.assertEqual(tuple(round(float(v)) for v in image.info["dpi"]), (204, 196))
            decoded = image.convert("L")
        diff = ImageChops.difference(decoded, expected_image(raster)).getbbox()
        self.assertIsNone(diff, f"{tif} differs from its raster in the box {diff}")
        self.assertEqual(tiff_page_fields(tif), (page_index, page_total))


class ConvertsRealAndWorstCasePages(PagemillCase):
    def test_a_real_document_rendered_by_ghostscript(self):
        subprocess.run([sys.executable, ARGS.render, "--root", self.root, "--document", DOCUMENT,
                        "--first", "1", "--last", "4"], check=True, capture_output=True)
        rasters = [self.read(f"quill.{n}") for n in range(1, 5)]
        self.assertTrue(all(any(r) for r in rasters), "the document rendered blank pages")
        count_before = self.read("Page.tmp")

        result = self.run_pagemill()

        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(self.drive)),
                         ["Page.tmp", "quill1.tif", "quill2.tif", "quill3.tif", "quill4.tif"])
        self.assertEqual(self.read("Page.tmp"), count_before)
        for n, raster in enumerate(rasters, start=1):
            self.assert_decodes_to(self.path(f"quill{n}.tif"), raster, n - 1, 4)
        self.assertEqual(self.messages(), [])

    def test_worst_cases_decode_pixel_for_pixel(self):
        cases = worst_cases()
        for n, raster in enumerate(cases.values(), start=1):
            self.write(f"quill.{n}", raster)
        self.write("Page.tmp", bytes([len(cases) + 1]))

        result = self.run_pagemill()

        self.assertEqual(result.returncode, 0, result.stderr)
        for n, (name, raster) in enumerate(cases.items(), start=1):
            with self.subTest(name):
                self.assert_decodes_to(self.path(f"quill{n}.tif"), raster, n - 1, len(cases))
                self.assertFalse(os.path.exists(self.path(f"quill.{n}")))

    def test_a_long_raster_converts_as_its_first_page_and_old_pages_are_replaced(self):
        raster = bytes([0, 1, 255, 0, 0]) * (RASTER_BYTES // 5)
        self.write("quill.1", raster + bytes([1]) * 5000)
        self.write("quill1.tif", b"an older, much longer fax page" * 100000)
        self.write("Page.tmp", bytes([2]) + b"anything after the first byte is ignored")

        result = self.run_pagemill()

        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_decodes_to(self.path("quill1.tif"), raster, 0, 1)
        self.assertEqual(self.read("Page.tmp")[:1], bytes([2]))


    @unittest.skipIf(os.environ.get("VELLUM_SANITIZED") == "1", "the sanitizers need more address space")
    def test_a_raster_that_cannot_be_mapped_is_read_instead(self):
        # 1 MiB more than Pagemill needs to start has no room for mapping a 3.7 MB raster,
        # but room for reading it band by band and coding a page of short runs.
        raster = worst_cases()["black runs of every length"]
        self.write("quill.1", raster)
        self.write("Page.tmp", bytes([2]))

        result = self.run_pagemill(limit_memory=self.least_address_space() + (1 << 20))

        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.messages(), [])
        self.assert_decodes_to(self.path("quill1.tif"), raster, 0, 1)


class Inotify:
    """The names created, renamed and deleted in one folder, in the order they happened."""
    IN_MOVED_FROM, IN_MOVED_TO, IN_CREATE, IN_DELETE = 0x40, 0x80, 0x100, 0x200
    NAMES = {IN_MOVED_FROM: "moved from", IN_MOVED_TO: "moved to", IN_CREATE: "created", IN_DELETE: "deleted"}

    def __init__(self, folder):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0 or self.libc.inotify_add_watch(self.fd, folder.encode(), sum(self.NAMES)) < 0:
            raise OSError(ctypes.get_errno(), "inotify")

    def events(self):
        data = b""
        while True:
            try:
                chunk = os.read(self.fd, 65536)
            except BlockingIOError:
                break
            data += chunk
        os.close(self.fd)
        events, pos = [], 0
        while pos < len(data):
            _, mask, _, length = struct.unpack_from("iIII", data, pos)
            name = data[pos + 16:pos + 16 + length].rstrip(b"\0").decode()
            events.append((self.NAMES[mask & sum(self.NAMES)], name))
            pos += 16 + length
        return events


class KeepsTheOrderThatMakesACrashSafe(PagemillCase):
    def test_each_page_appears_whole_under_its_name_before_its_raster_goes(self):
        # However the work is shared out, page after page the fax page is begun beside its name,
        # renamed into place, and only then is its raster removed; nothing else changes.
        pages = 6
        for n in range(1, pages + 1):
            self.write(f"quill.{n}", noise(random.Random(n)) if n % 2 else bytes(RASTER_BYTES))
        self.write("Page.tmp", bytes([pages + 1]))
        watch = Inotify(self.drive)

        result = self.run_pagemill()

        self.assertEqual(result.returncode, 0, result.stderr)
        events = [(what, re.sub(r"\.tif\..*$", ".tif.tmp", name)) for what, name in watch.events()]
        expected = []
        for n in range(1, pages + 1):
            expected += [("created", f".quill{n}.tif.tmp"), ("moved from", f".quill{n}.tif.tmp"),
                         ("moved to", f"quill{n}.tif"), ("deleted", f"quill.{n}")]
        self.assertEqual(events, expected)


class SyncsEachPageBeforeItsRasterGoes(PagemillCase):
    """A machine that stops at any moment keeps each page, as its raster or as a synced fax page."""

    def run_traced(self, pages, *strace_args):
        if shutil.which("strace") is None:
            self.skipTest("strace is not installed")
        probe = subprocess.run(["strace", "-qq", "-o", os.devnull, "true"], capture_output=True, text=True)
        if probe.returncode != 0:
            self.skipTest(f"strace cannot trace here: {probe.stderr.strip()}")
        for n in range(1, pages + 1):
            self.write(f"quill.{n}", noise(random.Random(n)))
        self.write("Page.tmp", bytes([pages + 1]))
        env = dict(os.environ, VELLUM_ROOT=self.root, VELLUM_MESSAGE_LOG=self.log)
        # The leak checker cannot work under a tracer and would abort the sanitized Pagemill at exit.
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS", ""), "detect_leaks=0"]))
        return subprocess.run(["strace", "-f", "-qq", "-y", "-e", "trace=fsync,fdatasync,syncfs,unlink,unlinkat,"
                               "rename,renameat,renameat2", *strace_args, ARGS.pagemill],
                              env=env, capture_output=True, text=True, timeout=120)

    def test_the_fax_page_and_its_name_are_synced_before_the_raster_goes(self):
        trace = os.path.join(self.root, "trace")
        self.assertEqual(self.run_traced(3, "-o", trace).returncode, 0)
        events = []
        with open(trace) as f:
            for name, args in re.findall(r"^\d+\s+(\w+)\((.*)\)\s+= 0$", f.read(), re.MULTILINE):
                if "sync" in name:  # -y names the descriptor's file: the folder or the page beside its name
                    path = re.match(r"\d+<(.*)>", args).group(1)
                    synced = re.sub(r"^\.|\.\w+$", "", os.path.basename(path))
                    events.append(("sync", "the folder" if path == self.drive else synced))
                else:
                    events.append((re.sub(r"at2?$", "", name), os.path.basename(re.findall(r'"(.*?)"', args)[-1])))
        expected = [event for n in (1, 2, 3) for event in (("sync", f"quill{n}.tif"), ("rename", f"quill{n}.tif"),
                                                           ("sync", "the folder"), ("unlink", f"quill.{n}"))]
        self.assertEqual(events, expected)

    def test_a_failed_sync_keeps_the_raster_and_says_why(self):
        for call in ("fdatasync", "fsync"):  # the fax page's, the folder's
            with self.subTest(call):
                result = self.run_traced(2, "-o", os.devnull, "-e", f"inject={call}:error=EIO:when=1")
                self.assertEqual(result.returncode, 1)
                self.assertRegex(result.stderr, r"Pagemill: page 1: sync .*: Input/output error")
                self.assertEqual(sorted(os.listdir(self.drive)), ["Page.tmp", "quill.1", "quill.2"])
                self.assertEqual(self.read("quill.1"), noise(random.Random(1)))


class LeavesTheRightFiles(PagemillCase):
    def test_nothing_to_do_leaves_everything_alone(self):
        self.write("quill.1", bytes(RASTER_BYTES))
        for count in (None, b"", bytes([0]), "a pipe"):
            with self.subTest(count=count):
                if count == "a pipe":
                    # Nobody will ever write into it: Pagemill must not wait for a writer.
                    os.remove(self.path("Page.tmp"))
                    os.mkfifo(self.path("Page.tmp"))
                elif count is not None:
                    self.write("Page.tmp", count)
                before = self.listing()
                result = self.run_pagemill(timeout=10)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(self.listing(), before)
                self.assertEqual(self.messages(), [])

    def test_no_pages_tells_the_user_and_touches_nothing(self):
        self.write("Page.tmp", bytes([1]))
        self.write("quill.1", bytes(RASTER_BYTES))
        before = self.listing()

        result = self.run_pagemill()

        self.assertEqual(result.returncode, 0)
        self.assertEqual(self.messages(), [f"{CAPTION}\t{NO_PAGES}"])
        self.assertEqual(self.listing(), before)

    def test_without_a_desktop_the_message_goes_to_standard_error(self):
        self.write("Page.tmp", bytes([1]))
        result = self.run_pagemill(log=False)
        self.assertEqual(result.stderr.decode("utf-8"), f"{CAPTION}: {NO_PAGES}\n")

    def test_a_missing_or_short_raster_stops_the_run_without_a_page_file(self):
        for broken in ("missing", "short", "a folder", "a pipe"):
            with self.subTest(broken):
                shutil.rmtree(self.drive)
                os.makedirs(self.drive)
                page1, page3 = bytes([1]) * RASTER_BYTES, bytes(RASTER_BYTES)
                self.write("quill.1", page1)
                if broken == "short":
                    self.write("quill.2", bytes([1]) * (RASTER_BYTES - 1))
                elif broken == "a folder":
                    os.makedirs(self.path("quill.2"))
                elif broken == "a pipe":
                    os.mkfifo(self.path("quill.2"))  # with no writer, ever
                self.write("quill.3", page3)
                self.write("quill2.tif", b"a page of an older fax")
                self.write("Page.tmp", bytes([4]))

                result = self.run_pagemill(timeout=10)

                self.assertEqual(result.returncode, 1)
                self.assertIn(b"page 2", result.stderr)
                self.assertEqual(self.messages(), [])
                self.assert_decodes_to(self.path("quill1.tif"), page1, 0, 3)
                names = sorted(os.listdir(self.drive))
                expected = ["Page.tmp", "quill.3", "quill1.tif"]
                if broken != "missing":
                    expected.insert(1, "quill.2")
                self.assertEqual(names, expected)
                self.assertEqual(self.read("quill.3"), page3)
                if broken == "short":
                    self.assertEqual(len(self.read("quill.2")), RASTER_BYTES - 1)

    def test_a_page_file_that_cannot_be_written_stops_the_run_and_keeps_the_raster(self):
        self.write("quill.1", bytes([1]) * RASTER_BYTES)
        os.makedirs(self.path("quill1.tif/in the way"))  # a folder the page cannot replace
        self.write("Page.tmp", bytes([2]))

        result = self.run_pagemill()

        self.assertEqual(result.returncode, 1)
        self.assertEqual(len(self.read("quill.1")), RASTER_BYTES)
        self.assertEqual(sorted(n for n in os.listdir(self.drive) if n.startswith(".")), [])

    @unittest.skipIf(os.environ.get("VELLUM_SANITIZED") == "1", "the sanitizers need more address space")
    def test_out_of_memory_tells_the_user_and_stops(self):
        # The least address space in which Pagemill starts and finds nothing to do is too
        # little to code a page of noise, whose coded form alone is about 1 MB.
        self.write("quill.1", noise(random.Random(1)))
        self.write("Page.tmp", bytes([2]))

        result = self.run_pagemill(limit_memory=self.least_address_space() + (256 << 10))

        self.assertEqual(result.returncode, 1)
        self.assertEqual(self.messages(), [f"{CAPTION}\t{OUT_OF_MEMORY}"])
        self.assertEqual(sorted(os.listdir(self.drive)), ["Page.tmp", "quill.1"])


class StartsLikeAPlainProgram(unittest.TestCase):
    def test_pagemill_links_no_gui_library(self):
        result = subprocess.run(["ldd", ARGS.pagemill], capture_output=True, text=True, check=True)
        self.assertNotIn("Qt", result.stdout)
        self.assertTrue(os.path.exists(os.path.join(os.path.dirname(ARGS.pagemill), "libvellum_msgbox.so")))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--pagemill", required=True)
    parser.add_argument("--render", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
