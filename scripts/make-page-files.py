#!/usr/bin/python3
"""Renders a document with Ghostscript into the page files the fax printer leaves:
one raster per page (c/quill.N: 2200 rows of 1700 bytes, 0 white, 1 black) and the
page-count file c/Page.tmp (first byte: pages + 1), written last."""

import argparse
import os
import subprocess
import sys
import tempfile

WIDTH, HEIGHT = 1700, 2200
# Grey levels darker than the middle become black.
THRESHOLD = bytes(1 if level < 128 else 0 for level in range(256))


def render(document, first, last, folder):
    pattern = os.path.join(folder, "page%d.pgm")
    subprocess.run(
        ["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pgmraw", "-r200",
         f"-g{WIDTH}x{HEIGHT}", "-dPDFFitPage", "-dFitPage",
         f"-dFirstPage={first}", f"-dLastPage={last}", f"-sOutputFile={pattern}", document],
        check=True)
    pages = []
    n = 1
    while os.path.exists(pattern % n):
        pages.append(pattern % n)
        n += 1
    return pages


def pgm_pixels(path):
    with open(path, "rb") as f:
        data = f.read()
    # Header: P5, width, height, maxval, each after whitespace; comments start with '#'.
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pixels = data[pos + 1:]
    if fields[0] != b"P5" or int(fields[1]) != WIDTH or int(fields[2]) != HEIGHT:
        sys.exit(f"{path}: unexpected image {fields[:3]}")
    return pixels


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--root", required=True, help="the VELLUM_ROOT to fill")
    parser.add_argument("--document", required=True)
    parser.add_argument("--first", type=int, default=1)
    parser.add_argument("--last", type=int, default=3)
    args = parser.parse_args()

    drive = os.path.join(args.root, "c")
    os.makedirs(drive, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        pages = render(args.document, args.first, args.last, work)
        if not 1 <= len(pages) <= 254:
            sys.exit(f"{args.document}: {len(pages)} pages rendered")
        for number, path in enumerate(pages, start=1):
            with open(os.path.join(drive, f"quill.{number}"), "wb") as out:
                out.write(pgm_pixels(path).translate(THRESHOLD))
    count = os.path.join(drive, "Page.tmp")
    with open(count + ".new", "wb") as out:
        out.write(bytes([len(pages) + 1]))
    os.replace(count + ".new", count)
    print(len(pages))


if __name__ == "__main__":
    main()
