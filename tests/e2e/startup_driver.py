"""startup_driver.py -- what the start-up tests share: building SFX files with
sfxmake around this build's 64-bit stub, and running them under wine through the
UI driver, whose JSON lines come back as dictionaries.

They run inside the session of tests/wine-env.sh (its DISPLAY and WINEPREFIX);
without one, or without the built programs, they are skipped."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

from startup_archives import archive_start

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SFXMAKE = os.environ.get("SFXMAKE") or os.path.join(ROOT, "dist", "sfxmake")
STUB64 = os.environ.get("SFX_STUB64") or os.path.join(ROOT, "dist", "sfxstub64.exe")
UIDRIVER = os.environ.get("SFX_UIDRIVER") or os.path.join(ROOT, "build", "win64", "tests", "driver", "uidriver.exe")
WINE = os.environ.get("SFX_WINE", "wine")

MAIN_CAPTION = "Extracting files..."
CORRUPT = "Cannot unzip: file is corrupt."


def windows_path(path):
    """The Z: path under which wine sees a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class StartupCase(unittest.TestCase):
    def setUp(self):
        if not (os.environ.get("WINEPREFIX") and os.environ.get("DISPLAY")):
            self.skipTest("no wine session: run under tests/wine-env.sh")
        for tool in (SFXMAKE, STUB64, UIDRIVER):
            if not os.path.exists(tool):
                self.skipTest(tool + " is not built")
        self.dir = tempfile.mkdtemp(prefix="sfx-startup-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def build(self, archive, *options, name="sfx.exe"):
        """An SFX of this build's 64-bit stub with the archive appended as it is."""
        exe = self.path(name)
        run = subprocess.run([SFXMAKE, "build", "-q", "--stub", STUB64, "-o", exe, *options, archive],
                             capture_output=True)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace"))
        return exe

    def build_around(self, archive, *options, name="sfx.exe"):
        """An SFX carrying an archive that sfxmake would refuse: built around a
        harmless archive, whose place the given one then takes as it is."""
        harmless = self.path("harmless.zip")
        with zipfile.ZipFile(harmless, "w") as z:
            z.writestr("x", b"x")
        exe = self.build(harmless, *options, name=name)
        with open(exe, "rb") as f:
            data = f.read()
        with open(archive, "rb") as f:
            data = data[:archive_start(data)] + f.read()
        with open(exe, "wb") as f:
            f.write(data)
        return exe

    def drive(self, exe, script, timeout=120):
        """Runs the driver on exe with the script's lines after its start; returns
        (driver exit code, {command: result of its last run}, all results)."""
        lines = ['timeout 15000', f'start "{windows_path(exe)}" cwd="{windows_path(self.dir)}"', *script]
        script_path = self.path("script.txt")
        with open(script_path, "w") as f:
            f.write("\n".join(lines) + "\n")
        # Output goes to files, not pipes: wine's helper processes inherit the
        # handles and would keep a pipe open long after the program ended.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([WINE, UIDRIVER, windows_path(script_path)], stdout=out, stderr=err,
                                  stdin=subprocess.DEVNULL, cwd=self.dir, timeout=timeout).returncode
            out.seek(0)
            results = [json.loads(line) for line in out.read().decode("utf-8").splitlines() if line.strip()]
        failures = [r for r in results if "error" in r]
        self.assertEqual(code, 0, failures or results)
        return {r["cmd"]: r for r in results}, results

    # Script pieces -----------------------------------------------------------

    def close_main_dialog(self):
        return [f'wait-window "{MAIN_CAPTION}"', "press id=2", "wait-exit"]

    def assert_corrupt(self, exe, before=()):
        """The file is reported damaged in an error box, and the process ends with 1."""
        last, _ = self.drive(exe, [*before, 'wait-msgbox "Error"', "press OK", "wait-exit"])
        box = last["wait-msgbox"]
        self.assertEqual(box["text"], CORRUPT)
        self.assertEqual(box["icon"], "hand")
        self.assertEqual(last["wait-exit"]["exit_code"], 1)

    def list_rows(self, exe):
        """(name, size) of every row of the running main dialog's file list."""
        last, _ = self.drive(exe, [f'wait-window "{MAIN_CAPTION}"', "rows 401", "press id=2", "wait-exit"])
        self.assertEqual(last["wait-exit"]["exit_code"], 0)
        return [tuple(row["cells"][:2]) for row in last["rows"]["rows"]]
