"""What the main dialog's end-to-end tests share: an SFX made by sfxmake from a
Python zipfile archive, the real 64-bit stub run under wine through the UI driver,
and the conversion of dialog units with the dialog's own font.

They run inside the session of tests/wine-env.sh (its DISPLAY and WINEPREFIX);
without one, or without the built programs, they are skipped."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

SFXMAKE = os.environ.get("SFXMAKE", "")
STUB64 = os.environ.get("SFX_STUB64", "")
UIDRIVER = os.environ.get("SFX_UIDRIVER", "")
WINE = os.environ.get("SFX_WINE", "wine")
CAPTION = "Extracting files..."

# A small archive in a known order: a folder entry (never a row), a member in a
# subfolder, an empty member and the largest size a row can show is not needed here.
MEMBERS = [
    ("zeta.txt", b"last letter, first row\r\n"),
    ("docs/", None),
    ("docs/manual.pdf", b"%PDF-1.4\n" + b"x" * 1000),
    ("empty.log", b""),
    ("alpha.bin", bytes(range(256)) * 50),
]


def windows_path(path):
    """The Z: path under which wine sees a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def dialog_pixels(units, base_y):
    """Vertical dialog units to pixels the way MulDiv(units, base_y, 8) rounds."""
    magnitude = (abs(units) * base_y + 4) // 8
    return magnitude if units >= 0 else -magnitude


def base_unit_y(pairs):
    """The dialog font's vertical base unit that turns every (units, pixels) pair
    of template heights into the measured pixels; None when none does."""
    for base in range(6, 64):
        if all(dialog_pixels(units, base) == pixels for units, pixels in pairs):
            return base
    return None


class DialogCase(unittest.TestCase):
    def setUp(self):
        if not (os.environ.get("WINEPREFIX") and os.environ.get("DISPLAY")):
            self.skipTest("no wine session: run under tests/wine-env.sh")
        for name, path in (("SFXMAKE", SFXMAKE), ("SFX_STUB64", STUB64), ("SFX_UIDRIVER", UIDRIVER)):
            if not path or not os.path.exists(path):
                self.skipTest(name + " does not name a built program")
        self.dir = tempfile.mkdtemp(prefix="sfx-dialog-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def make_sfx(self, options, *extra, name="test.exe", members=MEMBERS):
        archive = os.path.join(self.dir, "archive.zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            for member, data in members:
                if data is None:
                    z.writestr(zipfile.ZipInfo(member), b"")
                else:
                    z.writestr(member, data)
        exe = os.path.join(self.dir, name)
        run = subprocess.run([SFXMAKE, "build", "--stub", STUB64, "--options", str(options), *extra,
                              "-o", exe, archive], capture_output=True)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace"))
        return exe

    def drive(self, exe, script):
        """Runs the driver with 'start EXE' and 'wait-window' in front of script;
        returns the JSON results in order (a failing driver fails the test)."""
        lines = ["timeout 20000", 'start "%s"' % windows_path(exe), 'wait-window "%s"' % CAPTION] + script
        path = os.path.join(self.dir, "script.txt")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        # Files, not pipes: wine's helper processes inherit the handles.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([WINE, UIDRIVER, windows_path(path)], stdout=out, stderr=err,
                                  stdin=subprocess.DEVNULL, cwd=self.dir, timeout=120).returncode
            out.seek(0)
            err.seek(0)
            text = out.read().decode("utf-8", errors="replace")
            errors = err.read().decode("utf-8", errors="replace")
        results = [json.loads(line) for line in text.splitlines() if line.startswith("{")]
        self.assertEqual(code, 0, "driver failed: %s\n%s" % (errors, text[-3000:]))
        return results

    @staticmethod
    def result(results, cmd, index=0):
        """The index-th result of the command cmd."""
        return [r for r in results if r.get("cmd") == cmd][index]
