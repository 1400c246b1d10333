"""sfxtest: what every end-to-end test shares.

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

Tests run inside the wine session of tests/wine-env.sh (ctest starts them
that way); every test gets a scratch folder under build/e2e-work/ that is
removed when the test passes and kept for a look when it fails.
"""
import json
import os
import shutil
import struct
import subprocess
import tempfile
import textwrap
import unittest
import zipfile
import zlib

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
UNIT_TESTS = os.path.join(WIN64, "tests", "win", "stub_unit_tests.exe")
WINE = os.environ.get("SFX_WINE", "wine")

# The main dialog's controls, as the stub's templates number them.
ID_OK = 1
ID_CANCEL = 2
ID_HELP = 103
ID_BROWSE = 104
ID_SHOW_FILES = 105
ID_FOLDER = 201
ID_RUN_CHECK = 302
ID_FILE_LIST = 401
ID_OVERWRITE = 701  # + OverwriteMode
ID_PROGRESS = 801
ID_MSGBOX_TEXT = 0xFFFF

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

# Message box styles for the start question.
MB_OK, MB_OKCANCEL, MB_ABORTRETRYIGNORE, MB_YESNOCANCEL, MB_YESNO = 0x0, 0x1, 0x2, 0x3, 0x4
MB_ICONHAND, MB_ICONQUESTION, MB_ICONEXCLAMATION, MB_ICONASTERISK = 0x10, 0x20, 0x30, 0x40


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
        with open(full, "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)
    return root


def read_tree(root):
    """{relative name with '/': bytes} of every file below root."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            full = os.path.join(folder, name)
            with open(full, "rb") as f:
                found[os.path.relpath(full, root).replace(os.sep, "/")] = f.read()
    return found


def zip_infozip(source, archive, *args):
    """Info-ZIP zip of everything below source; args go to zip (-0 stores, -P pw encrypts, -D no folder entries)."""
    archive = os.path.abspath(archive)
    subprocess.run(["zip", "-q", "-r", "-X", *args, archive, "."], cwd=source, check=True)
    return archive


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


# ------------------------------------------------------------------ SFX files

def config_block(title="", folder="", run="", question="", question_style=MB_YESNO | MB_ICONQUESTION,
                 overwrite="ask", options=0, filler=b"", reserved=0):
    """The configuration block that goes between the stub image and the archive,
    laid out byte for byte as the stub reads it. Texts are ANSI (cp1252 here)."""
    texts = [t.encode("cp1252") if isinstance(t, str) else t for t in (title, folder, run, question)]
    for t in texts:
        if len(t) > 255:
            raise ValueError("a text of the configuration block holds at most 255 bytes")
    mode = OVERWRITE_MODES[overwrite] if isinstance(overwrite, str) else overwrite
    header_size = 18
    trailer_offset = header_size + sum(len(t) for t in texts) + len(filler)
    header = b"QF\x00\x01" + struct.pack("<HHBBBBBBI", trailer_offset, options, mode, len(texts[0]), len(texts[1]),
                                         len(texts[2]), reserved, len(texts[3]), question_style)
    return header + b"".join(texts) + filler + b"QF\x0a\x01" + struct.pack("<I", trailer_offset)


def write_sfx(stub, archive, out, block=None, **config):
    """The self-extracting program made without sfxmake: stub image, block, archive
    bytes as they are. For damaged or unusual blocks that sfxmake refuses to write."""
    with open(stub, "rb") as f:
        image = f.read()
    with open(archive, "rb") as f:
        data = f.read()
    with open(out, "wb") as f:
        f.write(image + (block if block is not None else config_block(**config)) + data)
    return out


def sfxmake_build(archive, out, stub=None, title=None, folder=None, run=None, question=None,
                  question_style=None, overwrite=None, options=0, extra=()):
    """sfxmake build with the given settings. Returns out; raises with sfxmake's
    message when it refuses."""
    args = [SFXMAKE, "build", "-q", "--stub", stub or STUB64, "-o", out]
    for flag, value in (("--title", title), ("--folder", folder), ("--run", run), ("--question", question)):
        if value is not None:
            args += [flag, value]
    if question_style is not None:
        args += ["--question-style", str(question_style)]
    if overwrite is not None:
        args += ["--overwrite", overwrite if isinstance(overwrite, str)
                 else {v: k for k, v in OVERWRITE_MODES.items()}[overwrite]]
    if options:
        args += ["--options", hex(options)]
    args += [*extra, archive]
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"sfxmake failed ({done.returncode}): {done.stderr.strip()}")
    return out


def build_sfx(archive, out, stub=None, **config):
    """A self-extracting program from archive: through dist/sfxmake when it is
    built, else the block is written here (the same bytes)."""
    if os.path.exists(SFXMAKE) and not os.environ.get("SFX_NO_SFXMAKE"):
        return sfxmake_build(archive, out, stub=stub, **config)
    config = {k: v for k, v in config.items() if v is not None and k != "extra"}
    return write_sfx(stub or STUB64, archive, out, **config)


# ------------------------------------------------------------------ running under wine

def run_wine(args, cwd=None, timeout=180):
    """Runs a Windows program under wine; returns (exit code, stdout, stderr) as text.
    Output goes through files: a pipe could be held open by a process the program
    started."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run([WINE, *args], stdout=out, stderr=err, stdin=subprocess.DEVNULL, cwd=cwd,
                              timeout=timeout).returncode
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
    def ok(self):
        return self.code == 0

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

    def describe(self):
        return ("script:\n" + self.script + "\noutput:\n" + "\n".join(json.dumps(line) for line in self.lines)
                + "\nstderr:\n" + self.stderr)


def drive(script, cwd=None, timeout=180):
    """Runs a driver script (text; indentation is removed) and returns a DriverRun."""
    script = textwrap.dedent(script).strip() + "\n"
    with tempfile.NamedTemporaryFile("w", suffix=".txt", dir=cwd, delete=False, encoding="utf-8") as f:
        f.write(script)
        path = f.name
    try:
        code, out, err = run_wine([DRIVER, windows_path(path)], cwd=cwd, timeout=timeout)
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


def bmp_to_png(bmp, png):
    """Converts a 24-bit BMP of the driver's screenshot command to PNG."""
    with open(bmp, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        src = height - 1 - y if height > 0 else y
        row = data[offset + src * stride: offset + src * stride + width * 3]
        rgb = bytearray(len(row))
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    with open(png, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(b"".join(rows))) + chunk(b"IEND", b""))
    return png


# ------------------------------------------------------------------ test case

def require_session():
    """Why the Windows side cannot run here, or None."""
    if not (os.environ.get("WINEPREFIX") and os.environ.get("DISPLAY")):
        return "no wine session: source tests/wine-env.sh first (scripts/test and ctest do)"
    for path in (DRIVER, STUB64):
        if not os.path.exists(path):
            return f"{path} is missing: run scripts/build"
    return None


class SfxCase(unittest.TestCase):
    """A test with a scratch folder (self.dir) under build/e2e-work/ and the
    helpers above bound to it. A missing wine session or build is a failure,
    not a skip: the suite must not pass by running nothing."""

    stub = STUB64  # what self.sfx builds programs from

    def setUp(self):
        problem = require_session()
        if problem:
            self.fail(problem)
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

    def zip_infozip(self, source, *args, name="infozip.zip"):
        return zip_infozip(source, self.path(name), *args)

    def zip_7z(self, source, *args, name="7z.zip"):
        return zip_7z(source, self.path(name), *args)

    def zip_python(self, source, name="python.zip", **kwargs):
        return zip_python(source, self.path(name), **kwargs)

    def sfx(self, archive, name="test.exe", **config):
        config.setdefault("stub", self.stub)
        return build_sfx(archive, self.path(name), **config)

    def drive(self, script, timeout=180):
        return drive(script, cwd=self.dir, timeout=timeout)

    def wine(self, *args, timeout=180):
        """(exit code, stdout, stderr) of a Windows program run in the scratch folder."""
        return run_wine(args, cwd=self.dir, timeout=timeout)

    def sfxmake(self, *args, expect=0):
        """Runs the Linux sfxmake in the scratch folder; checks its exit code unless expect is None."""
        done = subprocess.run([SFXMAKE, *args], capture_output=True, text=True, cwd=self.dir)
        if expect is not None:
            self.assertEqual(done.returncode, expect, f"sfxmake {' '.join(args)}\n{done.stderr}")
        return done

    def assertDriverOk(self, run):
        if not run.ok:
            self.fail(f"driver exited with {run.code}\n{run.describe()}")
