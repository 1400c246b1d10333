"""Where sfxmake writes: build writes its program through a temporary file
nobody could plant anything at, and names the user's file when it cannot."""
import os
import unittest
from pathlib import Path

from sfxmaketest import SfxmakeCase, zip_members


class Build(SfxmakeCase):
    def test_the_output_goes_through_a_temporary_file_of_its_own(self):
        archive = zip_members(self.path("a.zip"), {"a.txt": b"a"})
        victim = self.path("victim.txt")
        Path(victim).write_bytes(b"victim")
        os.makedirs(self.path("out"))
        os.symlink(victim, self.path("out", "p.exe.sfxmake-tmp"))
        self.sfxmake("build", "-o", self.path("out", "p.exe"), archive)
        self.assertEqual(Path(victim).read_bytes(), b"victim")
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["p.exe", "p.exe.sfxmake-tmp"])
        self.assertIn(b"1 member tested, 0 failed", self.sfxmake("test", self.path("out", "p.exe")).stdout)
        # An output that cannot be made is reported as what the user asked for.
        run = self.sfxmake("build", "-o", self.path("missing", "p.exe"), archive, expect=2)
        self.assertIn(f"cannot create {self.path('missing', 'p.exe')}: No such file".encode(), run.stderr)


if __name__ == "__main__":
    unittest.main()
