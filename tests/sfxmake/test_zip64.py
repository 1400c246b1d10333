"""ZIP64 through sfxmake: the layout of Info-ZIP zip writing to a pipe (a ZIP64
end record and locator although everything fits, when it reads a pipe), Python's zipfile with ZIP64
fields and with more than 65535 members, and folders that need ZIP64 (65535
files or more, a file of 4 GiB and more). Each goes through build, info,
test and, where the size allows, extract."""
import os
import shutil
import subprocess
import unittest
import zipfile
from pathlib import Path

from sfxmaketest import SAMPLE, SfxmakeCase

ZIP64_END = b"PK\x06\x06"
ZIP64_LOCATOR = b"PK\x06\x07"


def tail(path, size=200):
    with open(path, "rb") as f:
        f.seek(max(0, os.path.getsize(path) - size))
        return f.read()


class Zip64Inputs(SfxmakeCase):
    def test_infozip_streamed_and_forced(self):
        tree = self.tree(SAMPLE, "src")
        for name in SAMPLE:
            os.utime(os.path.join(tree, name), (1600000001, 1600000001))
        made = {}  # name: (members, whether a ZIP64 end record is there)
        # Read from a pipe, a member's size is unknown: zip writes the ZIP64 end
        # record and locator, although every value fits.
        with open(self.path("stdin.zip"), "wb") as out:
            subprocess.run(["zip", "-q", "-", "-"], input=SAMPLE["readme.txt"], stdout=out, check=True)
        made["stdin.zip"] = ({"-": SAMPLE["readme.txt"]}, True)
        subprocess.run(["zip", "-q", self.path("stdin-file.zip"), "-"], cwd=tree, input=SAMPLE["readme.txt"],
                       check=True)
        made["stdin-file.zip"] = ({"-": SAMPLE["readme.txt"]}, True)
        subprocess.run(["zip", "-q", "-r", "-fz", self.path("forced.zip"), "."], cwd=tree, check=True)
        made["forced.zip"] = (SAMPLE, True)
        # Files to a pipe, not a file zip could seek back in: data descriptors, no ZIP64.
        piped = subprocess.run(["zip", "-q", "-r", "-", "."], cwd=tree, stdout=subprocess.PIPE, check=True)
        Path(self.path("piped.zip")).write_bytes(piped.stdout)
        made["piped.zip"] = (SAMPLE, False)
        for name, (files, zip64_end) in made.items():
            self.assertEqual(ZIP64_LOCATOR in tail(self.path(name)), zip64_end, name)
            for adjust in (False, True):
                with self.subTest(archive=name, adjust=adjust):
                    self.round_trip(self.path(name), files, adjust, zip64_end=zip64_end,
                                    times=None if name.startswith("stdin") else 1600000001)
        # Data behind the archive (a signature, say) changes nothing for the reader.
        exe = self.path("forced.zip.exe")
        with open(exe, "ab") as f:
            f.write(b"\x30\x82" + bytes(range(256)) * 8)
        self.assertIn(b" 0 failed", self.sfxmake("test", exe).stdout)
        self.assertIn(b"(ZIP64)", self.sfxmake("info", exe).stdout)

    def test_python_forced_zip64_and_many_members(self):
        # ZIP64 fields in the local headers alone.
        forced = self.path("forced-py.zip")
        with zipfile.ZipFile(forced, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in SAMPLE.items():
                with z.open(name, "w", force_zip64=True) as f:
                    f.write(data)
        for adjust in (False, True):
            with self.subTest(adjust=adjust):
                self.round_trip(forced, SAMPLE, adjust)
        # 65536 members: the count itself needs the ZIP64 end record.
        many = self.path("many.zip")
        files = {f"d{i % 16}/{i}.txt": b"%d" % i for i in range(65536)}
        with zipfile.ZipFile(many, "w", zipfile.ZIP_STORED) as z:
            for name, data in files.items():
                z.writestr(name, data)
        self.round_trip(many, files, adjust=True, zip64_end=True, extract=False)


class Zip64Folders(SfxmakeCase):
    def test_small_folder_has_no_zip64_but_names_and_times(self):
        files = {"日本語.txt": b"x", "café/plain.txt": b"y" * 3000, "ascii.txt": b"z"}
        folder = self.tree(files)
        for name in files:
            os.utime(os.path.join(folder, name), (1500000001, 1500000001))
        exe = self.path("names.exe")
        run = self.sfxmake("build", "--method", "deflate", "-o", exe, folder)  # for Info-ZIP unzip below
        self.assertNotIn(b"warning", run.stderr)
        self.assertNotIn(ZIP64_END, tail(exe))  # written only when needed
        with zipfile.ZipFile(exe) as z, open(exe, "rb") as raw:
            for info in z.infolist():
                with self.subTest(name=info.filename):
                    self.assertIn(info.filename, files)  # UTF-8 as zipfile reads it
                    self.assertEqual(bool(info.flag_bits & 0x800), not info.filename.isascii())
                    # The extended timestamp, flag 1 and the time, in both headers; no ZIP64 field.
                    field = b"UT\x05\x00\x01" + (1500000001).to_bytes(4, "little")
                    self.assertIn(field, info.extra)
                    self.assertNotIn(b"\x01\x00", info.extra[:2])
                    raw.seek(info.header_offset + 28)
                    extra_length = int.from_bytes(raw.read(2), "little")
                    raw.seek(info.header_offset + 30 + len(info.filename.encode()))
                    self.assertIn(field, raw.read(extra_length))
        subprocess.run(["unzip", "-tq", exe], check=True, capture_output=True)
        self.check_extracts(exe, files, times=1500000001)

    def test_name_that_is_not_utf8_is_refused(self):
        folder = self.path("bad")
        os.makedirs(folder)
        with open(os.path.join(os.fsencode(folder), b"caf\xe9.txt"), "wb") as f:
            f.write(b"x")
        run = self.sfxmake("build", "-o", self.path("bad.exe"), folder, expect=2)
        self.assertIn(b"not UTF-8", run.stderr)
        self.assertFalse(os.path.exists(self.path("bad.exe")))

    def test_65535_files_need_zip64(self):
        # A count of 0xFFFF in the end record would read as the marker: exactly
        # 65,535 members already take the ZIP64 end record.
        folder = self.path("many")
        os.makedirs(folder)
        for i in range(65535):
            open(os.path.join(folder, f"{i:05x}"), "wb").close()
        Path(os.path.join(folder, "00000")).write_bytes(b"first")
        exe = self.path("many.exe")
        self.sfxmake("build", "-q", "-o", exe, folder)
        self.assertIn(ZIP64_END, tail(exe))
        self.assertIn(b"members:        65535 (ZIP64)", self.sfxmake("info", exe).stdout)
        self.assertIn(b"65535 members tested, 0 failed", self.sfxmake("test", "-q", exe).stdout)
        with zipfile.ZipFile(exe) as z:
            self.assertEqual(len(z.infolist()), 65535)
            self.assertEqual(z.read("00000"), b"first")

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
        Path(os.path.join(folder, "z-after.txt")).write_bytes(b"behind the big one")
        exe = self.path("big.exe")
        self.sfxmake("build", "-q", "-o", exe, folder)
        shutil.rmtree(folder)
        with zipfile.ZipFile(exe) as z:
            huge, after = z.infolist()
            self.assertEqual((huge.file_size, huge.compress_size, huge.compress_type), (size, size, zipfile.ZIP_STORED))
            self.assertGreater(after.header_offset, 0xFFFFFFFF)
            self.assertEqual(z.read(after), b"behind the big one")
        info = self.sfxmake("info", exe).stdout.decode()
        self.assertRegex(info, r"%d\s+%d\s+stored\s+none\s+\S+ \S+  huge.bin" % (size, size))
        self.assertIn(b"2 members tested, 0 failed", self.sfxmake("test", "-q", exe).stdout)


if __name__ == "__main__":
    unittest.main()
