"""The shipped stub images: format, subsystem, hardening flags, imports,
manifest, and that nothing in them looks like a ZIP record."""
import os
import re
import subprocess
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

import sfxtest

STUBS = {32: sfxtest.STUB32, 64: sfxtest.STUB64}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "comctl32.dll",
               "ole32.dll", "msvcrt.dll"}
IMAGE_FILE_MACHINE = {32: 0x014C, 64: 0x8664}
OPTIONAL_MAGIC = {32: 0x10B, 64: 0x20B}
MANIFEST_ARCH = {32: "X86", 64: "amd64"}
SUBSYSTEM_GUI = 2
DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA = 0x0040, 0x0100, 0x0020
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


class StubImages(unittest.TestCase):
    def for_each_stub(self, check):
        """Runs check(bits, path) for both stubs, each as a subtest."""
        for bits, path in STUBS.items():
            with self.subTest(stub=os.path.basename(path)):
                if not os.path.exists(path):
                    self.fail(f"{path} is missing: run scripts/build")
                check(bits, path)

    def test_format_subsystem_and_hardening(self):
        def check(bits, path):
            image = sfxtest.PeImage(Path(path).read_bytes())
            self.assertEqual(image.machine, IMAGE_FILE_MACHINE[bits])
            self.assertEqual(image.magic, OPTIONAL_MAGIC[bits])
            self.assertEqual(image.subsystem, SUBSYSTEM_GUI)
            wanted = DYNAMIC_BASE | NX_COMPAT | (HIGH_ENTROPY_VA if bits == 64 else 0)
            self.assertEqual(image.dll_characteristics & wanted, wanted, hex(image.dll_characteristics))
        self.for_each_stub(check)

    def test_image_ends_with_its_last_section(self):
        # The configuration block is looked for right behind the last section:
        # anything after it (symbols, debug data) would hide the block.
        def check(bits, path):
            image = sfxtest.PeImage(Path(path).read_bytes())
            self.assertEqual(image.raw_end, os.path.getsize(path))
            if bits == 32:
                # The 32-bit optional header has its standard size, so the
                # section table sits 0xF4 bytes behind the file header.
                self.assertEqual(20 + image.optional_size, 0xF4)
        self.for_each_stub(check)

    def test_no_zip_signatures_in_the_image(self):
        def check(_, path):
            data = Path(path).read_bytes()
            for tail in (b"\x01\x02", b"\x03\x04", b"\x05\x06", b"\x07\x08"):
                self.assertNotIn(b"PK" + tail, data, f"PK{tail!r} found at {data.find(b'PK' + tail):#x}")
        self.for_each_stub(check)

    def test_imports_only_system_dlls(self):
        def check(bits, path):
            objdump = "i686-w64-mingw32-objdump" if bits == 32 else "x86_64-w64-mingw32-objdump"
            dump = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=True).stdout
            dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
            self.assertTrue(dlls, "no import table found")
            self.assertIn("kernel32.dll", dlls)
            self.assertLessEqual(dlls, SYSTEM_DLLS, f"unexpected imports: {sorted(dlls - SYSTEM_DLLS)}")
        self.for_each_stub(check)

    def test_manifest(self):
        def check(bits, path):
            data = Path(path).read_bytes()
            match = re.search(rb"<assembly\b.*?</assembly>", data, re.S)
            self.assertIsNotNone(match, "no manifest resource")
            root = ET.fromstring(match.group(0))
            self.assertEqual(root.find(ASM_V1 + "assemblyIdentity").get("processorArchitecture"),
                             MANIFEST_ARCH[bits])
            controls = [a for a in root.iter(ASM_V1 + "assemblyIdentity")
                        if a.get("name") == "Microsoft.Windows.Common-Controls"]
            self.assertEqual(len(controls), 1)
            self.assertEqual(controls[0].get("version"), "6.0.0.0")
            self.assertEqual(controls[0].get("processorArchitecture"), MANIFEST_ARCH[bits])
            self.assertEqual(controls[0].get("publicKeyToken"), "6595b64144ccf1df")
            levels = [e for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
            self.assertEqual([e.get("level") for e in levels], ["asInvoker"])
            for setting in ("dpiAware", "longPathAware"):
                aware = [e.text.strip().lower() for e in root.iter() if e.tag.endswith("}" + setting)]
                self.assertEqual(aware, ["true"], setting)
        self.for_each_stub(check)


if __name__ == "__main__":
    unittest.main()
