"""The files Sendwell keeps in the system folder, as ./run and the whole-program tests
write and read them:

    quill.cfg     the settings: SMTP server, e-mail address and name, three archive strings
    flist.dll     the address book: the number of entries (4 bytes, little-endian), then the
                  name and the fax number of each entry, two archive strings
    sendwell.ini  the settings beside quill.cfg (sender/store/ProviderSettings.h): the
                  connection security and the login; the password is never there

An archive string is a length prefix and the UTF-8 bytes of the text: one byte for up to
254 bytes, FF and 2 bytes for up to 65,533, FF FF FF and 4 bytes beyond (sender/store/ArchiveString.h).
Files are written beside their place and renamed into it, so a reader never sees half of one."""

import os

SETTINGS_FILE = "quill.cfg"
ADDRESS_BOOK_FILE = "flist.dll"
PROVIDER_SETTINGS_FILE = "sendwell.ini"
# The names Sendwell gives the connection securities in sendwell.ini.
SECURITIES = ("None", "STARTTLS", "TLS")

BYTE_LENGTH_MAX = 0xFE
WORD_LENGTH_MAX = 0xFFFD
WIDE_MARKER = 0xFFFE
DWORD_MARKER = 0xFFFF


def archive_string(text):
    """The archive form of a text, in the shortest prefix that holds its length."""
    data = text.encode("utf-8")
    if len(data) <= BYTE_LENGTH_MAX:
        return bytes([len(data)]) + data
    if len(data) <= WORD_LENGTH_MAX:
        return b"\xff" + len(data).to_bytes(2, "little") + data
    return b"\xff" + DWORD_MARKER.to_bytes(2, "little") + len(data).to_bytes(4, "little") + data


def read_archive_string(data, pos):
    """The text of the archive string at pos and the position after it. Raises ValueError for
    a string that the data cannot hold, and for the wide form, which Sendwell never writes."""
    def take(count):
        nonlocal pos
        if pos + count > len(data):
            raise ValueError(f"an archive string at byte {pos} runs past the end of the data")
        pos += count
        return data[pos - count:pos]

    length = take(1)[0]
    if length == 0xFF:
        length = int.from_bytes(take(2), "little")
        if length == WIDE_MARKER:
            raise ValueError(f"a wide archive string at byte {pos - 3}")
        if length == DWORD_MARKER:
            length = int.from_bytes(take(4), "little")
    return take(length).decode("utf-8"), pos


def settings_bytes(server, address, name):
    return archive_string(server) + archive_string(address) + archive_string(name)


def address_book_bytes(entries):
    """The address book holding (name, fax number) pairs, first entry first."""
    return len(entries).to_bytes(4, "little", signed=True) + b"".join(
        archive_string(name) + archive_string(number) for name, number in entries)


def read_address_book(path):
    """The (name, fax number) pairs of an address book. Raises ValueError for a damaged one."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 4:
        raise ValueError(f"{path}: {len(data)} bytes, too short for the entry count")
    count = int.from_bytes(data[:4], "little", signed=True)
    entries, pos = [], 4
    for _ in range(count):
        name, pos = read_archive_string(data, pos)
        number, pos = read_archive_string(data, pos)
        entries.append((name, number))
    if pos != len(data):
        raise ValueError(f"{path}: {len(data) - pos} bytes after the last entry")
    return entries


def provider_settings_text(security, login):
    """The [Mail] section of sendwell.ini; the gateway keeps its defaults. Raises ValueError for
    an unknown security and for a login with a line break or another control character, which
    would start a line of its own."""
    if security not in SECURITIES:
        raise ValueError(f"the security {security!r} is not one of {', '.join(SECURITIES)}")
    if any(ord(c) < 0x20 or ord(c) == 0x7F for c in login):
        raise ValueError(f"the login {login!r} holds a control character")
    return f"[Mail]\nSecurity={security}\nLogin={login}\n"


def replace_file(path, data):
    with open(path + ".part", "wb") as f:
        f.write(data)
    os.replace(path + ".part", path)


def write_settings(system, server, address, name):
    replace_file(os.path.join(system, SETTINGS_FILE), settings_bytes(server, address, name))


def write_address_book(system, entries):
    replace_file(os.path.join(system, ADDRESS_BOOK_FILE), address_book_bytes(entries))


def write_provider_settings(system, security, login=""):
    replace_file(os.path.join(system, PROVIDER_SETTINGS_FILE), provider_settings_text(security, login).encode())
