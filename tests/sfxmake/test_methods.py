"""How sfxmake compresses a folder: --method lzma (the default), deflate or
store, a member stored whenever that is smaller, checked by 7z and Python's
zipfile; and files read in pieces, so that a big file needs little memory."""
import os
import resource
import subprocess
import unittest
import zipfile

from sfxmaketest import SfxmakeCase, sfxtest

FILES = {
    "text.txt": b"".join(b"line %d of a text that packs well\n" % i for i in range(20000)),
    "random.bin": os.urandom(50000),  # bigger compressed than stored, whatever the method
    "empty.txt": b"",
}
STORED, DEFLATED, LZMA = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED, zipfile.ZIP_LZMA


class Methods(SfxmakeCase):
    def test_each_method_as_asked_read_by_7z_and_zipfile(self):
        folder = self.tree(FILES)
        # options, the method of text.txt (the others are stored), the password
        cases = [((), LZMA, None), (("--method", "lzma"), LZMA, None), (("--method", "deflate"), DEFLATED, None),
                 (("--method", "store"), STORED, None), (("--method", "lzma", "--password", "pw", "--encryption", "zipcrypto"), LZMA, b"pw")]
        for options, method, password in cases:
            with self.subTest(options=options):
                exe = self.path("m.exe")
                self.sfxmake("build", "-q", "-o", exe, *options, folder)
                with zipfile.ZipFile(exe) as z:
                    z.setpassword(password)
                    methods = {i.filename: i.compress_type for i in z.infolist()}
                    self.assertEqual(methods, {"text.txt": method, "random.bin": STORED, "empty.txt": STORED})
                    # LZMA members announce the end marker they carry.
                    self.assertEqual([bool(i.flag_bits & 2) for i in z.infolist()],
                                     [i.compress_type == LZMA for i in z.infolist()])
                    self.assertIsNone(z.testzip())
                    self.assertEqual({name: z.read(name) for name in FILES}, FILES)
                test = subprocess.run(["7z", "t", "-p" + (password or b"").decode(), exe], capture_output=True)
                self.assertEqual(test.returncode, 0, test.stdout)
        # AES over LZMA members, which zipfile cannot read: 7z and the core's own reader.
        exe = self.path("aes.exe")
        self.sfxmake("build", "-q", "-o", exe, "--password", "pw", folder)
        test = subprocess.run(["7z", "t", "-ppw", exe], capture_output=True)
        self.assertEqual(test.returncode, 0, test.stdout)
        self.check_extracts(exe, FILES, "--password", "pw")

    def test_method_refused_for_a_zip_input_and_unknown_names(self):
        archive = sfxtest.zip_members(self.path("in.zip"), {"a.txt": b"a"})
        self.refused("a ZIP archive keeps its members", "--method", "lzma", archive)
        self.refused("--method takes store, deflate or lzma", "--method", "bzip2", self.tree({"a.txt": b"a"}))

    def test_big_file_built_in_little_memory(self):
        # 200 MB of zeros (a sparse file) built under an address-space limit far
        # below the file's size: only pieces of it may be held at a time.
        folder = self.tree({"small.txt": b"small"})
        with open(os.path.join(folder, "zeros.bin"), "wb") as f:
            f.truncate(200 << 20)
        limit = 120 << 20

        def limited():
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

        exe = self.path("big.exe")
        run = subprocess.run([sfxtest.SFXMAKE, "build", "-q", "--method", "deflate", "-o", exe, folder],
                             capture_output=True, preexec_fn=limited)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn(b"2 members tested, 0 failed", self.sfxmake("test", exe).stdout)


if __name__ == "__main__":
    unittest.main()
