#!/usr/bin/python3
"""Takes the fax pages out of a fax mail as the mail server stored it: every image/tiff
attachment, in the order of the message, becomes FOLDER/fax-page-N.tif.

    fax-mail-pages.py MESSAGE.eml FOLDER

Prints who the mail went to, its subject and one line per page file written. Exits 1
when the message does not parse or carries no fax page."""

import email.parser
import email.policy
import os
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    path, folder = sys.argv[1:]
    with open(path, "rb") as f:
        try:
            message = email.parser.BytesParser(policy=email.policy.strict).parse(f)
        except Exception as error:  # the strict policy reports a defect by raising
            sys.exit(f"{path}: not a well-formed mail: {error}")
    print(f"To:      {message['To']}")
    print(f"From:    {message['From']}")
    print(f"Subject: {message['Subject']}")
    pages = [part for part in message.walk() if part.get_content_type() == "image/tiff"]
    if not pages:
        sys.exit(f"{path}: the mail carries no fax page")
    for number, part in enumerate(pages, start=1):
        target = os.path.join(folder, f"fax-page-{number}.tif")
        data = part.get_content()
        with open(target + ".part", "wb") as out:
            out.write(data)
        os.replace(target + ".part", target)
        print(f"page {number}: {target} ({len(data)} bytes, sent as {part.get_filename()})")


if __name__ == "__main__":
    main()
