"""sfxtest: what every end-to-end test and sfxmake's command-line tests share:
scratch folders, archives from real archivers and crafted byte by byte, SFX
files, the PE and configuration block readers, the UI driver and the control
ids and captions of the stub's windows.

An end-to-end test makes a tree of files, packs it with a real archiver
(Info-ZIP zip, 7z, Python's zipfile), turns the archive into a self-extracting
program with dist/sfxmake, runs that program (the real 64-bit stub) under wine
through the UI driver and checks what it showed and wrote.

    class Example(sfxtest.SfxCase):
        def test_shows_the_dialog(self):
            src = self.tree({"a.txt": b"hello", "sub/b.txt": b"world"})
            exe = self.sfx(self.zip_infozip(src), title="Demo")
            run = self.drive(f'''
                start {q(exe)}
                wait-window Demo
                rows 401
                close
                wait-exit
            ''')
            self.assertEqual(run.result("wait-exit")["exit_code"], 0)

Tests that run Windows programs (SfxCase) run inside the wine session of
tests/wine-env.sh (ctest starts them that way); every test gets a scratch
folder under build/e2e-work/ that is removed when the test passes and kept for
a look when it fails. tests/sfxmake imports this module through sfxmaketest.py.
"""
import functools
import inspect
import json
import os
import random
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import textwrap
import unittest
import zipfile
import zlib
from pathlib import Path

# Debian's python3-pefile (installed by scripts/setup) sits with the system's
# Python; a Python of another install, found first on PATH, looks there last.
DEBIAN_PACKAGES = "/usr/lib/python3/dist-packages"
if os.path.isdir(DEBIAN_PACKAGES) and DEBIAN_PACKAGES not in sys.path:
    sys.path.append(DEBIAN_PACKAGES)

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", ".."))
BUILD = os.path.join(REPO, "build")
DIST = os.path.join(REPO, "dist")
WIN64 = os.environ.get("SFX_WIN64_DIR") or os.path.join(BUILD, "win64")
WORK = os.path.join(BUILD, "e2e-work")

STUB64 = os.environ.get("SFX_STUB64") or os.path.join(DIST, "sfxstub64.exe")
STUB32 = os.environ.get("SFX_STUB32") or os.path.join(DIST, "sfxstub32.exe")
SFXMAKE = os.environ.get("SFXMAKE") or os.path.join(DIST, "sfxmake")
SFXMAKE_EXE = os.environ.get("SFXMAKE_EXE") or os.path.join(WIN64, "src", "sfxmake", "sfxmake.exe")
DRIVER = os.path.join(WIN64, "tests", "driver", "uidriver.exe")
# The 32-bit tree's driver, for the 32-bit stub under a 32-bit wine (tests/guest).
WIN32 = os.environ.get("SFX_WIN32_DIR") or os.path.join(BUILD, "win32")
DRIVER32 = os.path.join(WIN32, "tests", "driver", "uidriver.exe")
WINE = os.environ.get("SFX_WINE", "wine")

# The main dialog's controls, as the stub's templates number them.
ID_OK = 1
ID_CANCEL = 2
ID_SHOW_FILES = 105
ID_FOLDER = 201
ID_FILE_LIST = 401
ID_OVERWRITE = 701  # + OverwriteMode

# Option bits of the configuration block.
OPT_RUN_CHECKBOX = 0x0001
OPT_SELECT_FILES = 0x0002
OPT_HIDE_OVERWRITE = 0x0004
OPT_AUTO_UNZIP = 0x0008
OPT_NO_DONE_MESSAGE = 0x0010
OPT_HIDE_FILE_LIST = 0x0040
OPT_NO_SHOW_FILES = 0x0080
OPT_ALLOW_CANCEL = 0x0200

OVERWRITE_MODES = {"overwrite": 0, "skip": 1, "ask": 2}

# Captions and texts of the stub's windows and boxes.
MAIN_CAPTION = "Extracting files..."
ERROR_CAPTION = "Error"
DONE = "All files have been unzipped."
PASSWORD_PROMPT = "Enter password:"


CORRUPT = "Cannot unzip: file is corrupt."

LOCAL_SIGNATURE, CENTRAL_SIGNATURE, END_SIGNATURE = b"PK\x03\x04", b"PK\x01\x02", b"PK\x05\x06"
BLOCK_SIGNATURE, TRAILER_SIGNATURE = b"QF\x00\x01", b"QF\x0a\x01"

# A small tree of every kind of file: text, binary, empty, deep.
SAMPLE = {
    "readme.txt": b"Read me first.\r\n" * 40,
    "bin/tool.dat": bytes(range(256)) * 300,
    "bin/empty.txt": b"",
    "docs/deep/er/note.md": b"# note\n" + bytes(1000),
}

# The start question's default message box style.
MB_YESNO, MB_ICONQUESTION = 0x4, 0x20


def windows_path(path):
    """The Z: path under which wine sees a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def q(text):
    """One argument of a driver script: quoted, quotes doubled. Linux paths
    that exist or start with / become their Windows form."""
    text = str(text)
    if text.startswith("/"):
        text = windows_path(text)
    return '"' + text.replace('"', '""') + '"'


# ------------------------------------------------------------------ archives

def write_tree(root, files):
    """Writes {relative name: bytes or str} under root; a name ending in '/'
    makes an empty folder. Returns root."""
    for name, data in files.items():
        full = os.path.join(root, *name.split("/"))
        if name.endswith("/"):
            os.makedirs(full, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(full), exist_ok=True)
        Path(full).write_bytes(data.encode() if isinstance(data, str) else data)
    return root


def read_tree(root):
    """{relative name with '/': bytes} of every file below root."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            full = os.path.join(folder, name)
            found[os.path.relpath(full, root).replace(os.sep, "/")] = Path(full).read_bytes()
    return found


def zip_infozip(source, archive, *args, streamed=False, refuse=()):
    """Info-ZIP zip of everything below source; args go to zip (-0 stores, -P pw encrypts, -D no folder entries).
    streamed: zip writes to a pipe, not a file it could seek back in, so every member has its sizes in a data
    descriptor (flag bit 3). refuse: passwords a test answers wrongly. The one-byte check of an encryption
    header lets one wrong password in 256 through (the member then fails its CRC instead), so the members
    are written again, with new random headers, until each refuses them all."""
    archive = os.path.abspath(archive)
    names = {p.relative_to(source).as_posix() for p in Path(source).rglob("*") if p.is_file()}
    for _ in range(20):
        if streamed:
            piped = subprocess.run(["zip", "-q", "-r", "-X", *args, "-", "."], cwd=source, stdout=subprocess.PIPE,
                                   check=True)
            Path(archive).write_bytes(piped.stdout)
        else:  # into an existing archive: its members of the same names are replaced
            subprocess.run(["zip", "-q", "-r", "-X", *args, archive, "."], cwd=source, check=True)
        if not any(takes_password(archive, names, password) for password in refuse):
            return archive
    raise AssertionError(f"{archive}: a member keeps taking one of {refuse}")


def takes_password(archive, names, password):
    """Whether a member of archive named in names lets password (text in UTF-8, or bytes) past its header's check byte."""
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            if info.filename in names:
                try:
                    z.open(info, pwd=password if isinstance(password, bytes) else password.encode()).close()
                    return True
                except RuntimeError:  # "Bad password"
                    pass
    return False


def zip_7z(source, archive, *args):
    """7-Zip in ZIP format (-tzip) of everything below source; args go to 7z (-mx0 stores)."""
    archive = os.path.abspath(archive)
    subprocess.run(["7z", "a", "-tzip", "-bd", "-y", *args, archive, "."], cwd=source, check=True,
                   stdout=subprocess.DEVNULL)
    return archive


def zip_python(source, archive, compression=zipfile.ZIP_DEFLATED, folders=True):
    """Python's zipfile of everything below source, folder entries included unless folders is False."""
    archive = os.path.abspath(archive)
    with zipfile.ZipFile(archive, "w", compression) as z:
        for folder, dirs, names in sorted(os.walk(source)):
            dirs.sort()
            rel = os.path.relpath(folder, source)
            if folders and rel != ".":
                z.write(folder, rel.replace(os.sep, "/") + "/")
            for name in sorted(names):
                full = os.path.join(folder, name)
                z.write(full, os.path.relpath(full, source).replace(os.sep, "/"))
    return archive


def zip_members(path, members, compression=zipfile.ZIP_DEFLATED, comment=b""):
    """Python's zipfile of members written in their order: {name: bytes} or pairs
    of (name or ZipInfo, bytes)."""
    with zipfile.ZipFile(path, "w", compression) as z:
        for member, content in (members.items() if isinstance(members, dict) else members):
            z.writestr(member, content)
        z.comment = comment
    return path


def lzma_archive(folder):
    """An archive with LZMA members (method 14) from each writer that makes them,
    in folder: 7z with the end marker (a text of a few MB, a random block and a
    tiny file that 7z stores instead, an empty file), 7z without the marker, and
    Python's zipfile (ZIP_LZMA, with the marker, a 1-byte member too) appended
    behind them. Returns (archive, {name: bytes})."""
    rng = random.Random(22)
    words = [bytes(rng.choices(b"abcdefghijklmnopqrstuvwxyz", k=rng.randint(2, 9))) for _ in range(3000)]
    parts = {
        ("-mm=LZMA",): {"marker/big.txt": b" ".join(rng.choices(words, k=500000)),
                        "marker/random.bin": rng.randbytes(70000), "marker/one.txt": b"1", "marker/empty.txt": b""},
        ("-mm=LZMA", "-meos=off"): {"no-marker/table.bin": b"".join(struct.pack("<IHH", i, i * 7 & 0xFFFF, i % 97)
                                                                     for i in range(40000)),
                                    "no-marker/notes.txt": b"no end marker\n" * 1000},
    }
    archive = os.path.join(folder, "lzma.zip")
    for n, (args, files) in enumerate(parts.items()):
        source = write_tree(os.path.join(folder, f"lzma-src{n}"), files)
        for name in files:  # whole seconds in 7z's exact times: some file systems keep no fraction
            os.utime(os.path.join(source, name), (1600000001, 1600000001))
        zip_7z(source, archive, *args)
    appended = {"python/readme.txt": b"appended by zipfile\n" * 500, "python/t.txt": b"t",
                "python/mixed.bin": rng.randbytes(5000) + bytes(20000)}
    with zipfile.ZipFile(archive, "a", zipfile.ZIP_LZMA) as z:
        for name, data in appended.items():
            z.writestr(name, data)
    # What the archive is meant to hold: LZMA with and without the marker (flag bit 1), and stored members.
    kinds = {(i.compress_type, bool(i.flag_bits & 2)) for i in zipfile.ZipFile(archive).infolist()}
    assert {(zipfile.ZIP_LZMA, True), (zipfile.ZIP_LZMA, False)} <= kinds and 0 in {k for k, _ in kinds}, kinds
    files = {name: data for part in parts.values() for name, data in part.items()}
    return archive, {**files, **appended}


def member_data_at(path, name):
    """(offset, size) of member name's data in the archive at path, behind its local header."""
    with zipfile.ZipFile(path) as z:
        info = z.getinfo(name)
    with open(path, "rb") as f:
        f.seek(info.header_offset + 26)
        skip = sum(struct.unpack("<HH", f.read(4)))
    return info.header_offset + 30 + skip, info.compress_size


def flip_byte(path, offset):
    """Flips the lowest bit of the byte at offset of the file at path."""
    data = bytearray(Path(path).read_bytes())
    data[offset] ^= 0x01
    Path(path).write_bytes(data)


def as_ae1(path, name, crc):
    """Makes the AE-2 member name of the archive at path an AE-1 member that
    declares crc: its AES fields (local and central) say version 1, both headers crc."""
    data = bytearray(Path(path).read_bytes())
    local = zipfile.ZipFile(path).getinfo(name).header_offset
    central = [c for c in central_records(data) if struct.unpack_from("<I", data, c + 42)[0] == local]
    for header, crc_at, name_at in [(local, 14, 30)] + [(c, 16, 46) for c in central]:
        struct.pack_into("<I", data, header + crc_at, crc)
        struct.pack_into("<H", data, data.index(b"\x01\x99\x07\x00", header + name_at) + 4, 1)
    Path(path).write_bytes(data)


def damage_member(path, name):
    """Flips one bit in the middle of member name's data."""
    at, size = member_data_at(path, name)
    data = bytearray(Path(path).read_bytes())
    data[at + size // 2] ^= 0x10
    Path(path).write_bytes(data)


def demand_dictionary(path, name, size=0xF0000000):
    """Makes the LZMA member name of the archive at path declare a dictionary of
    4 GiB and size uncompressed bytes (local and central header), so that
    unpacking it asks for size bytes of memory at once."""
    at, _ = member_data_at(path, name)
    data = bytearray(Path(path).read_bytes())
    struct.pack_into("<I", data, at + 5, 0xFFFFFFFF)  # behind version, properties size and lc/lp/pb
    with zipfile.ZipFile(path) as z:
        info = z.getinfo(name)
    struct.pack_into("<I", data, info.header_offset + 22, size)
    for record in central_records(data):
        if data[record + 46:record + 46 + len(name)] == name.encode():
            struct.pack_into("<I", data, record + 24, size)
    Path(path).write_bytes(data)


def address_space(limit):
    """A preexec_fn that caps the child's address space at limit bytes: a
    large allocation then fails at once, whatever the machine's memory."""
    return lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


def stored_member(name, data, method=0, flags=0, dos=(2022, 3, 4, 5, 6, 8), crc=None):
    """A local header with its data and the matching central record, as bytes,
    for archives that no tool would write. The data is taken as it is."""
    d = dos
    dos_time = (d[3] << 11) | (d[4] << 5) | (d[5] // 2)
    dos_date = ((d[0] - 1980) << 9) | (d[1] << 5) | d[2]
    crc = zlib.crc32(data) if crc is None else crc
    raw = name.encode("cp1252")
    fields = struct.pack("<HHHHHIIIHH", 20, flags, method, dos_time, dos_date, crc, len(data), len(data), len(raw), 0)
    local = LOCAL_SIGNATURE + fields + raw + data
    central = CENTRAL_SIGNATURE + struct.pack("<H", 20) + fields + struct.pack("<HHHII", 0, 0, 0, 0, 0) + raw
    return local, central


def end_record_bytes(count, directory_size, directory_offset):
    """An end record without ZIP64 and without comment."""
    return END_SIGNATURE + struct.pack("<HHHHIIH", 0, 0, count, count, directory_size, directory_offset, 0)


def raw_archive(path, members, count=None):
    """Writes members (pairs from stored_member) as one archive without ZIP64;
    count: the end record's 16-bit entry count, when not the number of members."""
    with open(path, "wb") as f:
        centrals = []
        for local, central in members:
            centrals.append(central[:42] + struct.pack("<I", f.tell()) + central[46:])
            f.write(local)
        start = f.tell()
        directory = b"".join(centrals)
        f.write(directory + end_record_bytes(len(centrals) if count is None else count, len(directory), start))
    return path


def wrapped_count_archive(path, files):
    """files ({name: bytes}) behind 65,536 folder members, with the end record's
    16-bit count wrapped as writers without ZIP64 leave it: len(files)."""
    folders = [stored_member(f"d{i:05}/", b"") for i in range(65536)]
    return raw_archive(path, folders + [stored_member(n, d) for n, d in files.items()], count=len(files))


def central_records(data):
    """Offsets of the central records of the archive that ends data (no ZIP64)."""
    at, end, found = first_central_record(data), end_record(data), []
    while at < end:
        found.append(at)
        at += 46 + sum(struct.unpack_from("<HHH", data, at + 28))
    return found


def miscount(data):
    """The end record counts one record where the directory holds more."""
    struct.pack_into("<HH", data, end_record(data) + 8, 1, 1)


def share_data(data):
    """Every central record points at the first member's local header and data."""
    records = central_records(data)
    for at in records[1:]:
        data[at + 42:at + 46] = data[records[0] + 42:records[0] + 46]


def dos_member_archive(path):
    """A member as an MS-DOS tool wrote it: host 0 and the OEM byte 0x81 ('u' with
    diaeresis in code page 437) in its name. zipfile writes only ASCII or UTF-8
    names, so the name is written with a placeholder of the same length and the
    byte is put in afterwards."""
    info = zipfile.ZipInfo("m_nchen.txt")
    info.create_system = 0
    zip_members(path, [(info, b"dos\r\n"), ("plain.txt", b"plain")])
    data = Path(path).read_bytes()
    Path(path).write_bytes(data.replace(b"m_nchen.txt", b"m\x81nchen.txt"))
    return path


# ------------------------------------------------------------------ icons

def png_bytes(width, height, rows, colour_type):
    """A PNG of 8-bit samples: rows of pixels, each behind its filter byte 0;
    colour_type 2 is RGB, 6 RGBA."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row for row in rows))) + chunk(b"IEND", b""))


def png_image(width, height, rgba=(200, 40, 40, 255)):
    """A PNG of one colour, 8-bit RGBA."""
    return png_bytes(width, height, [bytes(rgba) * width] * height, 6)


def bmp_image(width, height, bits=32):
    """An icon bitmap: BITMAPINFOHEADER with the doubled height, palette (8 bits
    and less), colour rows, AND mask."""
    palette = b"".join(struct.pack("<BBBB", i, 255 - i, 128, 0) for i in range(1 << bits)) if bits <= 8 else b""
    colour = ((width * bits + 31) // 32) * 4 * height
    mask = ((width + 31) // 32) * 4 * height
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, bits, 0, colour + mask, 0, 0, 0, 0)
    return header + palette + bytes((i * 7) & 0xFF for i in range(colour)) + bytes(mask)


# The icon and version texts a publisher gives, as sfxmake's options, and the
# images of the icon: pairs (width, height, data) as bmp_image or png_image made them.
PUBLISHER = {"--product-name": "Demo Suite", "--product-version": "2.1.0 beta", "--file-version": "2.1.0.7",
             "--company": "Example Ltd", "--description": "Demo Suite installer",
             "--copyright": "\u00a9 2024 Example Ltd \u2014 \u65e5\u672c"}
PUBLISHER_IMAGES = [(16, 16, bmp_image(16, 16, 4)), (32, 32, bmp_image(32, 32, 32)), (256, 256, png_image(256, 256))]


def publisher_args(icon):
    """The options of PUBLISHER, with an .ico of PUBLISHER_IMAGES written to the
    path icon (each image's bits read from its data)."""
    entries, offset = [], 6 + 16 * len(PUBLISHER_IMAGES)
    for width, height, data in PUBLISHER_IMAGES:
        bits = 32 if data.startswith(b"\x89PNG") else struct.unpack_from("<H", data, 14)[0]
        colours = (1 << bits) if bits < 8 else 0
        entries.append(struct.pack("<BBBBHHII", width & 0xFF, height & 0xFF, colours, 0, 1, bits, len(data), offset))
        offset += len(data)
    Path(icon).write_bytes(struct.pack("<HHH", 0, 1, len(entries)) + b"".join(entries)
                           + b"".join(data for _, _, data in PUBLISHER_IMAGES))
    return ["--icon", icon] + [part for pair in PUBLISHER.items() for part in pair]


# ------------------------------------------------------------------ reading SFX files

class PeImage:
    """The few PE header fields the tests need. raw_end, the end of the last
    section's raw data (the section table found through SizeOfOptionalHeader),
    is where the stub looks for its configuration block."""

    def __init__(self, data):
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, self.sections = struct.unpack_from("<HH", data, pe + 4)
        self.optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        self.magic = struct.unpack_from("<H", data, pe + 24)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, pe + 24 + 68)
        self.checksum_at = pe + 24 + 64
        table = pe + 24 + self.optional_size
        self.raw_end = max((sum(struct.unpack_from("<II", data, table + 40 * i + 16)) for i in range(self.sections)),
                           default=0)


def image_end(data):
    return PeImage(data).raw_end


def read_block(data):
    """The configuration block behind the image as a dict, plus where the archive starts."""
    at = image_end(data)
    sig, trailer, options, mode, lt, lf, lr, reserved, lm, style = struct.unpack_from("<4sHHBBBBBBI", data, at)
    texts, pos = [], at + 18
    for n in (lt, lf, lr, lm):
        texts.append(data[pos:pos + n])
        pos += n
    return dict(signature=sig, trailer=trailer, options=options, mode=mode, reserved=reserved, style=style,
                title=texts[0], folder=texts[1], run=texts[2], question=texts[3], texts_end=pos - at,
                trailer_bytes=data[at + trailer:at + trailer + 8], archive_start=at + trailer + 8)


def end_record(data):
    return data.rindex(END_SIGNATURE)


def first_central_record(data):
    end = end_record(data)
    return end - struct.unpack_from("<I", data, end + 12)[0]


# ------------------------------------------------------------------ SFX files

def config_block(title="", folder="", run="", question="", question_style=MB_YESNO | MB_ICONQUESTION,
                 overwrite="ask", options=0):
    """The configuration block that goes between the stub image and the archive,
    laid out byte for byte as the stub reads it. Texts are ANSI (cp1252 here)."""
    texts = [t.encode("cp1252") if isinstance(t, str) else t for t in (title, folder, run, question)]
    for t in texts:
        if len(t) > 255:
            raise ValueError("a text of the configuration block holds at most 255 bytes")
    mode = OVERWRITE_MODES[overwrite] if isinstance(overwrite, str) else overwrite
    trailer_offset = 18 + sum(len(t) for t in texts)  # behind the header and the texts
    header = BLOCK_SIGNATURE + struct.pack("<HHBBBBBBI", trailer_offset, options, mode, len(texts[0]), len(texts[1]),
                                         len(texts[2]), 0, len(texts[3]), question_style)
    return header + b"".join(texts) + TRAILER_SIGNATURE + struct.pack("<I", trailer_offset)


def build_sfx(archive, out, stub=STUB64, crafted=False, extra=(), **config):
    """A self-extracting program from archive, settings as config_block takes
    them: through dist/sfxmake when it is built (extra: raw sfxmake options;
    raises with sfxmake's message when it refuses), else stub image, block and
    archive bytes are put together here (the same bytes). crafted: always put
    together here, for archives sfxmake refuses to take."""
    config = {k: v for k, v in config.items() if v is not None}
    if crafted or not os.path.exists(SFXMAKE) or os.environ.get("SFX_NO_SFXMAKE"):
        if extra:
            raise ValueError("raw sfxmake options need sfxmake")
        Path(out).write_bytes(Path(stub).read_bytes() + config_block(**config) + Path(archive).read_bytes())
        return out
    args = [SFXMAKE, "build", "-q", "--stub", stub, "-o", out]
    for key, value in config.items():
        if key == "overwrite" and not isinstance(value, str):
            value = {v: k for k, v in OVERWRITE_MODES.items()}[value]
        args += ["--" + key.replace("_", "-"), hex(value) if key == "options" else str(value)]
    done = subprocess.run([*args, *extra, archive], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"sfxmake failed ({done.returncode}): {done.stderr.strip()}")
    return out


# ------------------------------------------------------------------ running under wine

def windows_program(name, source, *flags, bits=64):
    """A small Windows program compiled from C source with mingw (flags go to gcc,
    libraries last). Kept under build/e2e-work/ by a hash of source, flags and
    bits, so that each is compiled once."""
    key = zlib.crc32((source + "\0" + " ".join(flags)).encode())
    exe = os.path.join(WORK, f"{name}{'' if bits == 64 else bits}-{key:08x}.exe")
    if not os.path.exists(exe):
        os.makedirs(WORK, exist_ok=True)
        Path(exe[:-4] + ".c").write_text(source)
        gcc = "x86_64-w64-mingw32-gcc" if bits == 64 else "i686-w64-mingw32-gcc"
        subprocess.run([gcc, "-O2", "-s", "-o", exe, exe[:-4] + ".c", *flags], check=True)
    return exe


def run_wine(args, cwd=None, timeout=180, memory=None):
    """Runs a Windows program under wine; returns (exit code, stdout, stderr) as text.
    Output goes through files: a pipe could be held open by a process the program
    started. memory: a cap on the address space of wine and what it starts (address_space)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run([WINE, *args], stdout=out, stderr=err, stdin=subprocess.DEVNULL, cwd=cwd,
                              timeout=timeout, preexec_fn=memory and address_space(memory)).returncode
        out.seek(0)
        err.seek(0)
        return code, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


class DriverRun:
    """What one driver script reported: the driver's exit code, one dict per
    output line, and the driver's stderr."""

    def __init__(self, code, lines, stderr, script):
        self.code = code
        self.lines = lines
        self.stderr = stderr
        self.script = script

    @property
    def error(self):
        """The failed command's line (with "error" and "windows"), or None."""
        return next((line for line in self.lines if "error" in line), None)

    def results(self, cmd):
        return [line for line in self.lines if line.get("cmd") == cmd]

    def result(self, cmd, index=0):
        """The index-th result of cmd (negative counts from the end)."""
        found = self.results(cmd)
        if not found or index >= len(found) or -index > len(found):
            raise AssertionError(f"no result {index} of {cmd!r} in driver output:\n{self.describe()}")
        return found[index]

    def selected(self):
        """The names in the selected rows of the first rows command."""
        return [row["cells"][0] for row in self.result("rows")["rows"] if row["selected"]]

    def visible(self, index=0):
        """The captions of the visible windows the index-th windows command found."""
        return [w["caption"] for w in self.result("windows", index)["windows"] if w["visible"]]

    def describe(self):
        return ("script:\n" + self.script + "\noutput:\n" + "\n".join(json.dumps(line) for line in self.lines)
                + "\nstderr:\n" + self.stderr)


def drive(script, cwd=None, timeout=180, memory=None):
    """Runs a driver script (text; indentation is removed) and returns a DriverRun;
    memory as run_wine takes it."""
    script = textwrap.dedent(script).strip() + "\n"
    with tempfile.NamedTemporaryFile("w", suffix=".txt", dir=cwd, delete=False, encoding="utf-8") as f:
        f.write(script)
        path = f.name
    try:
        code, out, err = run_wine([DRIVER, windows_path(path)], cwd=cwd, timeout=timeout, memory=memory)
    finally:
        os.unlink(path)
    return driver_run(code, out, err, script)


def driver_run(code, out, err, script):
    """The DriverRun of a driver's exit code, stdout and stderr (text)."""
    lines = []
    for text in out.splitlines():
        text = text.strip()
        if text.startswith("{"):
            try:
                lines.append(json.loads(text))
            except ValueError:
                lines.append({"cmd": "?", "raw": text})
    return DriverRun(code, lines, err, script)


def bmp_rows(bmp):
    """The pixel rows of a 24- or 32-bit BMP, such as the driver's screenshot
    command writes, top row first, each as bytes of red, green, blue."""
    data = Path(bmp).read_bytes()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    size = bits // 8
    stride = (width * size + 3) & ~3
    rows = []
    for y in range(abs(height)):
        src = offset + (height - 1 - y if height > 0 else y) * stride
        rgb = bytearray(width * 3)
        for channel in range(3):  # BMP keeps blue, green, red
            rgb[channel::3] = data[src + 2 - channel:src + width * size:size]
        rows.append(bytes(rgb))
    return rows


def bmp_to_png(bmp, png):
    """Converts a BMP that bmp_rows reads to PNG."""
    rows = bmp_rows(bmp)
    Path(png).write_bytes(png_bytes(len(rows[0]) // 3, len(rows), rows, 2))
    return png


# ------------------------------------------------------------------ driver scripts

def start_without_own_file(exe):
    """Driver lines starting the program suspended, moving its file away, and
    taking the error box it then shows, with the windows shown beside it."""
    return f"""
        start {q(exe)} suspended=1
        rename {q(exe)} {q(exe + ".moved")}
        resume
        wait-msgbox
        windows
        press OK
        wait-exit
    """


def answer_password(password):
    """Driver lines answering the password prompt. wait-gone: the next prompt
    must not be taken for this one while it closes."""
    return f"wait-window {q(PASSWORD_PROMPT)}\ntype 201 {q(password)}\npress Ok\nwait-gone\n"


def unzip_script(exe, middle=""):
    """Starts exe, presses Unzip, runs the middle of the script, waits for the end."""
    return f"""
        start {q(exe)}
        wait-window {q(MAIN_CAPTION)}
        press id={ID_OK}
        {middle}
        wait-exit
    """


def incomplete_script(exe, middle=""):
    """unzip_script, then the main dialog after an incomplete run (the file list
    opens, so Show files is gone): its rows, the overwrite radio buttons and the
    windows shown; then Close."""
    return unzip_script(exe, f"""
        {middle}
        wait-window {q(MAIN_CAPTION)}
        wait-state {ID_SHOW_FILES} exists 0
        rows {ID_FILE_LIST}
        state {ID_OVERWRITE}
        state {ID_OVERWRITE + 1}
        windows
        press id={ID_CANCEL}
    """)


# ------------------------------------------------------------------ test case

def require_session():
    """Why the Windows side cannot run here, or None."""
    if not (os.environ.get("WINEPREFIX") and os.environ.get("DISPLAY")):
        return "no wine session: source tests/wine-env.sh first (scripts/test and ctest do)"
    for path in (DRIVER, STUB64):
        if not os.path.exists(path):
            return f"{path} is missing: run scripts/build"
    return None


class ScratchCase(unittest.TestCase):
    """A test with a scratch folder (self.dir) under build/e2e-work/, removed
    when the test passes and kept for a look when it fails, and the helpers
    above bound to it."""

    stub = STUB64  # what self.sfx builds programs from

    def setUp(self):
        os.makedirs(WORK, exist_ok=True)
        name = self.id().split(".", 1)[-1].replace(".", "-")
        self.dir = tempfile.mkdtemp(prefix=name[:60] + "-", dir=WORK)
        self.addCleanup(self._remove_scratch)

    def _remove_scratch(self):
        outcome = getattr(self, "_outcome", None)
        if outcome is None or getattr(outcome, "success", True):
            shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def tree(self, files, name="src"):
        return write_tree(self.path(name), files)

    def zip_infozip(self, source, *args, name="infozip.zip", **kwargs):
        return zip_infozip(source, self.path(name), *args, **kwargs)

    def zip_7z(self, source, *args, name="7z.zip"):
        return zip_7z(source, self.path(name), *args)

    def zip_python(self, source, name="python.zip", **kwargs):
        return zip_python(source, self.path(name), **kwargs)

    def zip_members(self, members, name="members.zip", **kwargs):
        return zip_members(self.path(name), members, **kwargs)

    def sfx(self, archive, *options, name="test.exe", **config):
        """An SFX in the scratch folder; see build_sfx. options: raw sfxmake options."""
        config.setdefault("stub", self.stub)
        return build_sfx(archive, self.path(name), extra=options, **config)

    def sfxmake(self, *args, expect=0, env=None, memory=None):
        """Runs the Linux sfxmake in the scratch folder; checks its exit code unless
        expect is None. Output stays bytes: names come in more than one encoding.
        memory: a cap on its address space (address_space)."""
        done = subprocess.run([SFXMAKE, *args], capture_output=True, cwd=self.dir,
                              env=dict(os.environ, **(env or {})), preexec_fn=memory and address_space(memory))
        if expect is not None:
            why = f"sfxmake {' '.join(args)}\n{done.stderr.decode(errors='replace')}"
            self.assertEqual(done.returncode, expect, why)
        return done


def finish_scenario(case, steps, run):
    """Hands a scenario's DriverRun to the rest of the scenario (steps) to
    check; a failing driver fails the scenario first."""
    case.assertDriverOk(run)
    try:
        steps.send(run)
    except StopIteration:
        return
    case.fail("a scenario yields one driver script")


def driven(steps_of):
    """A scenario (a test method written as a generator that yields one driver
    script and goes on with its DriverRun) as a test that runs the script here,
    under wine. tests/guest runs the same scenarios in its qemu guest."""
    @functools.wraps(steps_of)
    def test(self):
        steps = steps_of(self)
        finish_scenario(self, steps, self.drive(next(steps), check=False))

    test.steps = steps_of
    return test


class SfxCase(ScratchCase):
    """A ScratchCase that runs Windows programs. A missing wine session or build
    is a failure, not a skip: the suite must not pass by running nothing. Test
    methods written as generators are scenarios (see driven); a scenario of
    another class is taken over by naming its test: test_x = Other.test_y."""

    scenario = staticmethod(driven)
    machinery = set()  # what the test machinery leaves in the scratch folder

    def __init_subclass__(cls, **kwargs):
        super().__init_subclass__(**kwargs)
        for name, member in list(vars(cls).items()):
            steps_of = getattr(member, "steps", member)
            if name.startswith("test_") and inspect.isgeneratorfunction(steps_of):
                setattr(cls, name, cls.scenario(steps_of))

    def setUp(self):
        problem = require_session()
        if problem:
            self.fail(problem)
        super().setUp()

    def drive(self, script, timeout=180, check=True, memory=None):
        """Runs a driver script in the scratch folder; a failing driver fails the
        test unless check is False. memory: see run_wine."""
        run = drive(script, cwd=self.dir, timeout=timeout, memory=memory)
        if check:
            self.assertDriverOk(run)
        return run

    def wine(self, *args, timeout=180):
        """(exit code, stdout, stderr) of a Windows program run in the scratch folder."""
        return run_wine(args, cwd=self.dir, timeout=timeout)

    def assertDriverOk(self, run):
        if run.code != 0:
            self.fail(f"driver exited with {run.code}\n{run.describe()}")
