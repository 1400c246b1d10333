"""sfxmake's output run by the real 64-bit stub under wine, and sfxmake.exe
itself under wine producing programs that the Linux sfxmake accepts."""
import os
import unittest

from sfxmake_wine import SAMPLE, SFXMAKE_EXE, WineCase, windows_path


class StubUnpacksSfxmakeOutput(WineCase):
    def test_folder_and_zip_builds(self):
        self.require_extracting_stub()
        source = self.tree(SAMPLE)
        cases = {
            "plain": ["--stub", "64", source],
            "adjusted": ["--stub", "64", "--adjust-offsets", self.zip_of(source)],
            "as-is": ["--stub", "64", self.zip_of(source)],
        }
        for name, args in cases.items():
            with self.subTest(name):
                target = self.path("out-" + name)
                exe = self.path(name + ".exe")
                self.sfxmake("build", "-o", exe, *self.auto_options(target), *args)
                self.assertEqual(self.unpack_under_wine(exe), 0)
                self.assert_tree(target, SAMPLE)

    def zip_of(self, source):
        import subprocess
        archive = self.path("source.zip")
        if not os.path.exists(archive):
            subprocess.run(["zip", "-q", "-r", archive, "."], cwd=source, check=True)
        return archive


class SfxmakeExeUnderWine(WineCase):
    def test_windows_build_passes_linux_test(self):
        if not os.path.exists(SFXMAKE_EXE):
            self.skipTest("SFXMAKE_EXE does not name a built sfxmake.exe")
        source = self.tree({**SAMPLE, "café.txt": b"latin"})
        for stub in ("32", "64"):
            exe = self.path(f"w{stub}.exe")
            run = self.wine(SFXMAKE_EXE, "build", "--stub", stub, "--title", "Built on Windows", "--password", "pw",
                            "-o", windows_path(exe), windows_path(source))
            self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace"))
            info = self.sfxmake("info", exe).stdout.decode()
            self.assertIn(f"stub:           {stub}-bit", info)
            self.assertIn('title:          "Built on Windows"', info)
            self.assertIn("bin/tool.dat", info)  # '/' separators on Windows too
            self.assertIn(b"5 members tested, 0 failed", self.sfxmake("test", "--password", "pw", exe).stdout)
        # And a refusal keeps its exit code and writes nothing on Windows as well.
        run = self.wine(SFXMAKE_EXE, "build", "--title", "x" * 256, "-o", windows_path(self.path("bad.exe")),
                        windows_path(source))
        self.assertEqual(run.returncode, 2)
        self.assertFalse(os.path.exists(self.path("bad.exe")))


if __name__ == "__main__":
    unittest.main()
