"""Where sfxmake writes: extract stays inside -d whatever links, files or pipes
it finds there, and replaces an existing file only with a sound member; build
writes its program through a temporary file nobody could plant anything at,
and names the user's file when it cannot."""
import os
import subprocess
import unittest
import zipfile
from pathlib import Path

from sfxmaketest import SfxmakeCase, sfxtest, zip_members


class Extract(SfxmakeCase):
    def program(self, members, name="p.exe", **kwargs):
        exe = self.path(name)
        self.sfxmake("build", "-q", "-o", exe, zip_members(self.path(name + ".zip"), members, **kwargs))
        return exe

    def test_nothing_is_written_outside_the_folder(self):
        elsewhere = sfxtest.write_tree(self.path("elsewhere"), {"victim.txt": b"victim"})
        out = self.path("out")
        os.makedirs(out)
        # member name, what is planted in out before, what the member's line says
        cases = [
            ("a/evil.txt", lambda: os.symlink(elsewhere, os.path.join(out, "a")), "a is a link"),
            ("f.txt", lambda: os.symlink(os.path.join(elsewhere, "victim.txt"), os.path.join(out, "f.txt")),
             "f.txt is a link"),
            ("g.txt", lambda: os.symlink(os.path.join(elsewhere, "new.txt"), os.path.join(out, "g.txt")),
             "g.txt is a link"),
            ("p.txt", lambda: os.mkfifo(os.path.join(out, "p.txt")), "p.txt is not a plain file"),
        ]
        for _, plant, _ in cases:
            plant()
        exe = self.program({**{name: b"evil" for name, _, _ in cases}, "ok.txt": b"fine"})
        run = self.sfxmake("extract", "-q", exe, "-d", out, expect=1)
        for name, _, says in cases:
            self.assertIn(f"FAIL {name}: refused: {says}".encode(), run.stdout)
        self.assertIn(b"1 member extracted, 4 failed", run.stdout)
        self.assertEqual(sfxtest.read_tree(elsewhere), {"victim.txt": b"victim"})
        self.assertEqual(Path(out, "ok.txt").read_bytes(), b"fine")
        self.assertEqual(sorted(os.listdir(out)), ["a", "f.txt", "g.txt", "ok.txt", "p.txt"])

    def full_disk(self):
        """A folder on a tmpfs of 1 MiB, or a skip where mounting is not permitted."""
        folder = self.path("small")
        os.makedirs(folder)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", folder], capture_output=True).returncode:
            self.skipTest("mounting a tmpfs is not permitted here")
        self.addCleanup(subprocess.run, ["umount", folder], check=True)
        return folder

    def test_a_failed_member_leaves_the_existing_file_as_it_was(self):
        stored = self.program({"a.txt": b"A" * 5000}, name="crc.exe", compression=zipfile.ZIP_STORED)
        with open(stored, "r+b") as f:
            f.seek(f.read().index(b"A" * 100) + 10)
            f.write(b"B")
        self.sfxmake("build", "-q", "-o", self.path("pw.exe"), "--password", "right", self.tree({"a.txt": b"secret"}))
        cases = {  # what fails: (program, options, folder, what the member's line says)
            "wrong password": (self.path("pw.exe"), ["--password", "wrong"], lambda: self.path("pw"), b"FAIL a.txt"),
            "CRC": (stored, [], lambda: self.path("crc"), b"FAIL a.txt: CRC-32 mismatch"),
            "full disk": (self.program({"a.txt": os.urandom(2 << 20)}, name="big.exe"), [], self.full_disk,
                          b"FAIL a.txt: cannot write the output"),
        }
        for what, (exe, options, folder, says) in cases.items():
            with self.subTest(what):
                out = sfxtest.write_tree(folder(), {"a.txt": b"original"})
                run = self.sfxmake("extract", "-q", exe, "-d", out, *options, expect=1)
                self.assertEqual(sfxtest.read_tree(out), {"a.txt": b"original"}, "no temporary file stays either")
                self.assertIn(says, run.stdout)
                self.assertIn(b"0 members extracted, 1 failed", run.stdout)


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
