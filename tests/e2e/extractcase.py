"""What the extraction tests add to sfxtest: a target folder per test that
programs unzip into by default, and checks of the files and times that come out."""
import os
import struct
import time
import zipfile
from pathlib import Path

import sfxtest
from sfxtest import q, windows_path


def member_time_of(info):
    """The last-write time the stub gives a member: the exact time of its NTFS
    (0x000A) or extended-timestamp (0x5455) extra field when it has one, else
    its DOS time read as local time (the stub stamps files that way, and wine
    shares this process's time zone)."""
    extra, at, unix = info.extra, 0, None
    while at + 4 <= len(extra):
        kind, size = struct.unpack_from("<HH", extra, at)
        data = extra[at + 4:at + 4 + size]
        at += 4 + size
        if kind == 0x000A and size >= 32 and struct.unpack_from("<HH", data, 4) == (1, 24):
            return (struct.unpack_from("<Q", data, 8)[0] - 116444736000000000) / 1e7
        if kind == 0x5455 and size >= 5 and data[0] & 1:
            unix = struct.unpack_from("<i", data, 1)[0]
    return time.mktime(info.date_time + (0, 0, -1)) if unix is None else unix


class ExtractCase(sfxtest.SfxCase):
    """A scratch folder with a target folder "out" in it."""

    def setUp(self):
        super().setUp()
        self.target = self.path("out")

    def sfx(self, archive, *options, **config):
        """An SFX from archive whose default folder is the target."""
        config.setdefault("folder", windows_path(self.target))
        return super().sfx(archive, *options, **config)

    def unzip(self, exe, middle=""):
        return self.drive(sfxtest.unzip_script(exe, middle))

    def start(self, exe, middle="", options="", wait="wait-exit", timeout=180):
        """Starts exe with the start command's options, runs the middle of the
        script, waits for the end."""
        return self.drive(f"start {q(exe)} {options}\n{middle}\n{wait}", timeout=timeout)

    def exit_code(self, run):
        return run.result("wait-exit", -1)["exit_code"]

    def existing(self, files):
        """Files already in the target: {relative name: bytes}."""
        sfxtest.write_tree(self.target, files)

    def assertExtracted(self, archive, expected):
        """Every file of expected (relative name: bytes) is in the target, byte
        for byte, with the last-write time of its member (member_time_of);
        nothing else is."""
        self.assertEqual(sorted(sfxtest.read_tree(self.target)), sorted(expected))
        members = {i.filename: i for i in zipfile.ZipFile(archive).infolist()}
        for name, data in expected.items():
            path = os.path.join(self.target, *name.split("/"))
            self.assertTrue(Path(path).read_bytes() == data, f"{name} differs")
            self.assertAlmostEqual(os.stat(path).st_mtime, member_time_of(members[name]), places=5, msg=name)
