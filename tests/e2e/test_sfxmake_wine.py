"""sfxmake's output under wine: unpacked by the real 64-bit stub; a publisher's
icon and version resource as Windows sees them (through GetFileVersionInfo and
the icon group loaded by the system, read by a small Windows program built
here); a program signed with osslsigncode and a throw-away certificate that
still tests, verifies and unpacks (the signature sits behind the archive, where
the stub ignores it); and sfxmake.exe itself under wine producing programs that
the Linux sfxmake accepts, byte for byte the Linux sfxmake's with LZMA members
(one encoder on both), and wrapping and testing LZMA members."""
import os
import subprocess
import unittest
import zipfile
from pathlib import Path
from unittest import mock

import sfxtest
from sfxtest import PUBLISHER, SAMPLE, publisher_args, windows_path


# Prints what Windows reports of a file's version resource and of its icon group UNZIP.
READER_SOURCE = r"""
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static void put(const char *key, const wchar_t *value) {
  char utf8[1024];
  WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof utf8, NULL, NULL);
  printf("%s=%s\n", key, utf8);
}

int wmain(int argc, wchar_t **argv) {
  static const char *keys[] = {"CompanyName", "FileDescription", "FileVersion", "LegalCopyright",
                               "ProductName", "ProductVersion"};
  DWORD ignored, size;
  void *info, *value;
  UINT length;
  VS_FIXEDFILEINFO *fixed;
  struct { WORD Language, CodePage; } *translation;
  HMODULE module;
  HRSRC group;
  HICON icon;
  ICONINFO parts;
  BITMAP bitmap;
  int i;
  if (argc != 2) return 2;
  size = GetFileVersionInfoSizeW(argv[1], &ignored);
  info = malloc(size ? size : 1);
  if (size && GetFileVersionInfoW(argv[1], 0, size, info)) {
    if (VerQueryValueW(info, L"\\", (void **)&fixed, &length))
      printf("fixed=%u.%u.%u.%u %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
             HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS), HIWORD(fixed->dwProductVersionMS),
             LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    if (VerQueryValueW(info, L"\\VarFileInfo\\Translation", (void **)&translation, &length) && length >= 4)
      for (i = 0; i < 6; i++) {
        wchar_t path[128];
        swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%hs", translation->Language, translation->CodePage, keys[i]);
        if (VerQueryValueW(info, path, &value, &length)) put(keys[i], value);
      }
  } else {
    printf("version=none\n");
  }
  module = LoadLibraryExW(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
  group = module ? FindResourceW(module, L"UNZIP", (LPCWSTR)RT_GROUP_ICON) : NULL;
  if (group) printf("icon-images=%u\n", ((WORD *)LockResource(LoadResource(module, group)))[2]);
  icon = module ? (HICON)LoadImageW(module, L"UNZIP", IMAGE_ICON, 32, 32, 0) : NULL;
  if (icon && GetIconInfo(icon, &parts) && GetObjectW(parts.hbmColor ? parts.hbmColor : parts.hbmMask,
                                                      sizeof bitmap, &bitmap))
    printf("icon32=%ldx%ld\n", bitmap.bmWidth, bitmap.bmHeight);
  return 0;
}
"""


class SfxmakeUnderWine(sfxtest.SfxCase):
    @classmethod
    def setUpClass(cls):
        cls.reader = sfxtest.windows_program("verreader", READER_SOURCE, "-municode", "-lversion", "-lgdi32")

    def unattended(self, name, *args, stub="64"):
        """sfxmake build of name.exe (args: more options and the input) for a run
        that needs nobody: it unpacks to out-name at once, replaces, closes and
        reports nothing. Returns the program and its target folder."""
        exe, target = self.path(name + ".exe"), self.path("out-" + name)
        self.sfxmake("build", "--stub", stub, "-o", exe, "--auto", "--overwrite", "overwrite", "--no-done-message",
                     "--folder", windows_path(target), *args)
        return exe, target

    def read(self, exe):
        """What the reader program (READER_SOURCE) prints of exe."""
        code, out, err = self.wine(self.reader, windows_path(exe))
        self.assertEqual(code, 0, err)
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)

    def test_folder_and_zip_builds(self):
        source = self.tree(SAMPLE)
        archive = self.zip_infozip(source)
        cases = {
            "folder": [source],
            "adjusted": ["--adjust-offsets", archive],
            "as-is": [archive],
        }
        for name, args in cases.items():
            with self.subTest(name):
                exe, target = self.unattended(name, *args)
                self.assertEqual(self.wine(exe)[0], 0)
                self.assertEqual(sfxtest.read_tree(target), SAMPLE)

    def test_windows_build_passes_linux_test(self):
        self.assertTrue(os.path.exists(sfxtest.SFXMAKE_EXE), "sfxmake.exe is built by scripts/build")
        source = self.tree({**SAMPLE, "café.txt": b"latin"})
        for stub in ("32", "64"):
            exe = self.path(f"w{stub}.exe")
            code, _, err = self.wine(sfxtest.SFXMAKE_EXE, "build", "--stub", stub, "--title", "Built on Windows",
                                     "--password", "pw", "-o", windows_path(exe), windows_path(source))
            self.assertEqual(code, 0, err)
            info = self.sfxmake("info", exe).stdout.decode()
            self.assertIn(f"stub:           {stub}-bit", info)
            self.assertIn('title:          "Built on Windows"', info)
            self.assertIn("bin/tool.dat", info)  # '/' separators on Windows too
            self.assertIn("5 members tested, 0 failed", self.sfxmake("test", "--password", "pw", exe).stdout.decode())
        # A refusal keeps its exit code and writes nothing on Windows as well.
        code, _, _ = self.wine(sfxtest.SFXMAKE_EXE, "build", "--title", "x" * 256,
                               "-o", windows_path(self.path("bad.exe")), windows_path(source))
        self.assertEqual(code, 2)
        self.assertFalse(os.path.exists(self.path("bad.exe")))

    def test_windows_lzma_build_is_the_linux_build(self):
        # A program image, a text, a run, a random block, a byte: LZMA by default on
        # both builders, from the same encoder, so the same bytes; read by 7-Zip,
        # Python's zipfile and the stub (the encrypted build by 7-Zip, with the
        # password; the solid build, which other tools cannot read, by the stub and
        # by sfxmake test on both sides).
        dll = Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll")
        files = {"bin/kernel32.dll": dll.read_bytes()[:400000],
                 "doc/readme.txt": b"".join(b"line %d of the readme\n" % i for i in range(3000)),
                 "run.bin": b"\0" * 70000 + b"ab" * 5000, "noise.bin": os.urandom(5000), "one": b"x"}
        source = self.tree(files)
        for name, args in {"plain": [], "aes": ["--password", "pw", "--fixed-encryption-header"],
                           "solid": ["--solid"]}.items():
            with self.subTest(name):
                linux, windows = self.path(name + "-linux.exe"), self.path(name + "-windows.exe")
                common = ["build", "-q", "--reproducible", "--stub", "64", "--auto", "--overwrite", "overwrite",
                          "--no-done-message", "--folder", windows_path(self.path("out-" + name)), *args]
                self.sfxmake(*common, "-o", linux, source)
                code, _, err = self.wine(sfxtest.SFXMAKE_EXE, *common, "-o", windows_path(windows), windows_path(source))
                self.assertEqual(code, 0, err)
                self.assertEqual(Path(windows).read_bytes(), Path(linux).read_bytes())
                if name == "solid":
                    self.sfxmake("test", "-q", linux)
                    self.assertEqual(self.wine(sfxtest.SFXMAKE_EXE, "test", "-q", windows_path(windows))[0], 0)
                password = ["-ppw"] if name == "aes" else []
                with zipfile.ZipFile(windows) as z:
                    methods = {i.filename: i.compress_type for i in z.infolist()}
                    self.assertEqual(methods["bin/kernel32.dll"], {"plain": zipfile.ZIP_LZMA, "aes": 99, "solid": 76}[name])
                    if name == "plain":
                        self.assertEqual({n: z.read(n) for n in methods}, files)
                if name != "solid":
                    self.assertEqual(subprocess.run(["7z", "t", *password, windows], capture_output=True).returncode, 0)
                if name == "aes":
                    continue
                self.assertEqual(self.wine(windows)[0], 0)
                self.assertEqual(sfxtest.read_tree(self.path("out-" + name)), files)

    def test_windows_build_wraps_and_tests_lzma_members(self):
        archive, files = sfxtest.lzma_archive(self.dir)
        exe = self.path("lzma.exe")
        for args in (["build", "-q", "-o", windows_path(exe), windows_path(archive)], ["test", "-q", windows_path(exe)]):
            code, out, err = self.wine(sfxtest.SFXMAKE_EXE, *args)
            self.assertEqual(code, 0, err)
        self.assertIn(f"{len(files)} members tested, 0 failed", out)

    def test_fixed_encryption_headers_come_out_as_on_linux(self):
        # The keyed hash is CNG's here and libgcrypt's on Linux: the same bytes.
        self.enterContext(mock.patch.dict(os.environ, SOURCE_DATE_EPOCH="946684800"))
        source = self.tree(SAMPLE)
        for encryption in ("aes256", "zipcrypto"):
            args = ["build", "-q", "--method", "deflate", "--reproducible", "--fixed-encryption-header",
                    "--password", "pw", "--encryption", encryption, "-o"]
            self.sfxmake(*args, self.path("linux.exe"), source)
            code, _, err = self.wine(sfxtest.SFXMAKE_EXE, *args, windows_path(self.path("w.exe")), windows_path(source))
            self.assertEqual(code, 0, err)
            self.assertEqual(Path(self.path("w.exe")).read_bytes(), Path(self.path("linux.exe")).read_bytes(), encryption)

    def test_windows_extract_replaces_only_with_a_sound_member(self):
        exe = self.path("pw.exe")
        self.sfxmake("build", "-q", "-o", exe, "--password", "right", self.tree({"a.txt": b"new", "d/b.txt": b"b"}))
        out = sfxtest.write_tree(self.path("out"), {"a.txt": b"original"})
        for password, code, files, summary in (("wrong", 1, {"a.txt": b"original"}, "0 members extracted, 2 failed"),
                                               ("right", 0, {"a.txt": b"new", "d/b.txt": b"b"},
                                                "2 members extracted, 0 failed")):
            got, stdout, err = self.wine(sfxtest.SFXMAKE_EXE, "extract", "-q", "--password", password,
                                         windows_path(exe), "-d", windows_path(out))
            self.assertEqual(sfxtest.read_tree(out), files, "no temporary file stays either")
            self.assertEqual(got, code, err)
            self.assertIn(summary, stdout)
        # An output that cannot be made is reported as what the user asked for.
        code, _, err = self.wine(sfxtest.SFXMAKE_EXE, "build", "-o", windows_path(self.path("missing", "x.exe")),
                                 windows_path(self.path("src")))
        self.assertEqual(code, 2)
        self.assertIn("x.exe:", err)
        self.assertNotIn("sfxmake-tmp", err)

    def test_version_and_icon_seen_by_windows_and_the_program_unpacks(self):
        source = self.tree(SAMPLE)
        for stub in ("32", "64"):
            with self.subTest(stub=stub):
                exe, target = self.unattended("demo" + stub, *publisher_args(self.path("app.ico")), source, stub=stub)
                seen = self.read(exe)
                self.assertEqual(seen.pop("fixed"), "2.1.0.7 2.1.0.0")
                self.assertEqual((seen.pop("icon-images"), seen.pop("icon32")), ("3", "32x32"))
                self.assertEqual(seen, {"CompanyName": PUBLISHER["--company"],
                                        "FileDescription": PUBLISHER["--description"],
                                        "FileVersion": PUBLISHER["--file-version"],
                                        "LegalCopyright": PUBLISHER["--copyright"],
                                        "ProductName": PUBLISHER["--product-name"],
                                        "ProductVersion": PUBLISHER["--product-version"]})
                if stub == "64":  # this wine session runs 64-bit programs only
                    self.assertEqual(self.wine(exe)[0], 0)
                    self.assertEqual(sfxtest.read_tree(target), SAMPLE)

    def test_plain_program_has_no_version(self):
        exe = self.path("plain.exe")
        self.sfxmake("build", "--stub", "64", "-o", exe, self.tree({"a.txt": b"a"}))
        seen = self.read(exe)
        self.assertEqual((seen.get("version"), seen.get("icon-images")), ("none", "2"))

    def sign(self, exe):
        key, cert = self.path("key.pem"), self.path("cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=sfxkit test signer"], check=True, capture_output=True)
        signed = exe[:-4] + "-signed.exe"
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "sfxkit test",
                        "-in", exe, "-out", signed], check=True, capture_output=True)
        return signed

    def test_signed_program_tests_and_unpacks(self):
        exe, target = self.unattended("demo", *publisher_args(self.path("app.ico")), self.tree(SAMPLE))
        signed = self.sign(exe)
        plain, data = Path(exe).read_bytes(), Path(signed).read_bytes()
        self.assertGreater(len(data), len(plain), "the signature is appended")
        self.assertIn(b"4 members tested, 0 failed", self.sfxmake("test", signed).stdout)
        self.assertIn(b"icon:           3 images", self.sfxmake("info", signed).stdout)
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", self.path("cert.pem"), "-in", signed],
                                capture_output=True)
        self.assertIn(b"Signature verification: ok", verify.stdout)
        self.assertEqual(self.wine(signed)[0], 0)
        self.assertEqual(sfxtest.read_tree(target), SAMPLE)


if __name__ == "__main__":
    unittest.main()
