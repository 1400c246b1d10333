"""What the user's regional settings change, wine taking them from the
environment that the driver and the stub inherit (TZ, LC_ALL).

Member times in a zone with daylight saving time: a DOS time is the local time
of its own date (a July member unpacked in December keeps its hour), and an exact
UTC time in the extra field (extended timestamp 0x5455, NTFS 0x000A) wins.

Names in Unicode from the archive to the disk, on a Western (code page 1252)
and a Japanese (code page 932) Windows: names from Python's zipfile and 7z
(flagged UTF-8), from Info-ZIP zip on Linux (UTF-8 without the flag) and from a
Unicode Path extra field, including double-byte characters whose second byte is
0x5C and names neither code page can hold; and a target folder with such names.
sfxmake extract gives the same names back."""
import datetime
import os
import shutil
import struct
import unittest
import zipfile
import zlib
from unittest import mock
from zoneinfo import ZoneInfo

import sfxtest
from extractcase import ExtractCase
from sfxtest import windows_path

ZONE = "Europe/Berlin"
EXACT = datetime.datetime(2021, 6, 1, 8, 30, 7, tzinfo=datetime.timezone.utc).timestamp()


def local(*date_time):
    return datetime.datetime(*date_time, tzinfo=ZoneInfo(ZONE)).timestamp()


# 表, 能 and ソ end in 0x5C in code page 932; Ł and 한 are in neither code page.
NAMES = {"表": b"1", "能力.txt": b"2", "ソフト/readme.txt": b"3", "grüße.txt": b"4", "Łódź.txt": b"5",
         "한글/문서.txt": b"6"}
CODE_PAGES = {"1252": "en_US.UTF-8", "932": "ja_JP.UTF-8"}  # wine takes its code pages from LC_ALL


def unicode_path_archive(path, names=NAMES):
    """Names stored as an MS-DOS tool would (host 0, OEM bytes that mean nothing
    here), each with a Unicode Path field giving the real name: names is
    {real name: bytes}."""
    members = []
    for i, (name, data) in enumerate(names.items()):
        stored = f"n{i}.dat"
        info = zipfile.ZipInfo(stored, (2020, 5, 6, 7, 8, 10))
        info.create_system = 0
        utf8 = name.encode()
        info.extra = struct.pack("<HHBI", 0x7075, 5 + len(utf8), 1, zlib.crc32(stored.encode())) + utf8
        members.append((info, data))
    return sfxtest.zip_members(path, members)


class UnicodeNames(ExtractCase):
    def archives(self):
        source = self.tree(NAMES)
        return {"zipfile": self.zip_python(source), "7z": self.zip_7z(source),
                "infozip": self.zip_infozip(source, name="infozip.zip"),
                "unicode-path": unicode_path_archive(self.path("upath.zip"))}

    def in_code_page(self, locale):
        self.enterContext(mock.patch.dict(os.environ, LC_ALL=locale))

    def test_every_writer_under_both_code_pages(self):
        archives = self.archives()
        for page, locale in CODE_PAGES.items():
            self.in_code_page(locale)
            for writer, archive in archives.items():
                with self.subTest(code_page=page, writer=writer):
                    target = self.path(f"out-{page}-{writer}")
                    exe = self.sfx(archive, name=f"{writer}.exe", folder=windows_path(target),
                                   options=sfxtest.OPT_AUTO_UNZIP)
                    self.assertEqual(self.exit_code(self.start(exe)), 0)
                    self.assertEqual(sfxtest.read_tree(target), NAMES)
        # sfxmake applies the same rule.
        for writer, archive in archives.items():
            with self.subTest(sfxmake=writer):
                exe = self.sfx(archive, name=f"{writer}-x.exe")
                self.sfxmake("extract", exe, "-d", self.path(f"x-{writer}"))
                self.assertEqual(sfxtest.read_tree(self.path(f"x-{writer}")), NAMES)

    def test_target_folder_and_title_in_unicode_on_a_japanese_windows(self):
        self.in_code_page(CODE_PAGES["932"])
        target = os.path.join(self.target, "ソフト", "Łukasz")
        exe = self.sfx(self.zip_python(self.tree({"a.txt": b"a"})), folder=windows_path(target), title="表 Łódź",
                       options=sfxtest.OPT_NO_DONE_MESSAGE)
        self.unzip(exe)
        self.assertEqual(sfxtest.read_tree(target), {"a.txt": b"a"})
        self.assertIn(b"utf8-texts", self.sfxmake("info", exe).stdout)


class Passwords(ExtractCase):
    def test_each_form_of_a_password_on_a_japanese_windows(self):
        # sfxmake's AES password in UTF-8 (ü is not in code page 932); Info-ZIP's
        # in the bytes it is given: UTF-8, or code page 932's (refusing UTF-8, tried first).
        self.enterContext(mock.patch.dict(os.environ, LC_ALL=CODE_PAGES["932"]))
        files, japanese = {"a.txt": b"secret " * 100}, "パスワード"
        tree = self.tree(files)
        cases = {"aes": (tree, "grüße", ("--password", "grüße"))}
        for encoding, refuse in (("utf-8", ()), ("cp932", (japanese,))):
            cases[encoding] = (self.zip_infozip(tree, "-P", japanese.encode(encoding), name=encoding + ".zip",
                                                refuse=refuse), japanese, ())
        for label, (source, password, options) in cases.items():
            with self.subTest(label):
                shutil.rmtree(self.target, ignore_errors=True)
                exe = self.sfx(source, *options, name=label + ".exe")
                self.assertEqual(self.exit_code(self.start(exe, options=f'args="/s /p {password}"')), 0)
                self.assertEqual(sfxtest.read_tree(self.target), files)


class ZoneTimes(ExtractCase):
    def test_dos_times_of_both_seasons_and_exact_times(self):
        # wine takes its time zone from TZ, which the driver and the stub inherit.
        self.enterContext(mock.patch.dict(os.environ, TZ=ZONE))
        filetime = int(EXACT) * 10000000 + 116444736000000000
        members = [
            ("summer.txt", (2023, 7, 15, 12, 0, 0), b""),
            ("winter.txt", (2023, 1, 15, 12, 0, 0), b""),
            ("timestamp.txt", (2023, 1, 15, 12, 0, 0), struct.pack("<HHBi", 0x5455, 5, 1, int(EXACT))),
            ("ntfs.txt", (2023, 7, 15, 12, 0, 0), struct.pack("<HHIHHQQQ", 0x000A, 32, 0, 1, 24, filetime, 0, 0)),
        ]
        archive = self.path("times.zip")
        with zipfile.ZipFile(archive, "w") as z:
            for name, date_time, extra in members:
                info = zipfile.ZipInfo(name, date_time)
                info.extra = extra
                z.writestr(info, name.encode())
        exe = self.sfx(archive, options=sfxtest.OPT_AUTO_UNZIP)
        self.assertEqual(self.exit_code(self.start(exe)), 0)
        expected = {"summer.txt": local(2023, 7, 15, 12), "winter.txt": local(2023, 1, 15, 12),
                    "timestamp.txt": EXACT, "ntfs.txt": EXACT}
        found = {name: os.stat(os.path.join(self.target, name)).st_mtime for name in expected}
        self.assertEqual(found, expected)


if __name__ == "__main__":
    unittest.main()
