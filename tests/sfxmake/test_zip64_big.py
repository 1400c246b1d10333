"""A folder with a file of more than 4 GiB through sfxmake: build writes the
ZIP64 fields and records, info and test read them. Kept apart from the other
ZIP64 tests so that it runs beside them."""
import os
import shutil
import unittest
import zipfile

from sfxmaketest import SfxmakeCase


class Zip64BigFile(SfxmakeCase):
    def test_file_of_more_than_4_gib(self):
        """A sparse file just over 4 GiB, stored (sfxmake stores files of 4 GiB and
        more), with the ZIP64 field in both headers and an offset past 4 GiB for the
        member behind it. Not extracted: that would write 4 GiB of real bytes; test
        decodes and checks it all the same."""
        size = 4100 << 20
        free = shutil.disk_usage(self.dir).free
        if free < 2 * size + (1 << 30):
            self.skipTest(f"needs {2 * size + (1 << 30)} bytes free for a file that may not stay sparse, has {free}")
        with open("/proc/meminfo") as f:
            available = next(int(line.split()[1]) << 10 for line in f if line.startswith("MemAvailable:"))
        if available < size + (2 << 30):
            self.skipTest(f"sfxmake holds the archive in memory: needs {size + (2 << 30)} bytes, has {available}")
        folder = self.path("big")
        os.makedirs(folder)
        with open(os.path.join(folder, "huge.bin"), "wb") as f:
            f.write(b"start")
            f.truncate(size)
            f.seek(size - 3)
            f.write(b"end")
        with open(os.path.join(folder, "z-after.txt"), "wb") as f:
            f.write(b"behind the big one")
        exe = self.path("big.exe")
        self.sfxmake("build", "-q", "-o", exe, folder)
        shutil.rmtree(folder)
        with zipfile.ZipFile(exe) as z:
            huge, after = z.infolist()
            self.assertEqual((huge.file_size, huge.compress_size, huge.compress_type), (size, size, zipfile.ZIP_STORED))
            self.assertGreater(after.header_offset, 0xFFFFFFFF)
            self.assertEqual(z.read(after), b"behind the big one")
        info = self.sfxmake("info", exe).stdout.decode()
        self.assertRegex(info, r"%d\s+%d\s+stored\s+no\s+\S+ \S+  huge.bin" % (size, size))
        self.assertIn(b"2 members tested, 0 failed", self.sfxmake("test", "-q", exe).stdout)



if __name__ == "__main__":
    unittest.main()
