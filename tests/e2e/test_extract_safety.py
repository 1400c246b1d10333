"""Nothing lost, nothing misreported: a file already in the target is replaced
only by a member that proved sound (not by a damaged one, not on a full disk),
an automatic run that leaves members behind says so in its exit code, and a
folder typed with a trailing '/' works."""
import os
import subprocess
import unittest

import sfxtest
from extractcase import ExtractCase
from sfxtest import CORRUPT, ERROR_CAPTION, q, raw_archive, stored_member, windows_path

ORIGINAL = b"the user's own file\r\n" * 400  # 8400 bytes


class ExistingFiles(ExtractCase):
    """Each test also checks that no temporary file is left behind in the target."""

    def test_damaged_member_leaves_the_original(self):
        self.existing({"keep.txt": ORIGINAL})
        local, central = stored_member("keep.txt", b"a damaged replacement", crc=0x1234)
        exe = self.sfx(raw_archive(self.path("bad.zip"), [(local, central), stored_member("new.txt", b"new")]),
                       crafted=True, overwrite="overwrite")
        run = self.unzip(exe, "wait-msgbox\npress OK\nwait-window *\nwait-state 2 enabled 1\npress id=2")
        box = run.result("wait-msgbox")
        self.assertEqual((box["caption"], box["text"]),
                         (ERROR_CAPTION, f"CRC-32 error in {windows_path(self.target)}\\keep.txt"))
        self.assertEqual(sfxtest.read_tree(self.target), {"keep.txt": ORIGINAL, "new.txt": b"new"})

    def test_sound_member_replaces_the_original_with_its_time(self):
        self.existing({"a.txt": ORIGINAL})
        archive = self.zip_infozip(self.tree({"a.txt": b"replacement"}))
        exe = self.sfx(archive, overwrite="overwrite", options=sfxtest.OPT_NO_DONE_MESSAGE)
        self.assertEqual(self.exit_code(self.unzip(exe)), 0)
        self.assertExtracted(archive, {"a.txt": b"replacement"})

    def test_full_disk_leaves_the_original(self):
        os.makedirs(self.target)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=96k", "tmpfs", self.target]).returncode != 0:
            self.skipTest("no tmpfs can be mounted here")
        self.addCleanup(subprocess.run, ["umount", "-l", self.target])
        self.existing({"big.bin": ORIGINAL})
        big = os.urandom(300000)
        exe = self.sfx(self.zip_infozip(self.tree({"big.bin": big})), overwrite="overwrite")
        run = self.unzip(exe, "wait-msgbox\npress OK")
        box = run.result("wait-msgbox")
        self.assertEqual((box["caption"], box["text"]),
                         (ERROR_CAPTION, f"Cannot write to {windows_path(self.target)}\\big.bin"))
        self.assertEqual(self.exit_code(run), 1)
        self.assertEqual(sfxtest.read_tree(self.target), {"big.bin": ORIGINAL})


class Outcome(ExtractCase):
    def test_automatic_run_that_skips_a_member_exits_2(self):
        self.existing({"b.txt": b"old"})
        exe = self.sfx(self.zip_infozip(self.tree({"a.txt": b"a", "b.txt": b"b"})), overwrite="skip",
                       options=sfxtest.OPT_AUTO_UNZIP, run="never-started.exe")
        self.assertEqual(self.exit_code(self.start(exe)), 2)
        self.assertEqual(sfxtest.read_tree(self.target), {"a.txt": b"a", "b.txt": b"old"})

    def test_automatic_run_with_a_refused_name_exits_2(self):
        archive = raw_archive(self.path("r.zip"), [stored_member("ok.txt", b"ok"), stored_member("CON.txt", b"x")])
        exe = self.sfx(archive, crafted=True, options=sfxtest.OPT_AUTO_UNZIP)
        self.assertEqual(self.exit_code(self.start(exe, "wait-msgbox\npress OK")), 2)

    def test_folder_typed_with_a_trailing_slash(self):
        files = {"a.txt": b"a", "sub/b.txt": b"b"}
        exe = self.sfx(self.zip_infozip(self.tree(files)), options=sfxtest.OPT_NO_DONE_MESSAGE)
        run = self.start(exe, f"wait-window *\ntype 201 {q(windows_path(self.target) + '/')}\npress id=1")
        self.assertEqual(self.exit_code(run), 0)
        self.assertEqual(sfxtest.read_tree(self.target), files)


if __name__ == "__main__":
    unittest.main()
