"""A tree of a few hundred files, packed by each archiver the publishers use,
unzipped by the real stub: every file byte for byte, folders made, and the
archive's DOS date and time as each file's last-write time."""
import random
import shutil
import subprocess
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

    @classmethod
    def setUpClass(cls):
        cls.files = sample_tree()

    def extract(self, archive):
        exe = self.sfx(archive, overwrite="overwrite", options=sfxtest.OPT_AUTO_UNZIP | sfxtest.OPT_NO_DONE_MESSAGE)
        self.assertEqual(self.exit_code(self.start(exe, wait="wait-exit timeout=300000", timeout=400)), 0)
        self.assertExtracted(archive, self.files)

    def test_infozip_deflated(self):
        self.extract(self.zip_infozip(self.tree(self.files)))

    def test_infozip_stored(self):
        self.extract(self.zip_infozip(self.tree(self.files), "-0"))

    def test_infozip_streamed_with_data_descriptors(self):
        src = self.tree(self.files)
        archive = self.path("streamed.zip")
        with open(archive, "wb") as out:  # zip writes to a pipe: sizes follow the data
            zip_run = subprocess.Popen(["zip", "-q", "-r", "-X", "-", "."], cwd=src, stdout=subprocess.PIPE)
            out.write(zip_run.stdout.read())
            self.assertEqual(zip_run.wait(), 0)
        files = [i for i in zipfile.ZipFile(archive).infolist() if not i.is_dir()]
        self.assertTrue(all(i.flag_bits & 8 for i in files))
        self.extract(archive)

    def test_7z_deflated_and_stored(self):
        src = self.tree(self.files)
        for args in (("-mm=Deflate", "-mx9"), ("-mx0",)):
            with self.subTest(args=args):
                archive = self.zip_7z(src, *args, name=f"7z{len(args)}.zip")
                self.extract(archive)
                shutil.rmtree(self.target)

    def test_python_zipfile_stored_and_deflated(self):
        src = self.tree(self.files)
        for compression in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
            with self.subTest(compression=compression):
                archive = self.zip_python(src, name=f"py{compression}.zip", compression=compression)
                self.extract(archive)
                shutil.rmtree(self.target)


if __name__ == "__main__":
    unittest.main()
