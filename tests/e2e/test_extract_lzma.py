"""LZMA members (method 14) as 7-Zip and Python's zipfile write them, with and
without the end marker, unzipped by the real stub; a damaged one is caught by
its CRC-32 and leaves the file it would have replaced as it was; one whose
dictionary the system cannot give fails alone, with a message."""
import unittest
import zipfile

import sfxtest
from extractcase import ExtractCase
from sfxtest import ERROR_CAPTION, incomplete_script, q, windows_path


class LzmaMembers(ExtractCase):
    def test_members_of_every_writer_in_automatic_mode(self):
        # A scenario of tests/guest as well.
        archive, files = sfxtest.lzma_archive(self.dir)
        exe = self.sfx(archive, overwrite="overwrite", options=sfxtest.OPT_AUTO_UNZIP | sfxtest.OPT_NO_DONE_MESSAGE)
        run = yield f"start {q(exe)}\nwait-exit timeout=240000"
        self.assertEqual(self.exit_code(run), 0)
        self.assertExtracted(archive, files)

    def test_member_failures_leave_the_rest(self):
        # Each failing member shows its box, keeps its row selected and replaces
        # no existing file; the members around it are unpacked.
        cases = {
            "damaged": (sfxtest.damage_member, "CRC-32 error in %s", None),
            # Wine needs about 2 GB of address space for itself; 3 GB leaves no room
            # for the member's 3.75 GB dictionary.
            "greedy": (sfxtest.demand_dictionary, "Not enough memory to unzip %s", 3 << 30),
        }
        files = {"a.txt": b"fine a", "b.txt": b"the member that fails " * 2000, "c.txt": b"fine c"}
        for case, (spoil, message, memory) in cases.items():
            with self.subTest(case):
                archive = self.zip_members(files, name=f"{case}.zip", compression=zipfile.ZIP_LZMA)
                spoil(archive, "b.txt")
                exe = self.sfx(archive, name=f"{case}.exe", overwrite="overwrite", folder=windows_path(self.path(case)),
                               options=sfxtest.OPT_HIDE_FILE_LIST)
                sfxtest.write_tree(self.path(case), {"b.txt": b"original"})
                run = self.drive(incomplete_script(exe, "wait-msgbox\npress OK"), memory=memory)
                box = run.result("wait-msgbox")
                self.assertEqual((box["caption"], box["text"]),
                                 (ERROR_CAPTION, message % (windows_path(self.path(case)) + "\\b.txt")))
                self.assertEqual(sfxtest.read_tree(self.path(case)),
                                 {"a.txt": b"fine a", "b.txt": b"original", "c.txt": b"fine c"})
                self.assertEqual(run.selected(), ["b.txt"])
                self.assertEqual(self.exit_code(run), 0)


if __name__ == "__main__":
    unittest.main()
