"""The DLLs both stubs and sfxmake.exe import (delay-loaded ones too): only those
the loader takes from the system folder whatever lies beside the program (the
KnownDLLs of Windows 10, ntdll, API sets) and the manifest-bound common controls."""
import os
import unittest

from sfxmaketest import STUB32, STUB64
from sfxtest import SFXMAKE_EXE

import pefile  # noqa: E402 (found through sfxtest's path)

ALLOWED = {"advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus", "imagehlp", "imm32",
           "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi", "rpcrt4", "sechost",
           "setupapi", "shcore", "shell32", "shlwapi", "user32", "wldap32", "wow64", "wow64win", "ws2_32", "ntdll",
           "comctl32"}


class Imports(unittest.TestCase):
    def test_only_dlls_the_loader_takes_from_the_system_folder(self):
        for path in (STUB32, STUB64, SFXMAKE_EXE):
            with self.subTest(os.path.basename(path)):
                pe = pefile.PE(path)
                entries = getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
                dlls = {e.dll.decode().lower().removesuffix(".dll") for e in entries}
                self.assertIn("kernel32", dlls)
                self.assertEqual({d for d in dlls - ALLOWED if not d.startswith("api-ms-win-")}, set())


if __name__ == "__main__":
    unittest.main()
