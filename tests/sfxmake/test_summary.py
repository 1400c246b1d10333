"""What a build says when it is done: one line on stdout, one JSON object with
--json, nothing with -q; and what info shows of the title the user will see."""
import json
import os
import re
import unittest
import zipfile

from sfxmaketest import SAMPLE, SfxmakeCase, zip_members

SAMPLE_BYTES = sum(len(data) for data in SAMPLE.values())


class Summary(SfxmakeCase):
    def test_line_and_json_object(self):
        folder = self.tree(SAMPLE)
        archive = zip_members(self.path("in.zip"), {"a.txt": b"a" * 3000, "d/": b"", "d/b.txt": b"b"},
                              compression=zipfile.ZIP_STORED)
        cases = (  # (input, options, what the line says between the name and the time, JSON fields)
            (folder, ["--method", "deflate"],
             r"4 files, 4 folders; 76\.6 KiB into \d+\.\d KiB \(\d+%\); deflate \(1 stored\); not encrypted",
             {"files": 4, "folders": 4, "input_bytes": SAMPLE_BYTES, "method": "deflate",
              "methods": {"deflate": 3, "stored": 1}, "encrypted": False, "encryption": "none", "encrypted_files": 0}),
            (folder, ["--method", "store", "--password", "pw", "--encryption", "zipcrypto"],
             r"4 files, 4 folders; 76\.6 KiB into \d+\.\d KiB \(\d+%\); stored; ZipCrypto",
             {"method": "stored", "encryption": "ZipCrypto", "encrypted": True, "encrypted_files": 4}),
            # A folder entry stays unless it is excluded itself.
            (archive, ["--exclude", "b.txt"], r"1 file, 1 folder; 2\.9 KiB into \d+\.\d KiB \(\d+%\); stored; not encrypted",
             {"files": 1, "folders": 1, "input_bytes": 3000, "methods": {"stored": 1}}),
        )
        exe = self.path("out.exe")
        for source, options, says, fields in cases:
            with self.subTest(options=options):
                line = self.sfxmake("build", "-o", exe, *options, source).stdout.decode()
                self.assertRegex(line, r"\A%s: %s; \d+\.\d s\n\Z" % (re.escape(exe), says))
                summary = json.loads(self.sfxmake("build", "-q", "--json", "-o", exe, *options, source).stdout)
                self.assertLessEqual(fields.items(), summary.items())
                self.assertEqual((summary["output"], summary["output_bytes"]), (exe, os.path.getsize(exe)))
                self.assertAlmostEqual(summary["ratio"], summary["output_bytes"] / summary["input_bytes"], places=3)
                self.assertEqual(self.sfxmake("build", "-q", "-o", exe, *options, source).stdout, b"")

    def test_info_shows_the_title_the_user_will_see(self):
        archive = zip_members(self.path("in.zip"), {"a.txt": b"a"})
        exe = self.path("out.exe")
        for options, stored, line in ((["--title", "Demo"], "Demo", 'title:          "Demo"\n'),
                                      ([], "", 'title:          "Unzip to disk" (default)\n')):
            with self.subTest(options=options):
                self.sfxmake("build", "-q", "-o", exe, *options, archive)
                self.assertIn(line.encode(), self.sfxmake("info", exe).stdout)
                config = json.loads(self.sfxmake("info", "--json", exe).stdout)["config"]
                self.assertEqual((config["title"], config["title_shown"]), (stored, stored or "Unzip to disk"))


if __name__ == "__main__":
    unittest.main()
