"""Solid blocks (sfxmake build --solid) unpacked silently by the real stub: every
member equals its source for a block of one member, many small members with
empty ones among them, AES members, a member skipped because it exists (decoded,
not written, so that the members behind it still unpack) and members whose
output crosses 4 GiB in all; a flipped byte in the middle member fails it and
every later member, leaves no file of theirs and ends with exit code 2, while
the members before it are unpacked."""
import os
import shutil
import unittest
from pathlib import Path

import sfxtest
from extractcase import ExtractCase
from sfxtest import q


def small_tree():
    """Many small members that share text, empty ones among them, in folders."""
    files = {f"docs/part{i:02}.txt": b"".join(b"line %d of a shared text\n" % (j * i % 97) for j in range(40 + i))
             for i in range(40)}
    files.update({"empty.txt": b"", "docs/zz/empty": b"", "tool.bin": bytes(range(256)) * 300})
    return files


class SolidBlocks(ExtractCase):
    def solid(self, files, *options, name="solid.exe"):
        """A silent-ready program of files as one solid block."""
        source = self.tree(files, name="src-" + name)
        return self.sfx(source, "--solid", *options, name=name, overwrite="skip")

    def unzip_silently(self, exe, switches="/s", timeout=180):
        run = self.start(exe, options=f'args="{switches}"', wait=f"wait-exit timeout={timeout * 1000}",
                         timeout=timeout + 20)
        return self.exit_code(run)

    def test_members_equal_their_sources(self):
        small = small_tree()
        cases = {  # case: (files, build options, switches, files already there, exit code)
            "one member": ({"only.txt": b"a single member " * 999}, (), "/s", {}, 0),
            "many small": (small, (), "/s", {}, 0),
            "aes": (small, ("--password", "secret7"), "/s /p secret7", {}, 0),
            # Kept, so decoded and not written: the members behind it need its bytes.
            "existing kept": (small, (), "/s", {"docs/part07.txt": b"mine"}, 2),
        }
        for case, (files, options, switches, there, code) in cases.items():
            with self.subTest(case):
                exe = self.solid(files, *options, name=case.replace(" ", "-") + ".exe")
                sfxtest.write_tree(self.target, there)
                self.assertEqual(self.unzip_silently(exe, switches), code)
                self.assertEqual(sfxtest.read_tree(self.target), {**files, **there})
                shutil.rmtree(self.target)

    def test_flipped_byte_fails_the_rest_of_the_block(self):
        # A scenario of tests/guest as well.
        files = {f"m{i}.txt": b"member %d of the block, " % i * 3000 for i in range(5)}
        exe = self.sfx(self.tree(files), "--solid")
        sfxtest.damage_member(exe, "m2.txt")
        run = yield f'start {q(exe)} args="/s"\nwait-exit'
        self.assertEqual(self.exit_code(run), 2)
        self.assertEqual(sfxtest.read_tree(self.target), {n: files[n] for n in ("m0.txt", "m1.txt")})

    def test_output_crossing_4_gib(self):
        # Zeros compress to almost nothing: the program stays small, the output does not.
        disk = os.statvfs(self.dir)
        if disk.f_bavail * disk.f_frsize < 5 * 1024 ** 3:
            self.skipTest("less than 5 GiB free for the output")
        source = self.path("big")
        os.makedirs(source)
        size = 1100 * 1024 ** 2
        for name in ("a.bin", "b.bin", "c.bin", "d.bin"):
            with open(os.path.join(source, name), "wb") as f:
                f.truncate(size)
        Path(source, "e.txt").write_bytes(b"after 4 GiB")
        exe = self.sfx(source, "--solid", name="big.exe", overwrite="overwrite")
        self.assertEqual(self.unzip_silently(exe, timeout=1200), 0)
        for name in ("a.bin", "b.bin", "c.bin", "d.bin"):
            with open(os.path.join(self.target, name), "rb") as f:
                self.assertEqual(os.path.getsize(f.name), size)
                while block := f.read(1 << 24):
                    self.assertEqual(block.count(0), len(block), name)
        self.assertEqual(Path(self.target, "e.txt").read_bytes(), b"after 4 GiB")


if __name__ == "__main__":
    unittest.main()
