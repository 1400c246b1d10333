"""ZIP64 archives unpacked by the stub: the layout a streaming writer leaves
(Info-ZIP zip reading from a pipe writes a ZIP64 end record and locator although
every size fits in 32 bits), both offset bases, and a stored member of more than
4 GiB, its CRC-32 checked.

The big member needs about 8.5 GiB of disk for the program and its output and
takes a minute or two under wine: skipped when the build disk has less room."""
import os
import struct
import subprocess
import unittest
import zlib

import sfxtest
from extractcase import ExtractCase
from sfxtest import q

SIZE = 4 * 1024 ** 3 + 64 * 1024 ** 2
CHUNK = 1024 ** 2


def chunk(i):
    """The i-th MiB of the big member: different in every MiB, cheap to make again."""
    return i.to_bytes(4, "little") * (CHUNK // 4)


class Zip64(ExtractCase):
    def auto(self, exe):
        run = self.drive(f"start {q(exe)}\nwait-exit timeout=1800000", timeout=2000)
        self.assertDriverOk(run)
        return self.exit_code(run)

    def test_streamed_layout_with_both_offset_bases(self):
        files = {"a.txt": b"streamed " * 100, "b.bin": bytes(range(256)) * 40}
        source = self.tree(files)
        archive = self.path("piped.zip")
        with open(archive, "wb") as out:
            subprocess.run("cat a.txt | zip -q - - && true", shell=True, cwd=source, check=True, stdout=out)
        with open(archive, "rb") as f:
            data = f.read()
        self.assertIn(b"PK\x06\x07", data, "the writer no longer leaves a ZIP64 locator")
        for options in ((), ("--adjust-offsets",)):
            with self.subTest(options=options):
                exe = self.sfx(archive, *options, name=f"piped{len(options)}.exe", options=sfxtest.OPT_AUTO_UNZIP)
                self.assertEqual(self.auto(exe), 0)
                with open(os.path.join(self.target, "-"), "rb") as f:
                    self.assertEqual(f.read(), files["a.txt"])

    def test_stored_member_over_4_gib(self):
        disk = os.statvfs(self.dir)
        if disk.f_bavail * disk.f_frsize < 9 * 1024 ** 3:
            self.skipTest("less than 9 GiB free for a member of 4 GiB and its copy")
        crc = 0
        for i in range(SIZE // CHUNK):
            crc = zlib.crc32(chunk(i), crc)
        name = b"huge.bin"
        zip64 = struct.pack("<HHQQ", 1, 16, SIZE, SIZE)
        local = (sfxtest.LOCAL_SIGNATURE + struct.pack("<HHHHHIIIHH", 45, 0, 0, 0, 0x5A21, crc, 0xFFFFFFFF,
                                                       0xFFFFFFFF, len(name), len(zip64)) + name + zip64)
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
            # The central record names everything through its ZIP64 field, the local header's offset too.
            central_zip64 = struct.pack("<HHQQQ", 1, 24, SIZE, SIZE, 0)
            central = (sfxtest.CENTRAL_SIGNATURE + struct.pack("<HHHHHHIIIHHHHHII", 45, 45, 0, 0, 0, 0x5A21, crc,
                                                               0xFFFFFFFF, 0xFFFFFFFF, len(name), len(central_zip64),
                                                               0, 0, 0, 0, 0xFFFFFFFF) + name + central_zip64)
            directory_at = f.tell() - start
            f.write(central)
            record_at = f.tell() - start
            f.write(b"PK\x06\x06" + struct.pack("<QHHIIQQQQ", 44, 45, 45, 0, 0, 1, 1, len(central), directory_at))
            f.write(b"PK\x06\x07" + struct.pack("<IQI", 0, record_at, 1))
            f.write(sfxtest.END_SIGNATURE + struct.pack("<HHHHIIH", 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0))
        self.assertEqual(self.auto(exe), 0)
        out = os.path.join(self.target, "huge.bin")
        self.assertEqual(os.path.getsize(out), SIZE)
        check = 0
        with open(out, "rb") as f:
            while data := f.read(CHUNK):
                check = zlib.crc32(data, check)
        self.assertEqual(check, crc)


if __name__ == "__main__":
    unittest.main()
