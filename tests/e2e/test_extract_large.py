"""ZIP64 and big members. ZIP64 records from a streaming writer: Info-ZIP zip
reading from a pipe writes a ZIP64 end record and locator although every size
fits in 32 bits; unpacked with both offset bases.

Big stored members, their CRC-32 checked: one of 3 GiB in an archive without
ZIP64 (Python's zipfile would switch to ZIP64 above 2 GiB, so the archive is
written here), whose compressed size reads as negative in a signed 32-bit count
and whose data and end of archive lie beyond the first 2 GiB of the program
file; and one of 4 GiB + 64 MiB named through ZIP64 fields, end record and
locator. Each takes a minute or two under wine and twice its size in disk
(program and output): skipped when the build disk lacks the room."""
import os
import struct
import subprocess
import unittest
import zlib
from pathlib import Path

import sfxtest
from extractcase import ExtractCase
from sfxtest import stored_member

CHUNK = 1024 ** 2


def chunk(i):
    """The i-th MiB of a member: different in every MiB, cheap to make again."""
    return i.to_bytes(4, "little") * (CHUNK // 4)


class Zip64Streamed(ExtractCase):
    def test_streamed_layout_with_both_offset_bases(self):
        files = {"a.txt": b"streamed " * 100, "b.bin": bytes(range(256)) * 40}
        source = self.tree(files)
        archive = self.path("piped.zip")
        with open(archive, "wb") as out:
            subprocess.run("cat a.txt | zip -q - - && true", shell=True, cwd=source, check=True, stdout=out)
        self.assertIn(b"PK\x06\x07", Path(archive).read_bytes(), "the writer no longer leaves a ZIP64 locator")
        for options in ((), ("--adjust-offsets",)):
            with self.subTest(options=options):
                exe = self.sfx(archive, *options, name=f"piped{len(options)}.exe", overwrite="overwrite",
                               options=sfxtest.OPT_AUTO_UNZIP)
                self.assertEqual(self.exit_code(self.start(exe)), 0)
                self.assertEqual(Path(self.target, "-").read_bytes(), files["a.txt"])


class BigMembers(ExtractCase):
    def need_disk(self, gib):
        disk = os.statvfs(self.dir)
        if disk.f_bavail * disk.f_frsize < gib * 1024 ** 3:
            self.skipTest(f"less than {gib} GiB free for a big member and its copy")

    def unzip_big(self, size, local, directory):
        """Writes a program whose archive is local, the member's data (size bytes of
        chunks) and what directory(offset of the directory) returns; runs it in
        automatic mode and checks the output's size and CRC-32."""
        crc = 0
        for i in range(size // CHUNK):
            crc = zlib.crc32(chunk(i), crc)
        exe = self.path("huge.exe")
        image = Path(sfxtest.STUB64).read_bytes()
        block = sfxtest.config_block(folder=sfxtest.windows_path(self.target), overwrite="overwrite",
                                     options=sfxtest.OPT_AUTO_UNZIP | sfxtest.OPT_NO_DONE_MESSAGE)
        with open(exe, "wb") as f:
            f.write(image + block)
            start = f.tell()
            f.write(local(crc))
            for i in range(size // CHUNK):
                f.write(chunk(i))
            f.write(directory(crc, f.tell() - start))
        # An error box (CRC, write) would keep the program open until the driver gives up.
        self.assertEqual(self.exit_code(self.start(exe, wait="wait-exit timeout=1800000", timeout=2000)), 0)
        out = os.path.join(self.target, "huge.bin")
        self.assertEqual(os.path.getsize(out), size)
        check = 0
        with open(out, "rb") as f:
            while data := f.read(CHUNK):
                check = zlib.crc32(data, check)
        self.assertEqual(check, crc)

    def test_stored_member_beyond_2_gib(self):
        self.need_disk(8)
        size = 3 * 1024 ** 3
        sizes = size.to_bytes(4, "little") * 2  # both records name the true size

        def records(crc):
            local, central = stored_member("huge.bin", b"", crc=crc)
            return local[:18] + sizes + local[26:], central[:20] + sizes + central[28:]

        self.unzip_big(size, lambda crc: records(crc)[0],
                       lambda crc, at: records(crc)[1] + sfxtest.end_record_bytes(1, len(records(crc)[1]), at))

    def test_stored_member_over_4_gib_through_zip64(self):
        self.need_disk(9)
        size = 4 * 1024 ** 3 + 64 * 1024 ** 2
        name = b"huge.bin"

        def local(crc):
            zip64 = struct.pack("<HHQQ", 1, 16, size, size)
            return (sfxtest.LOCAL_SIGNATURE + struct.pack("<HHHHHIIIHH", 45, 0, 0, 0, 0x5A21, crc, 0xFFFFFFFF,
                                                          0xFFFFFFFF, len(name), len(zip64)) + name + zip64)

        def directory(crc, at):
            # The central record names everything through its ZIP64 field, the local header's offset too.
            zip64 = struct.pack("<HHQQQ", 1, 24, size, size, 0)
            central = (sfxtest.CENTRAL_SIGNATURE + struct.pack("<HHHHHHIIIHHHHHII", 45, 45, 0, 0, 0, 0x5A21, crc,
                                                               0xFFFFFFFF, 0xFFFFFFFF, len(name), len(zip64), 0, 0, 0,
                                                               0, 0xFFFFFFFF) + name + zip64)
            record_at = at + len(central)
            return (central + b"PK\x06\x06" + struct.pack("<QHHIIQQQQ", 44, 45, 45, 0, 0, 1, 1, len(central), at)
                    + b"PK\x06\x07" + struct.pack("<IQI", 0, record_at, 1)
                    + sfxtest.END_SIGNATURE + struct.pack("<HHHHIIH", 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0))

        self.unzip_big(size, local, directory)


if __name__ == "__main__":
    unittest.main()
