"""sfxmake's output unpacked by the real 64-bit stub under wine, and sfxmake.exe
itself under wine producing programs that the Linux sfxmake accepts."""
import os
import unittest

import sfxtest
from sfxtest import SAMPLE, windows_path


def unattended(target):
    """Settings of a run that needs nobody: unpack to target at once, replace, close, report nothing."""
    return ["--auto", "--overwrite", "overwrite", "--no-done-message", "--folder", windows_path(target)]


class StubUnpacksSfxmakeOutput(sfxtest.SfxCase):
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
                target = self.path("out-" + name)
                exe = self.path(name + ".exe")
                self.sfxmake("build", "--stub", "64", "-o", exe, *unattended(target), *args)
                self.assertEqual(self.wine(exe)[0], 0)
                self.assertEqual(sfxtest.read_tree(target), SAMPLE)


class SfxmakeExeUnderWine(sfxtest.SfxCase):
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


if __name__ == "__main__":
    unittest.main()
