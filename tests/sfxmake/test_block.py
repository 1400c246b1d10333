"""The configuration block sfxmake writes between the stub and the archive,
checked byte for byte against an independent reading of the layout."""
import json
import os
import unittest
from pathlib import Path

from sfxmaketest import STUB32, STUB64, PeImage, SfxmakeCase, image_end, read_block
import pefile  # noqa: E402 (found through sfxtest's path)


class BlockLayout(SfxmakeCase):
    def setUp(self):
        super().setUp()
        if not os.path.exists(STUB32):
            self.skipTest("no 32-bit stub built")
        self.zip = self.zip_infozip(self.tree({"a.txt": b"hello\n", "dir/b.bin": bytes(range(256)) * 50}), name="in.zip")

    def build(self, *options, stub=None):
        out = self.path("out.exe")
        self.sfxmake("build", "--stub", stub or STUB32, "-o", out, *options, self.zip)
        return Path(out).read_bytes()

    def test_every_field_lands_where_the_stub_reads_it(self):
        data = self.build("--title", "Demo", "--folder", "$temp$\\demo", "--run", "setup.exe /quiet",
                          "--question", "Install Demo?", "--question-style", "ok-cancel,information",
                          "--overwrite", "skip", "--run-checkbox", "--select-files", "--hide-overwrite", "--auto",
                          "--no-done-message", "--hide-file-list", "--no-show-files", "--allow-cancel")
        b = read_block(data)
        self.assertEqual(b["signature"], b"QF\x00\x01")
        self.assertEqual(b["options"], 0x02DF)
        self.assertEqual((b["mode"], b["reserved"], b["style"]), (1, 0, 0x41))
        self.assertEqual((b["title"], b["folder"], b["run"], b["question"]),
                         (b"Demo", b"$temp$\\demo", b"setup.exe /quiet", b"Install Demo?"))
        self.assertEqual(b["trailer"], b["texts_end"], "no filler: the trailer follows the texts")
        self.assertEqual(b["trailer_bytes"], b"QF\x0a\x01" + b["trailer"].to_bytes(4, "little"))
        stub = Path(STUB32).read_bytes()
        archive = Path(self.zip).read_bytes()
        # The image as it is, but for the checksum, which now covers the whole file.
        at = PeImage(data).checksum_at
        self.assertEqual(data[:at] + data[at + 4:len(stub)], stub[:at] + stub[at + 4:])
        self.assertEqual(int.from_bytes(data[at:at + 4], "little"), pefile.PE(data=data).generate_checksum())
        self.assertEqual(data[b["archive_start"]:], archive)

    def test_defaults_and_numeric_forms(self):
        b = read_block(self.build())
        self.assertEqual((b["options"], b["mode"], b["title"], b["question"]), (0, 2, b"", b""))
        b = read_block(self.build("--overwrite", "0", "--options", "0x0100", "--auto", "--question-style", "0x124"))
        self.assertEqual((b["options"], b["mode"], b["style"]), (0x0108, 0, 0x124))

    def test_waiting_and_what_it_implies(self):
        # Cleaning up and waiting for the whole tree wait for the program; a
        # $TEMP folder is cleaned up after a wait. `info` names the bits, in a list.
        cases = {("--wait",): (0x0800, "wait"), ("--wait-all",): (0x1800, "wait wait-all"),
                 ("--cleanup",): (0x2800, "wait cleanup"), ("--wait", "--folder", "$TEMP"): (0x2800, "wait cleanup"),
                 ("--folder", "$TEMP"): (0, "none")}
        for options, (bits, names) in cases.items():
            with self.subTest(options=options):
                self.assertEqual(read_block(self.build("--run", "setup.exe", *options))["options"], bits)
                info = json.loads(self.sfxmake("info", "--json", self.path("out.exe")).stdout)["config"]
                self.assertEqual(info["option_names"], names.split() if names != "none" else [])
                self.assertEqual(info["option_names_text"], names)  # the old form, kept for one release

    def test_64_bit_stub_block_starts_at_its_image_end(self):
        if not os.path.exists(STUB64):
            self.skipTest("no 64-bit stub built")
        data = self.build("--title", "x", stub=STUB64)
        self.assertEqual(image_end(data), len(Path(STUB64).read_bytes()))
        self.assertEqual(read_block(data)["title"], b"x")

    def test_longest_text_fits_and_one_more_byte_is_refused(self):
        self.assertEqual(read_block(self.build("--run", "r" * 255))["run"], b"r" * 255)
        os.remove(self.path("out.exe"))
        for field in ("--title", "--folder", "--run", "--question"):
            self.refused("255", "--stub", STUB32, field, "x" * 256, self.zip)

    def test_unknown_option_and_bad_values_write_nothing(self):
        for bad in (["--fast"], ["--overwrite", "sometimes"], ["--question-style", "yes-maybe"],
                    ["--options", "0x10000"], ["--auto=1"]):
            self.assertTrue(self.refused("", "--stub", STUB32, *bad, self.zip).stderr.strip(), bad)


if __name__ == "__main__":
    unittest.main()
