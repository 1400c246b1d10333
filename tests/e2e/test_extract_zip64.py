"""ZIP64 records from a streaming writer unpacked by the stub: Info-ZIP zip
reading from a pipe writes a ZIP64 end record and locator although every size
fits in 32 bits; with both offset bases. (A member over 4 GiB: test_extract_large.)"""
import os
import subprocess
import unittest
from pathlib import Path

import sfxtest
from extractcase import ExtractCase


class Zip64(ExtractCase):
    def test_streamed_layout_with_both_offset_bases(self):
        files = {"a.txt": b"streamed " * 100, "b.bin": bytes(range(256)) * 40}
        source = self.tree(files)
        archive = self.path("piped.zip")
        with open(archive, "wb") as out:
            subprocess.run("cat a.txt | zip -q - - && true", shell=True, cwd=source, check=True, stdout=out)
        data = Path(archive).read_bytes()
        self.assertIn(b"PK\x06\x07", data, "the writer no longer leaves a ZIP64 locator")
        for options in ((), ("--adjust-offsets",)):
            with self.subTest(options=options):
                exe = self.sfx(archive, *options, name=f"piped{len(options)}.exe", overwrite="overwrite",
                               options=sfxtest.OPT_AUTO_UNZIP)
                self.assertEqual(self.exit_code(self.start(exe)), 0)
                self.assertEqual(Path(self.target, "-").read_bytes(), files["a.txt"])


if __name__ == "__main__":
    unittest.main()
