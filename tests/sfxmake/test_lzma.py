"""LZMA members in sfxmake: build wraps archives from 7-Zip and Python's zipfile,
info names each member's method, test and extract decode them; a damaged member
and one whose dictionary the system cannot give fail with their reason, and
extract leaves the file they would have replaced as it was."""
import json
import unittest
import zipfile

from sfxmaketest import SfxmakeCase, sfxtest, zip_members


class LzmaMembers(SfxmakeCase):
    def test_archives_of_every_writer(self):
        archive, files = sfxtest.lzma_archive(self.dir)
        exe = self.round_trip(archive, files, adjust=False)
        shown = {m["name"]: m["method"] for m in json.loads(self.sfxmake("info", "--json", exe).stdout)["members"]}
        names = {0: "stored", zipfile.ZIP_LZMA: "lzma"}
        self.assertEqual(shown, {i.filename: "folder" if i.is_dir() else names[i.compress_type]
                                 for i in zipfile.ZipFile(archive).infolist()})

    def test_member_failures_are_reported_and_keep_the_old_file(self):
        cases = {"damaged": (sfxtest.damage_member, "CRC-32 mismatch", None),
                 "greedy": (sfxtest.demand_dictionary, "its LZMA dictionary needs more memory than the system gives",
                            1 << 30)}
        files = {"a.txt": b"fine a", "b.txt": b"the member that fails " * 2000, "c.txt": b"fine c"}
        for case, (spoil, reason, memory) in cases.items():
            with self.subTest(case):
                archive = zip_members(self.path(f"{case}.zip"), files, compression=zipfile.ZIP_LZMA)
                spoil(archive, "b.txt")
                exe = self.path(f"{case}.exe")
                self.sfxmake("build", "-q", "-o", exe, archive)
                out = self.path(f"{case}-out")
                sfxtest.write_tree(out, {"b.txt": b"original"})
                for command in (["test", exe], ["extract", "-q", exe, "-d", out]):
                    run = self.sfxmake(*command, expect=1, memory=memory)
                    self.assertIn(f"FAIL b.txt: {reason}\n".encode(), run.stdout)
                self.assertIn(b"2 members extracted, 1 failed", run.stdout)
                self.assertEqual(sfxtest.read_tree(out), {"a.txt": b"fine a", "b.txt": b"original", "c.txt": b"fine c"})


if __name__ == "__main__":
    unittest.main()
