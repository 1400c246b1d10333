"""The file list the running main dialog shows: names, sizes and order as the
archive's directory has them, folder members absent, names converted to the
ANSI code page, whichever tool wrote the archive and however it was appended."""
import os
import subprocess
import unittest
import zipfile

from sfxtest import dos_member_archive
from startup_driver import StartupCase

FILES = {"readme.txt": b"read me\n", "bin/tool.dat": b"\x00" * 70000, "empty.txt": b"", "bin/deep/x.cfg": b"k=v\n"}


class FileList(StartupCase):
    def expected_rows(self, archive):
        """Rows as the directory orders the file members, '/' turned into '\\'."""
        with zipfile.ZipFile(archive) as z:
            return [(i.filename.replace("/", "\\"), str(i.file_size)) for i in z.infolist() if not i.is_dir()]

    def test_archives_of_every_tool(self):
        source = self.tree(FILES)
        for name, archive in [("zip", self.zip_infozip(source)), ("7z", self.zip_7z(source)),
                              ("python", self.zip_members(sorted(FILES.items())))]:
            with self.subTest(name):
                expected = self.expected_rows(archive)
                self.assertEqual(len(expected), 4)
                rows = self.list_rows(self.sfx(archive, name=name + ".exe"))
                self.assertEqual(rows, expected)
                self.assertIn(("bin\\tool.dat", "70000"), rows)
                self.assertIn(("empty.txt", "0"), rows)

    def test_folder_members_are_not_listed(self):
        archive = self.zip_infozip(self.tree(FILES))
        with zipfile.ZipFile(archive) as z:
            self.assertIn("bin/deep/", z.namelist())  # the folders are in the archive ...
        self.assertNotIn("bin\\deep\\", [n for n, _ in self.list_rows(self.sfx(archive))])  # ... not in the list
        only_folders = self.zip_members([("a/", b""), ("a/b/", b"")], name="folders.zip")
        self.assertEqual(self.list_rows(self.sfx(only_folders, crafted=True)), [])

    def test_offsets_adjusted_to_the_whole_file(self):
        archive = self.zip_infozip(self.tree(FILES))
        plain = self.sfx(archive, name="plain.exe")
        adjusted = self.sfx(archive, name="adjusted.exe")
        run = subprocess.run(["zip", "-A", adjusted], capture_output=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(plain, "rb") as a, open(adjusted, "rb") as b:
            self.assertNotEqual(a.read(), b.read())  # zip -A did rewrite the offsets
        self.assertEqual(self.list_rows(adjusted), self.expected_rows(archive))
        self.assertEqual(self.list_rows(plain), self.expected_rows(archive))

    def test_signed_program_still_opens(self):
        exe = self.sfx(self.zip_infozip(self.tree(FILES)))
        key, cert, signed = self.path("key.pem"), self.path("cert.pem"), self.path("signed.exe")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=sfxkit test"], check=True, capture_output=True)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", exe, "-out", signed],
                       check=True, capture_output=True)
        self.assertGreater(os.path.getsize(signed), os.path.getsize(exe) + 500)  # a certificate behind the archive
        self.assertEqual(len(self.list_rows(signed)), 4)

    def test_end_signature_in_the_comment_does_not_count(self):
        archive = self.zip_members([("a.txt", b"alpha")], comment=b"see PK\x05\x06 and more PK\x05\x06")
        self.assertEqual(self.list_rows(self.sfx(archive)), [("a.txt", "5")])


class NameConversion(StartupCase):
    def test_oem_name_from_a_dos_tool(self):
        rows = self.list_rows(self.sfx(dos_member_archive(self.path("dos.zip")), crafted=True))
        self.assertEqual(rows, [("m\u00fcnchen.txt", "5"), ("plain.txt", "5")])

    def test_utf8_names(self):
        for name, archive in [("python", self.zip_members([("caf\u00e9/na\u00efve.txt", b"1"), ("\u20ac.txt", b"22")])),
                              ("7z", self.zip_7z(self.tree({"caf\u00e9/na\u00efve.txt": b"1", "\u20ac.txt": b"22"})))]:
            with self.subTest(name):
                rows = self.list_rows(self.sfx(archive, name=name + ".exe"))
                self.assertEqual(sorted(rows), [("caf\u00e9\\na\u00efve.txt", "1"), ("\u20ac.txt", "2")])

    def test_utf8_name_without_an_ansi_equivalent_is_listed_as_it_is(self):
        # Omega is not in the Western ANSI code page: no best-fit 'O', no garbled bytes.
        archive = self.zip_members([("\u03a9mega.txt", b"w")])
        rows = self.list_rows(self.sfx(archive, crafted=True))
        self.assertEqual(rows, [("\u03a9mega.txt", "1")])


if __name__ == "__main__":
    unittest.main()
