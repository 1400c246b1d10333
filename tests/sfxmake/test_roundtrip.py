"""Round trips through sfxmake: build, then info shows what was asked, test
decodes every member with the project's core, extract gives the files back.
Inputs come from a folder and from archives made by Info-ZIP zip, 7z and
Python's zipfile; both embedded stubs carry them."""
import os
import shutil
import subprocess
import unittest
import zipfile
from pathlib import Path

from sfxmaketest import SAMPLE, SfxmakeCase, read_block, zip_members
from sfxtest import member_data_at, zip_infozip


class Roundtrip(SfxmakeCase):
    def test_folder_with_every_option_for_both_stubs(self):
        folder = self.tree(SAMPLE)
        options = ["--title", "Demo 1.0", "--folder", "$temp$\\demo", "--run", "setup.exe /quiet",
                   "--question", "Install \"Demo\"?", "--question-style", "yes-no-cancel,warning",
                   "--overwrite", "overwrite", "--run-checkbox", "--select-files", "--hide-overwrite", "--auto",
                   "--no-done-message", "--hide-file-list", "--no-show-files", "--allow-cancel",
                   "--method", "deflate"]
        for stub in ("32", "64"):
            exe = self.path(f"demo{stub}.exe")
            self.sfxmake("build", "--stub", stub, "-o", exe, *options, folder)
            info = self.sfxmake("info", exe).stdout.decode()
            for line in (f"stub:           {stub}-bit", 'title:          "Demo 1.0"', 'folder:         "$temp$\\\\demo"',
                         'run:            "setup.exe /quiet"', 'question:       "Install \\"Demo\\"?"',
                         "question-style: yes-no-cancel,warning", "overwrite:      overwrite",
                         "options:        run-checkbox select-files hide-overwrite auto no-done-message "
                         "hide-file-list no-show-files allow-cancel (0x02DF)", "offsets count from the file start"):
                self.assertIn(line, info)
            for name in SAMPLE:
                self.assertRegex(info, r"\s%s\n" % name.replace(".", r"\."))
            self.assertRegex(info, r"76800\s+\d+\s+deflate\s+none\s+\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  bin/tool.dat")
            test = self.sfxmake("test", exe).stdout
            self.assertIn(b"4 members tested, 0 failed", test)
            self.check_extracts(exe, SAMPLE)
        # A folder build is an ordinary ZIP file as well.
        subprocess.run(["unzip", "-tq", exe], check=True, capture_output=True)

    def test_archives_from_other_tools(self):
        tree = self.tree(SAMPLE, "src")
        # Odd seconds: only the exact times of 7z's and Info-ZIP's extra fields keep them.
        for name in SAMPLE:
            os.utime(os.path.join(tree, name), (1600000001, 1600000001))
        made = {
            "infozip.zip": ["zip", "-q", "-r", self.path("infozip.zip"), "."],
            "7z.zip": ["7z", "a", "-tzip", "-bd", "-bso0", self.path("7z.zip"), "."],
            "stored.zip": ["zip", "-q", "-0", "-r", self.path("stored.zip"), "."],
        }
        for name, command in made.items():
            subprocess.run(command, cwd=tree, check=True)
        made["python.zip"] = zip_members(self.path("python.zip"), SAMPLE)
        for name in made:
            for adjust in (False, True):
                with self.subTest(archive=name, adjust=adjust):
                    self.round_trip(self.path(name), SAMPLE, adjust, times=None if name == "python.zip" else 1600000001)

    def test_zip_input_is_carried_byte_for_byte(self):
        archive = zip_members(self.path("p.zip"), SAMPLE)
        exe = self.path("p.exe")
        self.sfxmake("build", "-o", exe, archive)
        data = Path(exe).read_bytes()
        self.assertEqual(data[read_block(data)["archive_start"]:], Path(archive).read_bytes())

    def test_password_round_trip(self):
        folder = self.tree(SAMPLE)
        Path(self.path("pw.txt")).write_bytes(b"Geheim!\r\n")
        # (--encryption, what info shows, how another tool tests the archive with a password)
        cases = [((), "AES-256", ["7z", "t", "-tzip", "-p{}"]), (("--encryption", "aes128"), "AES-128", ["7z", "t", "-tzip", "-p{}"]),
                 (("--encryption", "zipcrypto"), "ZipCrypto", ["unzip", "-tq", "-P", "{}"])]
        for encryption, shown, other_tool in cases:
            with self.subTest(shown):
                exe = self.path(f"secret-{shown}.exe")
                # deflated: Info-ZIP, which tests the traditional scheme, reads no LZMA
                self.sfxmake("build", "-o", exe, "--method", "deflate", "--password", "Geheim!", *encryption, folder)
                info = self.sfxmake("info", exe).stdout.decode()
                self.assertEqual(info.count(f" {shown} "), len(SAMPLE))
                self.assertIn(b"encrypted, give --password", self.sfxmake("test", exe, expect=1).stdout)
                self.assertIn(b"wrong password", self.sfxmake("test", "--password", "geheim!", exe, expect=1).stdout)
                self.sfxmake("test", "--password", "Geheim!", exe)
                self.check_extracts(exe, SAMPLE, "--password-file", self.path("pw.txt"))
                # Other tools agree on the encryption and the password check.
                for password, ok in (("Geheim!", True), ("geheim!", False)):
                    command = [arg.format(password) for arg in other_tool] + [exe]
                    self.assertEqual(subprocess.run(command, capture_output=True).returncode == 0, ok, command)
                # Fresh random salts or header bytes each time: two builds differ.
                again = self.path("again.exe")
                self.sfxmake("build", "-o", again, "--password", "Geheim!", *encryption, folder)
                self.assertNotEqual(Path(exe).read_bytes(), Path(again).read_bytes())

    def test_7z_aes_archives_test_and_extract(self):
        tree = self.tree(dict(SAMPLE, **{"big.bin": os.urandom(3 << 20)}), "src")
        for method in ("-mem=AES256", "-mem=AES128"):
            for level in ("-mx0", "-mx5"):
                with self.subTest(method=method, level=level):
                    archive = self.path(f"7z{method}{level}.zip")
                    subprocess.run(["7z", "a", "-tzip", "-bd", "-pSieben", method, level, archive, "."], cwd=tree,
                                   check=True, stdout=subprocess.DEVNULL)
                    exe = self.path(f"7z{method}{level}.exe")
                    self.sfxmake("build", "-o", exe, archive)
                    self.assertIn(b"wrong password", self.sfxmake("test", "--password", "sieben", exe, expect=1).stdout)
                    self.check_extracts(exe, dict(SAMPLE, **{"big.bin": Path(tree, "big.bin").read_bytes()}),
                                        "--password", "Sieben")

    def test_encrypted_zip_input_keeps_its_encryption(self):
        tree = self.tree(SAMPLE, "src")
        subprocess.run(["zip", "-q", "-r", "-P", "pw", self.path("enc.zip"), "."], cwd=tree, check=True)
        exe = self.path("enc.exe")
        self.sfxmake("build", "-o", exe, self.path("enc.zip"))
        self.sfxmake("test", "--password", "pw", exe)
        self.sfxmake("test", "--password", "px", exe, expect=1)

    def test_non_ascii_password_in_each_form_writers_use(self):
        # sfxmake's AES takes it in UTF-8; Info-ZIP zip the bytes it is given, each
        # form refusing those tried before it: UTF-8, Windows-1252, 437.
        password, tree = "grüße", self.tree(SAMPLE, "src")
        self.refused("ASCII password only", "--encryption", "zipcrypto", "--password", password, tree)
        self.sfxmake("build", "-q", "-o", self.path("aes.exe"), "--password", password, tree)
        forms = [password.encode(encoding) for encoding in ("utf-8", "cp1252", "cp437")]
        for n, form in enumerate(forms):
            self.sfxmake("build", "-q", "-o", self.path(f"z{n}.exe"),
                         zip_infozip(tree, self.path(f"z{n}.zip"), "-P", form, refuse=forms[:n]))
        for exe in ("aes.exe", "z0.exe", "z1.exe", "z2.exe"):
            with self.subTest(exe):
                self.check_extracts(self.path(exe), SAMPLE, "--password", password)

    def test_damaged_member_fails_test_with_exit_1(self):
        exe = self.path("d.exe")
        self.sfxmake("build", "-o", exe, zip_members(self.path("d.zip"), {"a.txt": b"A" * 5000, "b.txt": b"ok"},
                                                     compression=zipfile.ZIP_STORED))
        with open(exe, "r+b") as f:
            data = f.read()
            f.seek(data.index(b"A" * 100) + 10)
            f.write(b"B")
        run = self.sfxmake("test", "-v", exe, expect=1)
        self.assertIn(b"FAIL a.txt: CRC-32 mismatch", run.stdout)
        self.assertIn(b"OK   b.txt", run.stdout)
        self.assertIn(b"2 members tested, 1 failed", run.stdout)


class Reproducible(SfxmakeCase):
    def build_twice(self, *extra):
        outputs = []
        for n in range(2):
            folder = self.tree(SAMPLE, f"tree{n}")  # written anew: fresh times, new inode order
            os.utime(os.path.join(folder, "readme.txt"), (1000000000 + n, 1000000000 + n))
            out = self.path(f"r{n}.exe")
            self.sfxmake("build", "--reproducible", "-o", out, *extra, folder, env={"SOURCE_DATE_EPOCH": "946684800"})
            outputs.append(Path(out).read_bytes())
            shutil.rmtree(folder)
        return outputs

    def test_same_inputs_same_bytes(self):
        a, b = self.build_twice("--title", "R")
        self.assertEqual(a, b)
        info = self.sfxmake("info", self.path("r0.exe")).stdout.decode()
        self.assertIn("2000-01-01 00:00:00  bin/tool.dat", info)  # clamped to SOURCE_DATE_EPOCH, in UTC

    def test_encrypted_only_with_fixed_headers_when_asked(self):
        a, b = self.build_twice("--password", "pw")
        self.assertNotEqual(a, b)
        a, b = self.build_twice("--password", "pw", "--fixed-encryption-header")
        self.assertEqual(a, b)
        self.sfxmake("test", "--password", "pw", self.path("r1.exe"))
        # The salt is keyed with the password: without it, it tells nothing of the data.
        at = member_data_at(self.path("r1.exe"), min(SAMPLE))[0]  # an AES-256 salt: 16 bytes
        other = self.build_twice("--password", "px", "--fixed-encryption-header")[0]
        self.assertNotEqual(other[at:at + 16], a[at:at + 16])


if __name__ == "__main__":
    unittest.main()
