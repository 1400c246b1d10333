"""Member times in a zone with daylight saving time: a DOS time is the local time
of its own date (a July member unpacked in December keeps its hour), and an exact
UTC time in the extra field (extended timestamp 0x5455, NTFS 0x000A) wins."""
import datetime
import os
import struct
import unittest
import zipfile
from unittest import mock
from zoneinfo import ZoneInfo

import sfxtest
from extractcase import ExtractCase

ZONE = "Europe/Berlin"
EXACT = datetime.datetime(2021, 6, 1, 8, 30, 7, tzinfo=datetime.timezone.utc).timestamp()


def local(*date_time):
    return datetime.datetime(*date_time, tzinfo=ZoneInfo(ZONE)).timestamp()


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
