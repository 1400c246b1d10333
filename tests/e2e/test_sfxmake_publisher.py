"""A program with a publisher's icon and version resource as Windows sees it: the
version through GetFileVersionInfo and the icon group loaded by the system, read
by a small Windows program built here; and the program still unpacks under wine."""
import unittest

import sfxtest
from sfxtest import PUBLISHER, SAMPLE, bmp_image, ico_file, png_image, publisher_args, windows_path
from test_sfxmake_wine import unattended

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


class WindowsSeesThePublisher(sfxtest.SfxCase):
    @classmethod
    def setUpClass(cls):
        cls.reader = sfxtest.windows_program("verreader", READER_SOURCE, "-municode", "-lversion", "-lgdi32")

    def read(self, exe):
        code, out, err = self.wine(self.reader, windows_path(exe))
        self.assertEqual(code, 0, err)
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)

    def test_version_and_icon_seen_by_windows_and_the_program_unpacks(self):
        icon = ico_file(self.path("app.ico"), [(16, 16, bmp_image(16, 16, 8)), (32, 32, bmp_image(32, 32, 32)),
                                               (256, 256, png_image(256, 256))])
        source = self.tree(SAMPLE)
        for stub in ("32", "64"):
            with self.subTest(stub=stub):
                target = self.path("out" + stub)
                exe = self.path(f"demo{stub}.exe")
                self.sfxmake("build", "--stub", stub, "-o", exe, *publisher_args(icon), *unattended(target), source)
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


if __name__ == "__main__":
    unittest.main()
