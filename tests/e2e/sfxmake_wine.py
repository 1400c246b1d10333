"""What the wine-side sfxmake tests share: the tools they run, a scratch folder
per test, and running a finished program under wine until it ends by itself.

They run inside the session of tests/wine-env.sh (its DISPLAY and WINEPREFIX);
without one they are skipped."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sfxmake"))
from sfxmaketest import SAMPLE, STUB64  # noqa: E402

SFXMAKE = os.environ.get("SFXMAKE", "")
SFXMAKE_EXE = os.environ.get("SFXMAKE_EXE", "")
WINE = os.environ.get("SFX_WINE", "wine")
# The finished stub shows this after a run; a stub without it cannot unpack yet.
EXTRACTION_MARKER = b"All files have been unzipped."


def windows_path(path):
    """The Z: path under which wine sees a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineCase(unittest.TestCase):
    def setUp(self):
        if not (os.environ.get("WINEPREFIX") and os.environ.get("DISPLAY")):
            self.skipTest("no wine session: run under tests/wine-env.sh")
        if not os.path.exists(SFXMAKE):
            self.skipTest("SFXMAKE does not name a built sfxmake")
        self.dir = tempfile.mkdtemp(prefix="sfxmake-wine-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def sfxmake(self, *args, expect=0):
        run = subprocess.run([SFXMAKE, *args], capture_output=True, cwd=self.dir)
        self.assertEqual(run.returncode, expect, run.stderr.decode(errors="replace"))
        return run

    def wine(self, *args, timeout=120):
        # Output goes to files, not pipes: wine's helper processes inherit the
        # handles and would keep a pipe open long after the program ended.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([WINE, *args], stdout=out, stderr=err, stdin=subprocess.DEVNULL, cwd=self.dir,
                                  timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(args, code, out.read(), err.read())

    def tree(self, files, root="in"):
        for name, data in files.items():
            full = os.path.join(self.dir, root, name)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
        return self.path(root)

    def require_extracting_stub(self):
        with open(STUB64, "rb") as f:
            if EXTRACTION_MARKER not in f.read():
                self.skipTest("the 64-bit stub of this build does not extract yet")

    def unpack_under_wine(self, exe):
        """Runs an --auto program and returns its exit code; it closes by itself."""
        return self.wine(exe).returncode

    def assert_tree(self, folder, files):
        for name, data in files.items():
            with open(os.path.join(folder, name), "rb") as f:
                self.assertEqual(f.read(), data, name)

    def auto_options(self, target):
        """A run that needs nobody: unpack to target at once, replace, close, report nothing."""
        return ["--auto", "--overwrite", "overwrite", "--no-done-message", "--folder", windows_path(target)]
