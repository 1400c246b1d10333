"""One verdict everywhere: names from a program never forge a line of output,
test and extract refuse what build refuses, output that cannot be written is a
failure, and build takes only folders and texts that Windows and the stub can take."""
import json
import os
import shutil
import subprocess
import unittest
import zlib
from pathlib import Path

from sfxmaketest import SAMPLE, STUB32, SfxmakeCase, zip_members
from sfxtest import SFXMAKE, as_ae1, config_block, flip_byte, member_data_at


class OutputEscaping(SfxmakeCase):
    def test_control_characters_in_names_are_escaped_in_every_view(self):
        names = {"line\nFAIL forged.txt": b"1", "esc\x1b[2J.txt": b"2", "tab\there.txt": b"3", "c1\u009b.txt": b"4"}
        shown = [b"line\\x0AFAIL forged.txt", b"esc\\x1B[2J.txt", b"tab\\x09here.txt", b"c1\\u009b.txt"]
        exe = self.path("p.exe")
        self.sfxmake("build", "-q", "-o", exe, zip_members(self.path("a.zip"), names))
        views = {"info": self.sfxmake("info", exe).stdout, "test": self.sfxmake("test", "-v", exe).stdout,
                 "extract": self.sfxmake("extract", "-q", "-v", exe, "-d", self.path("x")).stdout,
                 "build": self.refused("leads outside", zip_members(self.path("b.zip"), {"../" + n: b"" for n in names})).stderr}
        for view, out in views.items():
            with self.subTest(view):
                for raw in (b"\x1b", b"\t", "\u009b".encode(), b"\nFAIL"):
                    self.assertNotIn(raw, out)
                for name in shown:
                    self.assertIn(name, out)
        self.assertEqual({m["name"] for m in json.loads(self.sfxmake("info", "--json", exe).stdout)["members"]}, set(names))


class OneVerdict(SfxmakeCase):
    def test_test_and_extract_refuse_what_build_refuses(self):
        archive = zip_members(self.path("folders.zip"), {"a/": b"", "a/b/": b""})
        self.refused("only folders", archive)
        # Put together by hand, as build refuses it.
        exe = self.path("folders.exe")
        Path(exe).write_bytes(Path(STUB32).read_bytes() + config_block() + Path(archive).read_bytes())
        for command in (["test"], ["extract", "-d", self.path("d")]):
            self.assertIn(b"only folders", self.sfxmake(*command, exe, expect=2).stderr)

    def test_unwritable_output_fails_and_version(self):
        exe = self.path("p.exe")
        self.sfxmake("build", "-q", "-o", exe, self.tree(SAMPLE))
        for args in (["info", exe], ["info", "--json", exe], ["test", "-v", exe], ["--help"], ["--version"]):
            with self.subTest(args[0]), open("/dev/full", "wb") as full:
                done = subprocess.run([SFXMAKE, *args], stdout=full, stderr=subprocess.PIPE)
                self.assertEqual(done.returncode, 2)
                self.assertIn(b"cannot write the output", done.stderr)
        self.assertRegex(self.sfxmake("--version").stdout, rb"^sfxmake \d+\.\d+\.\d+\n$")


class AesVerdict(SfxmakeCase):
    def test_every_byte_of_the_code_and_the_crc_of_ae1(self):
        data, exe = b"judged by its code " * 300, self.path("aes.exe")
        self.sfxmake("build", "-q", "-o", exe, "--password", "pw", self.tree({"a.txt": data}))
        code = sum(member_data_at(exe, "a.txt")) - 10
        cases = {f"code byte {i}": (lambda p, i=i: flip_byte(p, code + i), b"authentication code mismatch")
                 for i in range(10)}
        cases["AE-1, its CRC"] = (lambda p: as_ae1(p, "a.txt", zlib.crc32(data)), None)
        cases["AE-1, another CRC"] = (lambda p: as_ae1(p, "a.txt", zlib.crc32(data) ^ 4), b"CRC-32 mismatch")
        for label, (change, failure) in cases.items():
            with self.subTest(label):
                change(shutil.copy(exe, self.path(label + ".exe")))
                run = self.sfxmake("test", "--password", "pw", self.path(label + ".exe"), expect=1 if failure else 0)
                self.assertIn(b"FAIL a.txt: " + failure if failure else b"1 member tested, 0 failed", run.stdout)


class BuildInputs(SfxmakeCase):
    def test_inputs_that_windows_or_the_stub_cannot_take(self):
        # Names Windows cannot create (a backslash would unpack as a folder):
        # every one listed, escaped.
        bad = {"back\\slash.txt": "back\\slash.txt", "what?.txt": "what?.txt", "a<b>.txt": "a<b>.txt",
               'q"uote.txt': 'q"uote.txt', "pi|pe.txt": "pi|pe.txt", "st*ar.txt": "st*ar.txt", "co:lon.txt": "co:lon.txt",
               "tab\there.txt": "tab\\x09here.txt", "dot.": "dot.", "space ": "space ", "dir./f.txt": "dir./f.txt"}
        run = self.refused("Windows cannot create", self.tree({"ok.txt": b"ok", **{n: b"x" for n in bad}}, "names"))
        for shown in bad.values():
            self.assertIn(f"\n  {shown}: ".encode(), run.stderr)
        self.assertNotIn(b"ok.txt", run.stderr)

        source = self.tree({"a.txt": b"a"})
        for option in ("--title", "--folder", "--run", "--question"):
            self.refused(option + " is not valid UTF-8", option, "caf\udce9", source)
        # The password file is read no further than the longest password:
        # a sparse file of a terabyte is refused at once.
        with open(self.path("huge-password"), "wb") as f:
            f.truncate(1 << 40)
        self.refused("longer than 80 characters", "--password-file", self.path("huge-password"), source)

    def test_output_inside_the_input_folder_is_left_out(self):
        source = self.tree(SAMPLE)
        exe = os.path.join(source, "setup.exe")
        for _ in range(2):
            self.sfxmake("build", "-q", "-o", exe, source)
        members = json.loads(self.sfxmake("info", "--json", exe).stdout)["members"]
        self.assertEqual({m["name"] for m in members}, set(SAMPLE))


if __name__ == "__main__":
    unittest.main()
