"""A stored member of 3 GiB, in an archive without ZIP64 (Python's zipfile would
switch to ZIP64 above 2 GiB, so the archive is written here): its compressed
size reads as negative in a signed 32-bit count, and its data and the end of
the archive lie beyond the first 2 GiB of the program file.

About 20 seconds under wine, but 6 GiB of disk for the program and its output:
skipped when the build disk has less than 8 GiB free."""
import os
import unittest
import zlib

import sfxtest
from extractcase import ExtractCase
from sfxtest import q, stored_member

SIZE = 3 * 1024 ** 3
CHUNK = 1024 ** 2


def chunk(i):
    """The i-th MiB of the member: different in every MiB, cheap to make again."""
    return i.to_bytes(4, "little") * (CHUNK // 4)


class ThreeGigabyteMember(ExtractCase):
    def setUp(self):
        super().setUp()
        disk = os.statvfs(self.dir)
        if disk.f_bavail * disk.f_frsize < 8 * 1024 ** 3:
            self.skipTest("less than 8 GiB free for a 3 GiB member and its copy")

    def test_stored_member_beyond_2_gib(self):
        crc = 0
        for i in range(SIZE // CHUNK):
            crc = zlib.crc32(chunk(i), crc)
        local, central = stored_member("huge.bin", b"", crc=crc)
        # Both records name the true size; the data is streamed behind the local header.
        sizes = SIZE.to_bytes(4, "little") * 2
        local = local[:18] + sizes + local[26:]
        central = central[:20] + sizes + central[28:]
        exe = self.path("huge.exe")
        with open(sfxtest.STUB64, "rb") as f:
            image = f.read()
        block = sfxtest.config_block(folder=sfxtest.windows_path(self.target), overwrite="overwrite",
                                     options=sfxtest.OPT_AUTO_UNZIP | sfxtest.OPT_NO_DONE_MESSAGE)
        with open(exe, "wb") as f:
            f.write(image + block)
            start = f.tell()
            f.write(local)
            for i in range(SIZE // CHUNK):
                f.write(chunk(i))
            directory_at = f.tell() - start
            f.write(central)
            f.write(sfxtest.end_record_bytes(1, len(central), directory_at))
        # An error box (CRC, write) would keep the program open until the driver gives up.
        run = self.drive(f"start {q(exe)}\nwait-exit timeout=1800000", timeout=2000)
        self.assertDriverOk(run)
        self.assertEqual(self.exit_code(run), 0)
        out = os.path.join(self.target, "huge.bin")
        self.assertEqual(os.path.getsize(out), SIZE)
        check = 0
        with open(out, "rb") as f:
            while data := f.read(CHUNK):
                check = zlib.crc32(data, check)
        self.assertEqual(check, crc)


if __name__ == "__main__":
    unittest.main()
