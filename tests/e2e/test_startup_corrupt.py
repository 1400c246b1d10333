"""Damaged SFX files: every kind of damage in the configuration block or the
archive directory ends in "Cannot unzip: file is corrupt." and exit code 1."""
import struct
import unittest
import zipfile

from sfxtest import END_SIGNATURE, end_record, first_central_record, image_end, read_block
from startup_driver import StartupCase


class DamagedFile(StartupCase):
    def setUp(self):
        super().setUp()
        self.archive = self.zip_infozip(self.tree({"a.txt": b"alpha", "dir/b.txt": b"beta"}))

    def damaged(self, change, *options, name="damaged.exe"):
        """An SFX whose bytes `change` (bytearray -> bytearray or None) altered."""
        exe = self.sfx(self.archive, *options, name=name)
        with open(exe, "rb") as f:
            data = bytearray(f.read())
        data = change(data) or data
        with open(exe, "wb") as f:
            f.write(data)
        return exe

    def test_block_damage(self):
        def header(d):
            d[image_end(d) + 1] ^= 0xFF

        cases = {
            "header signature": header,
            "ends inside the header": lambda d: d[:image_end(d) + 10],
            "ends inside a text": lambda d: d[:image_end(d) + 18 + 5],  # the title is longer
        }
        for name, change in cases.items():
            with self.subTest(name):
                self.assert_corrupt(self.damaged(change, "--title", "A long enough title"))

    def test_damaged_trailer_after_the_question(self):
        def trailer(d):
            d[read_block(d)["archive_start"] - 8] ^= 0xFF

        exe = self.damaged(trailer, "--title", "Q", "--question", "Go on?", "--question-style", "yes-no")
        self.assert_corrupt(exe, before=['wait-msgbox "Q"', "press Yes"])
        last = self.run_program(exe, ['wait-msgbox "Q"', "press No", "wait-exit"])
        self.assertEqual(last["wait-exit"]["exit_code"], 0)  # declined: no word about the damage

    def test_no_end_record(self):
        cases = {
            # The end record lies one byte before the 65558 bytes searched.
            "beyond the window": lambda d: d + b"\0" * 65537,
            "archive too short": lambda d: d[:read_block(d)["archive_start"] + 22],
            "signature damaged": lambda d: d.__setitem__(end_record(d) + 3, 0x07),
        }
        for name, change in cases.items():
            with self.subTest(name):
                self.assert_corrupt(self.damaged(change))

    def test_end_record_at_the_edge_of_the_window_is_found(self):
        # 65558 bytes from the record's start to the file's end: the last place searched.
        exe = self.damaged(lambda d: d + b"\0" * 65536)
        self.assertEqual(len(self.list_rows(exe)), 2)

    def test_directory_damage(self):
        def record_signature(d):
            d[first_central_record(d) + 2] = 0x07

        def zero_name(d):
            struct.pack_into("<H", d, first_central_record(d) + 28, 0)

        def no_entries(d):
            struct.pack_into("<HH", d, end_record(d) + 8, 0, 0)

        def too_many_entries(d):
            struct.pack_into("<HH", d, end_record(d) + 8, 9, 9)

        def short_directory_size(d):
            e = end_record(d)
            size, = struct.unpack_from("<I", d, e + 12)
            struct.pack_into("<I", d, e + 12, size - 1)

        cases = {"record signature": record_signature, "zero-length name": zero_name, "no entries": no_entries,
                 "more entries than records": too_many_entries, "wrong directory size": short_directory_size}
        for name, change in cases.items():
            with self.subTest(name):
                self.assert_corrupt(self.damaged(change))

    def test_name_longer_than_520_bytes(self):
        self.archive = self.zip_members([("n" * 516 + ".txt", b"fits"), ("n" * 517 + ".txt", b"too long")])
        self.assert_corrupt(self.sfx(self.archive, crafted=True))

    def test_end_signature_in_the_last_members_data_counts(self):
        # Stored, so the bytes stand as they are: an end record claiming 0 entries.
        fake = END_SIGNATURE + b"\0" * 18
        self.archive = self.zip_members([("a.txt", b"alpha"), ("b.bin", b"data" + fake + b"more")],
                             compression=zipfile.ZIP_STORED)
        self.assert_corrupt(self.sfx(self.archive, crafted=True))


if __name__ == "__main__":
    unittest.main()
