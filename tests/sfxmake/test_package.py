"""The release packages as cpack makes them from the build trees: the Debian
package of sfxmake (contents, dependencies, and the installed binary building a
program with each embedded stub) and the zip of sfxmake.exe for Windows."""
import os
import subprocess
import unittest
import zipfile

from sfxmaketest import SAMPLE, SfxmakeCase

HOST_BUILD = os.environ.get("SFX_HOST_BUILD", "")
WIN64_BUILD = os.environ.get("SFX_WIN64_DIR", "")


class Packages(SfxmakeCase):
    def cpack(self, tree):
        config = os.path.join(tree, "CPackConfig.cmake")
        if not os.path.exists(config):
            self.skipTest(f"{tree} is not configured")
        out = self.path("package")
        subprocess.run(["cpack", "--config", config, "-B", out], check=True, capture_output=True)
        return [os.path.join(out, name) for name in sorted(os.listdir(out)) if name.startswith("sfxmake")]

    def test_debian_package(self):
        (deb,) = self.cpack(HOST_BUILD)
        self.assertRegex(os.path.basename(deb), r"^sfxmake_[\d.]+_amd64\.deb$")
        listing = subprocess.run(["dpkg-deb", "-c", deb], check=True, capture_output=True, text=True).stdout
        files = sorted(line.split()[-1] for line in listing.splitlines() if not line.startswith("d"))
        self.assertEqual(files, ["./usr/bin/sfxmake", "./usr/share/doc/sfxmake/README.md"])
        fields = subprocess.run(["dpkg-deb", "-f", deb, "Package", "Depends"], check=True, capture_output=True,
                                text=True).stdout
        self.assertIn("Package: sfxmake", fields)
        for library in ("libc6", "libstdc++6", "zlib1g", "liblzma5"):
            self.assertIn(library, fields)

        root = self.path("root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        installed = os.path.join(root, "usr", "bin", "sfxmake")
        source = self.tree(SAMPLE)
        for stub in ("32", "64"):
            exe = self.path(f"p{stub}.exe")
            subprocess.run([installed, "build", "-q", "--stub", stub, "-o", exe, source], check=True)
            test = subprocess.run([installed, "test", exe], check=True, capture_output=True, text=True).stdout
            self.assertEqual(test, "4 members tested, 0 failed\n")

    def test_windows_zip(self):
        (archive,) = self.cpack(WIN64_BUILD)
        self.assertRegex(os.path.basename(archive), r"^sfxmake-[\d.]+-win64\.zip$")
        with zipfile.ZipFile(archive) as z:
            names = sorted(z.namelist())
            top = names[0].split("/")[0]
            self.assertEqual(names, [f"{top}/README.md", f"{top}/sfxmake.exe"])
            self.assertEqual(z.read(f"{top}/sfxmake.exe")[:2], b"MZ")


if __name__ == "__main__":
    unittest.main()
