"""build --solid and -j: a solid block read back by test and extract (one
member, many small ones with empty ones among them, AES and the traditional
scheme), info naming its members lzma2-solid; a flipped byte failing its member
and every later one; a member extract cannot write still decoded for those
behind it; other ZIP tools calling the method unsupported; the refusals; and
builds with one worker and with several, byte for byte the same."""
import json
import os
import subprocess
import unittest
import zipfile
from pathlib import Path

from sfxmaketest import SfxmakeCase, counted, sfxtest


def small_tree():
    files = {f"docs/part{i:02}.txt": b"".join(b"line %d of a shared text\n" % (j * i % 97) for j in range(40 + i))
             for i in range(40)}
    files.update({"empty.txt": b"", "docs/zz/empty": b"", "tool.bin": bytes(range(256)) * 300})
    return files


BLOCK = {f"m{i}.txt": b"member %d of the block, " % i * 3000 for i in range(5)}


class SolidBlocks(SfxmakeCase):
    def solid(self, files, *options, name="solid.exe"):
        exe = self.path(name)
        self.sfxmake("build", "-q", "--solid", *options, "-o", exe, self.tree(files, name="src-" + name))
        return exe

    def test_members_read_back(self):
        small = small_tree()
        cases = {  # case: (files, build options, test and extract options)
            "one member": ({"only.txt": b"a single member " * 999}, (), ()),
            "many small": (small, (), ()),
            "aes": (small, ("--password", "pw"), ("--password", "pw")),
            "zipcrypto": (small, ("--password", "pw", "--encryption", "zipcrypto"), ("--password", "pw")),
        }
        for case, (files, options, verify) in cases.items():
            with self.subTest(case):
                exe = self.solid(files, *options, name=case.replace(" ", "-") + ".exe")
                members = json.loads(self.sfxmake("info", "--json", exe).stdout)["members"]
                self.assertEqual({m["name"]: m["method"] for m in members},
                                 {n: "lzma2-solid" if d else "stored" for n, d in files.items()})
                run = self.sfxmake("test", "-q", exe, *verify)
                self.assertIn(counted(files) + b" tested, 0 failed", run.stdout)
                self.check_extracts(exe, files, *verify)

    def test_a_fault_spoils_the_rest_of_the_block(self):
        exe = self.solid(BLOCK)
        sfxtest.damage_member(exe, "m2.txt")
        run = self.sfxmake("test", exe, expect=1)
        self.assertEqual([line.split(b":")[0] for line in run.stdout.splitlines() if line.startswith(b"FAIL")],
                         [b"FAIL m2.txt", b"FAIL m3.txt", b"FAIL m4.txt"])
        out = self.path("out")
        self.sfxmake("extract", "-q", exe, "-d", out, expect=1)
        self.assertEqual(sfxtest.read_tree(out), {n: BLOCK[n] for n in ("m0.txt", "m1.txt")})

    def test_a_dictionary_the_system_cannot_give(self):
        exe = self.solid(BLOCK)
        at, _ = sfxtest.member_data_at(exe, "m0.txt")
        data = bytearray(Path(exe).read_bytes())
        data[at] = 0x80 | 38  # the block declares 2 GiB
        Path(exe).write_bytes(data)
        run = self.sfxmake("test", exe, expect=1, memory=1 << 30)
        reason = b"its LZMA dictionary needs more memory than the system gives"
        self.assertEqual(run.stdout.count(b": " + reason + b"\n"), len(BLOCK))

    def test_a_member_not_written_is_still_decoded(self):
        exe = self.solid(BLOCK)
        out = self.path("out")
        os.makedirs(os.path.join(out, "m1.txt"))  # a folder takes the member's place
        run = self.sfxmake("extract", "-q", exe, "-d", out, expect=1)
        self.assertIn(b"FAIL m1.txt: refused: m1.txt is a folder", run.stdout)
        self.assertEqual({n: d for n, d in sfxtest.read_tree(out).items() if n != "m1.txt"},
                         {n: d for n, d in BLOCK.items() if n != "m1.txt"})

    def test_other_tools_call_the_method_unsupported(self):
        exe = self.solid(BLOCK)
        # Info-ZIP unzip skips them on the version they need (6.3, as for LZMA).
        run = subprocess.run(["unzip", "-o", exe, "-d", self.path("unzip")], capture_output=True)
        self.assertIn(b"skipping: m0.txt", run.stdout + run.stderr)
        self.assertFalse(os.path.exists(self.path("unzip", "m0.txt")))
        with zipfile.ZipFile(exe) as z, self.assertRaises(NotImplementedError):
            z.read("m0.txt")

    def test_refusals(self):
        folder = self.tree(BLOCK)
        archive = sfxtest.zip_members(self.path("in.zip"), BLOCK)
        self.refused("--solid cannot go with --adjust-offsets", "--solid", "--adjust-offsets", archive)
        self.refused("--solid compresses with LZMA2; it takes no --method", "--solid", "--method", "lzma", folder)
        self.refused("--method and --solid are for folder inputs", "--solid", archive)
        self.refused("--jobs takes a number from 1 to 1024", "-j", "0", folder)

    def test_workers_write_what_one_worker_writes(self):
        files = {**small_tree(), **{f"big{i}.bin": os.urandom(300000) + bytes(200000) for i in range(3)}}
        folder = self.tree(files)
        for case, options in {"lzma": (), "deflate": ("--method", "deflate"),
                              "aes": ("--password", "pw", "--fixed-encryption-header")}.items():
            with self.subTest(case):
                built = []
                for jobs in ((), ("-j", "1"), ("-j", "3")):
                    exe = self.path(f"{case}{len(built)}.exe")
                    self.sfxmake("build", "-q", "--reproducible", *options, *jobs, "-o", exe, folder)
                    built.append(Path(exe).read_bytes())
                self.assertEqual(built[0], built[1])
                self.assertEqual(built[2], built[1])


if __name__ == "__main__":
    unittest.main()
