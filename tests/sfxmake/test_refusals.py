"""Every input sfxmake must refuse: exit code 2, a message naming the problem,
and nothing written. Also extract refusing names that would leave its folder."""
import os
import struct
import subprocess
import unittest
import zipfile
from pathlib import Path

from sfxmaketest import SAMPLE, SfxmakeCase, read_block, sfxtest, zip_members


class Refusals(SfxmakeCase):
    def test_archives_the_stub_cannot_take(self):
        def crafted(name, members, **kw):
            return zip_members(self.path(name), members, **kw)
        outside, device = "its name leads outside the target folder", "its name is reserved for a device"
        self.refused("../up.txt: " + outside, crafted("up.zip", {"ok.txt": b"1", "../up.txt": b"2"}))
        # Every name the stub refuses is listed, with its reason.
        run = self.refused("a/../../x.txt: " + outside,
                           crafted("many.zip", {"a/../../x.txt": b"2", "/etc/x": b"2", "C:/x.txt": b"2",
                                                "dir/a:b.txt": b"2", "dir/.../c.txt": b"2", "ok.txt": b"1",
                                                "CON.txt": b"2", "sub/lpt\u00b9 .log": b"2", "aux": b"2"}))
        for name in ("/etc/x", "C:/x.txt", "dir/a:b.txt", "dir/.../c.txt"):
            self.assertIn(f"  {name}: {outside}".encode(), run.stderr)
        for name in ("CON.txt", "sub/lpt\u00b9 .log", "aux"):
            self.assertIn(f"  {name}: {device}".encode(), run.stderr)
        self.assertNotIn(b"ok.txt", run.stderr)
        self.refused("compression method 12", crafted("bz.zip", {"a.txt": b"x" * 100}, compression=zipfile.ZIP_BZIP2))
        self.refused("empty", crafted("empty.zip", {}))
        self.refused("only folders", crafted("dirs.zip", {"a/": b"", "a/b/": b""}))
        Path(self.path("plain.txt")).write_bytes(b"just text, no archive\n" * 10)
        self.refused("not a ZIP archive", self.path("plain.txt"))
        self.refused("cannot open", self.path("missing"))
        # A longest allowed name passes, one byte more is refused.
        self.sfxmake("build", "-o", self.path("long.exe"), crafted("long.zip", {"n" * 520: b"x"}))
        os.remove(self.path("long.exe"))
        self.refused("longer than 520", crafted("longer.zip", {"n" * 521: b"x"}))

    def test_stubs_that_are_not_ours(self):
        archive = zip_members(self.path("a.zip"), SAMPLE)
        Path(self.path("text.exe")).write_bytes(b"MZ not really an executable")
        self.refused("not a Windows executable", "--stub", self.path("text.exe"), archive)
        # A real Windows image, but a console program that is no stub (a PE image
        # put together here: headers and one section).
        pe = bytearray(0x400)
        pe[0:2], pe[0x3C:0x40] = b"MZ", struct.pack("<I", 0x80)
        pe[0x80:0x84] = b"PE\0\0"
        struct.pack_into("<HHIIIHH", pe, 0x84, 0x14C, 1, 0, 0, 0, 224, 0x102)
        struct.pack_into("<H", pe, 0x98, 0x10B)
        struct.pack_into("<H", pe, 0x98 + 68, 3)
        struct.pack_into("<8sIIIIIIHHI", pe, 0x98 + 224, b".text", 0x200, 0x1000, 0x200, 0x200, 0, 0, 0, 0, 0)
        Path(self.path("console.exe")).write_bytes(pe)
        self.refused("not an sfxkit stub", "--stub", self.path("console.exe"), archive)
        # A finished program given as a stub.
        self.sfxmake("build", "-o", self.path("done.exe"), archive)
        self.refused("data behind its image", "--stub", self.path("done.exe"), archive)

    def test_option_conflicts(self):
        archive = zip_members(self.path("a.zip"), SAMPLE)
        folder = self.tree(SAMPLE)
        self.refused("encrypts a folder input", "--password", "x", archive)
        self.refused("for ZIP inputs", "--adjust-offsets", folder)
        self.refused("only with --reproducible", "--fixed-encryption-header", "--password", "x", folder)
        self.refused("longer than 80", "--password", "p" * 81, folder)
        for waiting in ("--wait", "--wait-all", "--cleanup"):
            self.refused("need --run", waiting, archive)
        run = self.sfxmake("build", archive, expect=2)
        self.assertIn(b"-o", run.stderr)

class DamagedDirectories(SfxmakeCase):
    def test_one_verdict_on_the_directory_everywhere(self):
        files = {"a.txt": b"alpha", "b.txt": b"beta", "c.txt": b"gamma"}
        archive = zip_members(self.path("a.zip"), files)
        self.sfxmake("build", "-o", self.path("good.exe"), archive)
        stub = Path(self.path("good.exe")).read_bytes()
        stub = stub[:read_block(stub)["archive_start"]]
        for name, change, message in (("miscounted", sfxtest.miscount, "holds 3 records where its end record counts 1"),
                                      ("shared", sfxtest.share_data, "members overlap")):
            with self.subTest(name):
                damaged = bytearray(Path(archive).read_bytes())
                change(damaged)
                Path(self.path(name + ".zip")).write_bytes(damaged)
                self.refused(message, self.path(name + ".zip"))
                Path(self.path(name + ".exe")).write_bytes(stub + damaged)
                for command in (["info"], ["test"], ["extract", "-d", self.path("x-" + name)]):
                    self.assertIn(message.encode(), self.sfxmake(*command, self.path(name + ".exe"), expect=2).stderr)
        # A count that wrapped past 65,535 members is no damage: every member is read.
        wrapped = sfxtest.wrapped_count_archive(self.path("wrapped.zip"), files)
        self.sfxmake("build", "-o", self.path("wrapped.exe"), wrapped)
        self.check_extracts(self.path("wrapped.exe"), files)


class ExtractRefusals(SfxmakeCase):
    def test_names_leaving_the_folder_are_not_written(self):
        # Built by hand, since sfxmake build refuses such an archive.
        self.sfxmake("build", "-o", self.path("good.exe"), zip_members(self.path("g.zip"), {"g.txt": b"g"}))
        data = Path(self.path("good.exe")).read_bytes()
        evil = zip_members(self.path("e.zip"), {"../escaped.txt": b"bad", "fine.txt": b"good", "NUL.txt": b"dev"})
        Path(self.path("evil.exe")).write_bytes(data[:read_block(data)["archive_start"]] + Path(evil).read_bytes())
        run = self.sfxmake("test", self.path("evil.exe"), expect=1)
        self.assertIn(b"FAIL ../escaped.txt: refused: its name leads outside the target folder", run.stdout)
        self.assertIn(b"FAIL NUL.txt: refused: its name is reserved for a device", run.stdout)
        run = self.sfxmake("extract", self.path("evil.exe"), "-d", self.path("x", "y"), expect=1)
        self.assertIn(b"FAIL ../escaped.txt", run.stdout)
        self.assertFalse(os.path.exists(self.path("x", "escaped.txt")))
        self.assertFalse(os.path.exists(self.path("x", "y", "NUL.txt")))
        self.assertEqual(Path(self.path("x", "y", "fine.txt")).read_bytes(), b"good")

    def test_not_a_program_of_ours(self):
        archive = zip_members(self.path("a.zip"), SAMPLE)
        for command in (["info"], ["test"], ["extract", "-d", self.path("d")]):
            run = self.sfxmake(*command, archive, expect=2)
            self.assertTrue(run.stderr)


class Usage(SfxmakeCase):
    def test_help_and_exit_codes(self):
        for command in ("build", "info", "test", "extract"):
            run = self.sfxmake(command, "--help")
            self.assertIn(b"usage: sfxmake " + command.encode(), run.stdout)
        help = self.sfxmake("build", "--help").stdout
        for form in (b"$TEMP", b"$WINDIR", b"$SYSDIR", b"$HLM", b"+Suffix", b"--exclude PATTERN", b"--include PATTERN",
                     b"--links MODE", b"--json", b"-q, --quiet"):
            self.assertIn(form, help)
        self.assertIn(b"info", self.sfxmake("--help").stdout)
        self.sfxmake(expect=2)
        self.sfxmake("frobnicate", expect=2)
        self.sfxmake("info", "--bogus", "x.exe", expect=2)


if __name__ == "__main__":
    unittest.main()
