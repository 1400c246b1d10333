"""What the extraction tests share: a target folder per test, programs that
unzip into it, archives with members written byte by byte, and checks of the
files and times that come out."""
import os
import struct
import time
import zipfile
import zlib

import sfxtest
from sfxtest import q, windows_path

MAIN_CAPTION = "Extracting files..."
DONE = "All files have been unzipped."


def dos_time_of(info):
    """The POSIX time of a member's DOS date and time, read as local time (the
    stub stamps files that way, and wine shares this process's time zone)."""
    return time.mktime(info.date_time + (0, 0, -1))


def stored_member(name, data, method=0, flags=0, dos=(2022, 3, 4, 5, 6, 8), crc=None):
    """A local header with its data and the matching central record, as bytes,
    for archives that no tool would write. The data is taken as it is."""
    d = dos
    dos_time = (d[3] << 11) | (d[4] << 5) | (d[5] // 2)
    dos_date = ((d[0] - 1980) << 9) | (d[1] << 5) | d[2]
    crc = zlib.crc32(data) if crc is None else crc
    raw = name.encode("cp1252")
    fields = struct.pack("<HHHHHIIIHH", 20, flags, method, dos_time, dos_date, crc, len(data), len(data), len(raw), 0)
    local = b"PK\x03\x04" + fields + raw + data
    central = b"PK\x01\x02" + struct.pack("<H", 20) + fields + struct.pack("<HHHII", 0, 0, 0, 0, 0) + raw
    return local, central


def raw_archive(path, members):
    """Writes members (pairs from stored_member) as one archive without ZIP64."""
    with open(path, "wb") as f:
        centrals = []
        for local, central in members:
            centrals.append(central[:42] + struct.pack("<I", f.tell()) + central[46:])
            f.write(local)
        start = f.tell()
        directory = b"".join(centrals)
        f.write(directory)
        f.write(b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, len(centrals), len(centrals), len(directory), start, 0))
    return path


class ExtractCase(sfxtest.SfxCase):
    """A scratch folder with a target folder "out" in it."""

    def setUp(self):
        super().setUp()
        self.target = self.path("out")

    def program(self, archive, name="test.exe", folder=None, **config):
        """An SFX from archive whose default folder is the target."""
        return self.sfx(archive, name=name, folder=windows_path(self.target) if folder is None else folder, **config)

    def crafted_program(self, archive, name="crafted.exe", **config):
        """An SFX whose block is written here: for archives sfxmake refuses to take."""
        config.setdefault("folder", windows_path(self.target))
        return sfxtest.write_sfx(self.stub, archive, self.path(name), **config)

    def unzip(self, exe, middle="", timeout=180):
        """Starts exe, presses Unzip, runs the middle of the script, waits for the end."""
        run = self.drive(f"""
            start {q(exe)}
            wait-window {q(MAIN_CAPTION)}
            press id=1
            {middle}
            wait-exit
        """, timeout=timeout)
        self.assertDriverOk(run)
        return run

    def exit_code(self, run):
        return run.result("wait-exit", -1)["exit_code"]

    def assertExtracted(self, archive, expected):
        """Every file of expected (relative name: bytes) is in the target, byte
        for byte, with the last-write time of its member; nothing else is."""
        self.assertEqual(sorted(sfxtest.read_tree(self.target)), sorted(expected))
        members = {i.filename: i for i in zipfile.ZipFile(archive).infolist()}
        for name, data in expected.items():
            path = os.path.join(self.target, *name.split("/"))
            with open(path, "rb") as f:
                self.assertTrue(f.read() == data, f"{name} differs")
            self.assertEqual(os.stat(path).st_mtime, dos_time_of(members[name]), name)
