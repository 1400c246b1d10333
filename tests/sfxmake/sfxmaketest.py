"""What sfxmake's command-line tests share: the helpers of tests/e2e/sfxtest.py
(scratch folders, archives, the block reader), found through the path set here,
and a test case that needs the native sfxmake but no wine session."""
import os
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

import sfxtest  # noqa: E402
from sfxtest import SAMPLE, STUB32, STUB64, PeImage, image_end, read_block, zip_members  # noqa: E402,F401


def counted(files):
    """How sfxmake counts files: b"1 member", b"4 members"."""
    return b"%d member%s" % (len(files), b"" if len(files) == 1 else b"s")


class SfxmakeCase(sfxtest.ScratchCase):
    """A scratch folder and sfxmake; skipped where sfxmake is not built."""

    def setUp(self):
        if not os.path.exists(sfxtest.SFXMAKE):
            self.skipTest(f"{sfxtest.SFXMAKE} is not built")
        super().setUp()

    def refused(self, needle, *args):
        """sfxmake build -o out.exe with args exits 2, says needle and writes nothing."""
        before = sorted(os.listdir(self.dir))
        run = self.sfxmake("build", "-o", self.path("out.exe"), *args, expect=2)
        self.assertIn(needle.encode(), run.stderr)
        self.assertEqual(sorted(os.listdir(self.dir)), before, "nothing may be written")
        return run

    def check_extracts(self, exe, files, *options, times=None):
        """extract (with options) gives files back; times, when given, is the
        last-write time (POSIX) of every one."""
        out = self.path("x-" + os.path.basename(exe))
        run = self.sfxmake("extract", "-q", exe, "-d", out, *options)
        self.assertIn(counted(files) + b" extracted, 0 failed", run.stdout)
        for name, data in files.items():
            path = os.path.join(out, name)
            self.assertEqual(Path(path).read_bytes(), data, name)
            if times:
                self.assertEqual(int(os.stat(path).st_mtime), times, name)

    def round_trip(self, archive, files, adjust, times=None, zip64_end=False, extract=True):
        """build (with or without --adjust-offsets), info, test and, with extract,
        extract of archive; info tells of a ZIP64 end record just when zip64_end."""
        exe = self.path(os.path.basename(archive) + ("-adj" if adjust else "") + ".exe")
        self.sfxmake("build", "-q", "-o", exe, *(["--adjust-offsets"] if adjust else []), archive)
        info = self.sfxmake("info", exe).stdout.decode()
        self.assertEqual("(ZIP64)" in info, zip64_end)
        self.assertIn("file start" if adjust else "the archive\n", info)
        self.assertIn(counted(files) + b" tested, 0 failed", self.sfxmake("test", "-q", exe).stdout)
        if extract:
            self.check_extracts(exe, files, times=times)
        if adjust:  # offsets from the file start: other tools read it as well
            subprocess.run(["unzip", "-tq", exe], check=True, capture_output=True)
        return exe
