"""A tree of a few hundred files, packed by each archiver the publishers use,
unzipped by the real stub: every file byte for byte, folders made, and the
archive's DOS date and time as each file's last-write time."""
import random
import shutil
import unittest
import zipfile

import sfxtest
from extractcase import ExtractCase


def sample_tree():
    """Nested folders, empty files, block-boundary sizes and a file of several MB."""
    rng = random.Random(20240611)
    files = {}
    for i in range(240):
        depth = i % 5
        folder = "/".join(f"level{d}_{(i // (d + 1)) % 3}" for d in range(depth))
        size = rng.choice([0, 1, 100, 4095, 32767, 32769, 70000])
        text = i % 2 == 0  # half compress well, half do not
        data = (f"line {i}\n" * (size // 8 + 1)).encode()[:size] if text else rng.randbytes(size)
        files[(folder + "/" if folder else "") + f"file{i:03}.{'txt' if text else 'bin'}"] = data
    files["exact/32768.bin"] = rng.randbytes(32768)
    files["exact/32768.txt"] = b"z" * 32768
    files["big/several-mb.bin"] = rng.randbytes(3 * 1024 * 1024 + 17)
    files["big/several-mb.txt"] = b"".join(b"%08d\n" % n for n in range(600000))
    files["empty/at/depth/nothing.txt"] = b""
    files["with space/a name with blanks.txt"] = b"blanks in folder and file names"
    return files


class TreeExtraction(ExtractCase):
    """Each archive is unzipped with Overwrite into an empty folder by an automatic
    program, so nothing is shown and the exit code is the outcome."""

    def test_every_archiver(self):
        files = sample_tree()
        src = self.tree(files)
        archives = {
            "infozip deflated": self.zip_infozip(src, name="deflated.zip"),
            "infozip stored": self.zip_infozip(src, "-0", name="stored.zip"),
            "infozip streamed": self.zip_infozip(src, name="streamed.zip", streamed=True),
            "7z deflated": self.zip_7z(src, "-mm=Deflate", "-mx9", name="7z-deflated.zip"),
            "7z stored": self.zip_7z(src, "-mx0", name="7z-stored.zip"),
            "zipfile stored": self.zip_python(src, name="py-stored.zip", compression=zipfile.ZIP_STORED),
            "zipfile deflated": self.zip_python(src, name="py-deflated.zip", compression=zipfile.ZIP_DEFLATED),
        }
        # Streamed: zip wrote to a pipe, so every file's sizes follow its data.
        self.assertTrue(all(i.flag_bits & 8 for i in zipfile.ZipFile(archives["infozip streamed"]).infolist()
                            if not i.is_dir()))
        for name, archive in archives.items():
            with self.subTest(name):
                exe = self.sfx(archive, name=name.replace(" ", "-") + ".exe", overwrite="overwrite",
                               options=sfxtest.OPT_AUTO_UNZIP | sfxtest.OPT_NO_DONE_MESSAGE)
                self.assertEqual(self.exit_code(self.start(exe, wait="wait-exit timeout=300000", timeout=400)), 0)
                self.assertExtracted(archive, files)
                shutil.rmtree(self.target)


if __name__ == "__main__":
    unittest.main()
