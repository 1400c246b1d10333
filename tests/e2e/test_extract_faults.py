"""Members that cannot be written as they are: damaged data, an unknown method,
a read-only target, a folder part that is a file, names that would leave the
target folder or name a device, a member whose data would run into the directory
or, through its local header, into the next member, data longer or shorter than
its member's declared size, and AES data that fails its code."""
import os
import stat
import struct
import subprocess
import unittest
import zipfile
import zlib
from pathlib import Path

import sfxtest
from extractcase import ExtractCase
from sfxtest import CORRUPT, ERROR_CAPTION, incomplete_script, q, raw_archive, stored_member, windows_path
from test_extract_aes import aes_data_span
from test_switches import arguments


def declaring(member, size):
    """A stored_member pair whose records declare size as the uncompressed size."""
    local, central = member
    return local[:22] + struct.pack("<I", size) + local[26:], central[:24] + struct.pack("<I", size) + central[28:]


def deflated_member(name, data, size=None):
    """A deflated stored_member pair with data's CRC-32, declaring size (default: len(data))."""
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = packer.compress(data) + packer.flush()
    return declaring(stored_member(name, packed, method=8, crc=zlib.crc32(data)), len(data) if size is None else size)


class MemberFaults(ExtractCase):
    def python_archive(self, members, name="faults.zip"):
        """zipfile archive of (name, data, compression) in this order."""
        path = self.path(name)
        with zipfile.ZipFile(path, "w") as z:
            for member, data, compression in members:
                z.writestr(zipfile.ZipInfo(member, (2021, 5, 6, 7, 8, 10)), data, compress_type=compression)
        return path

    def boxes_then_close(self, exe, count):
        """Unzip; acknowledge count error boxes; the incomplete run's dialog, then close."""
        return self.drive(incomplete_script(exe, "wait-msgbox\npress OK\n" * count))

    def test_damaged_member_reports_crc_and_run_goes_on(self):
        archive = self.python_archive([("a.txt", b"fine a", 0), ("b.txt", b"will be damaged", 0),
                                       ("c.txt", b"fine c", 0)])
        data = bytearray(Path(archive).read_bytes())
        data[data.index(b"will be damaged")] ^= 0x20
        Path(archive).write_bytes(data)
        exe = self.sfx(archive, overwrite="overwrite", options=sfxtest.OPT_HIDE_FILE_LIST)
        run = self.boxes_then_close(exe, 1)
        box = run.result("wait-msgbox")
        self.assertEqual((box["caption"], box["text"]),
                         (ERROR_CAPTION, f"CRC-32 error in {windows_path(self.target)}\\b.txt"))
        self.assertEqual(sfxtest.read_tree(self.target), {"a.txt": b"fine a", "b.txt": b"Will be damaged",
                                                          "c.txt": b"fine c"})
        self.assertEqual(run.selected(), ["b.txt"])
        self.assertEqual(self.exit_code(run), 0)

    def test_unknown_method_creates_nothing(self):
        archive = self.python_archive([("a.txt", b"fine a", zipfile.ZIP_DEFLATED),
                                       ("packed.bz2", b"bzip2 data" * 100, zipfile.ZIP_BZIP2),
                                       ("c.txt", b"fine c", zipfile.ZIP_STORED)])
        # sfxmake refuses methods the stub cannot unpack, so the block is written here.
        exe = self.sfx(archive, name="crafted.exe", crafted=True, overwrite="overwrite",
                       options=sfxtest.OPT_HIDE_FILE_LIST)
        run = self.boxes_then_close(exe, 1)
        self.assertEqual(run.result("wait-msgbox")["text"], "Unknown compression type")
        self.assertEqual(sfxtest.read_tree(self.target), {"a.txt": b"fine a", "c.txt": b"fine c"})
        self.assertEqual(run.selected(), ["packed.bz2"])

    def test_read_only_target_is_left_unchanged(self):
        self.existing({"b.txt": b"read-only original"})
        locked = os.path.join(self.target, "b.txt")
        os.chmod(locked, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        self.addCleanup(os.chmod, locked, stat.S_IRUSR | stat.S_IWUSR)
        if os.geteuid() == 0:
            # Root writes through missing write bits; an immutable file refuses even root.
            if subprocess.run(["chattr", "+i", locked], capture_output=True).returncode != 0:
                self.skipTest("running as root on a file system without immutable files")
            self.addCleanup(subprocess.run, ["chattr", "-i", locked])
        archive = self.python_archive([("a.txt", b"a", 0), ("b.txt", b"replacement", 0), ("c.txt", b"c", 0)])
        exe = self.sfx(archive, overwrite="overwrite", options=sfxtest.OPT_HIDE_FILE_LIST)
        run = self.boxes_then_close(exe, 1)
        self.assertEqual(run.result("wait-msgbox")["text"], f"Cannot write to {windows_path(locked)}")
        self.assertEqual(sfxtest.read_tree(self.target), {"a.txt": b"a", "b.txt": b"read-only original", "c.txt": b"c"})
        self.assertEqual(run.selected(), ["b.txt"])

    def test_folder_part_that_is_a_file_stops_the_run(self):
        self.existing({"sub": b"a file, not a folder"})
        archive = self.python_archive([("a.txt", b"a", 0), ("sub/x.txt", b"x", 0), ("z.txt", b"z", 0)])
        exe = self.sfx(archive, overwrite="overwrite", options=sfxtest.OPT_HIDE_FILE_LIST)
        run = self.boxes_then_close(exe, 1)
        self.assertEqual(run.result("wait-msgbox")["text"], f"Error in folder {windows_path(self.target)}\\sub")
        self.assertEqual(sfxtest.read_tree(self.target), {"a.txt": b"a", "sub": b"a file, not a folder"})
        self.assertEqual(run.selected(), ["sub\\x.txt", "z.txt"])

    def test_names_leaving_the_target_or_naming_devices_are_refused(self):
        # A scenario of tests/guest as well: self-contained, no helper of this class.
        outside = ["../escaped.txt", "/rooted.txt", "C:/drive.txt", "inner/../../climbed.txt", "file.txt:stream"]
        devices = ["con.txt", "sub/NUL", "LPT1.log", "aux/inside.txt", "COM9"]
        names = ["first.txt", *outside, *devices, "last.txt"]
        archive = raw_archive(self.path("hostile.zip"), [stored_member(n, b"payload of " + n.encode()) for n in names])
        # sfxmake refuses such archives; an attacker's file would not come from it.
        exe = self.sfx(archive, name="crafted.exe", crafted=True, overwrite="overwrite",
                       options=sfxtest.OPT_HIDE_FILE_LIST)
        run = yield incomplete_script(exe, "wait-msgbox\npress OK\n" * (len(outside) + len(devices)))
        shown = [n.replace("/", "\\") for n in outside + devices]
        texts = [b["text"] for b in run.results("wait-msgbox")]
        self.assertEqual(texts, [f"{n} was not unzipped: its name leads outside the target folder." for n in shown[:5]]
                         + [f"{n} was not unzipped: its name is reserved for a device." for n in shown[5:]])
        self.assertTrue(all(b["caption"] == ERROR_CAPTION for b in run.results("wait-msgbox")))
        # Nothing anywhere but the two plain members: not in the target, not next to it.
        self.assertEqual(sfxtest.read_tree(self.target), {"first.txt": b"payload of first.txt",
                                                          "last.txt": b"payload of last.txt"})
        self.assertEqual(set(os.listdir(self.dir)) - self.machinery, {"out", "hostile.zip", "crafted.exe"})
        self.assertEqual(run.selected(), shown)
        self.assertEqual(self.exit_code(run), 0)


class ArchiveFaults(ExtractCase):
    def test_member_whose_data_runs_into_the_directory_is_refused_before_anything_is_written(self):
        data = bytes(range(256)) * 160  # 40960 bytes, more than one block
        local, central = stored_member("cut.bin", data)
        # The directory claims far more data than there is: the member would run
        # through the directory into the end of the file.
        central = central[:20] + (len(data) + 100000).to_bytes(4, "little") + central[24:]
        archive = raw_archive(self.path("cut.zip"), [(local, central)])
        exe = self.sfx(archive, name="crafted.exe", crafted=True, overwrite="overwrite")
        run = self.start(exe, "wait-msgbox\npress OK")
        box = run.result("wait-msgbox")
        self.assertEqual((box["caption"], box["text"]), (ERROR_CAPTION, CORRUPT))
        self.assertEqual(self.exit_code(run), 1)
        self.assertFalse(os.path.exists(self.target))

    def test_declared_sizes_and_codes_bound_what_reaches_a_name(self):
        # Each run silent, into a folder of its own: the records' sizes bound what
        # a member writes, and no byte of an AES member whose code fails stands
        # under its name. Members judged by the CRC-32 alone stay as written.
        text, zeros = b"declared size " * 100, bytes(1 << 20)
        aes_files = {"a.txt": b"first " * 2000, "b.txt": b"second " * 2000}
        aes = bytearray(Path(self.zip_7z(self.tree(aes_files), "-pright", "-mem=AES256")).read_bytes())
        aes[aes_data_span(self.path("7z.zip"), "a.txt")[0] + 5] ^= 0x01
        Path(self.path("flipped.zip")).write_bytes(aes)
        cases = {
            "inflates past its size": ([deflated_member("m.bin", zeros, 1)], {"m.bin": b""}),
            "stored past its size": ([declaring(stored_member("m.bin", text), 10)], {"m.bin": b""}),
            "ends short of its size": ([deflated_member("m.bin", text, len(text) + 1)], {"m.bin": text}),
            "AES data flipped": (None, {"b.txt": aes_files["b.txt"]}),
        }
        runs = []
        for i, (label, (members, expected)) in enumerate(cases.items()):
            archive = raw_archive(self.path(f"{i}.zip"), members) if members else self.path("flipped.zip")
            exe = self.sfx(archive, name=f"{i}.exe", crafted=True, overwrite="overwrite")
            runs.append(f"start {q(exe)} args={arguments('/s /p right /d ' + q(windows_path(self.path(f't{i}'))))}"
                        "\nwait-exit timeout=120000")
        run = yield "\n".join(runs)
        self.assertEqual([r["exit_code"] for r in run.results("wait-exit")], [2] * len(cases))
        for i, (label, (_, expected)) in enumerate(cases.items()):
            self.assertEqual(sfxtest.read_tree(self.path(f"t{i}")), expected, label)

    def test_local_extra_field_swallowing_the_next_member_is_refused(self):
        # The first member's local extra field runs over the second member's
        # local header, so that its data would be the second member's: one
        # stream under two names. Its span by the directory stays clear of it.
        first, second = stored_member("a.txt", b"A" * 64), stored_member("b.txt", b"B" * 32)
        grown = 64 + 30 + 5  # to the second member's data
        local = first[0][:28] + struct.pack("<H", grown) + first[0][30:]
        central = first[1][:16] + second[1][16:28] + first[1][28:]  # the second member's CRC-32 and sizes
        archive = raw_archive(self.path("swallow.zip"), [(local, central), second])
        exe = self.sfx(archive, name="crafted.exe", crafted=True, overwrite="overwrite")
        run = self.start(exe, options='args="/s"')
        self.assertEqual(self.exit_code(run), 1)
        self.assertFalse(os.path.exists(self.target))
        self.assertIn(b"moves its data into the next member", self.sfxmake("test", exe, expect=1).stdout)

    def test_member_without_its_local_header_is_fatal(self):
        local, central = stored_member("moved.txt", b"somewhere else")
        archive = raw_archive(self.path("moved.zip"), [(b"junk" + local[4:], central)])
        exe = self.sfx(archive, name="crafted.exe", crafted=True, overwrite="overwrite")
        run = self.unzip(exe, "wait-msgbox\npress OK")
        self.assertEqual(run.result("wait-msgbox")["text"], f"Error reading zip {windows_path(exe)}")
        self.assertEqual(self.exit_code(run), 1)
        self.assertFalse(os.path.exists(os.path.join(self.target, "moved.txt")))


if __name__ == "__main__":
    unittest.main()
