"""The DLLs both stubs and sfxmake.exe name in their import tables (delay-loaded
ones included): only those the Windows loader takes from the system folder
whatever lies beside the program (the KnownDLLs, API sets), and the common
controls, which the manifest binds. Any other DLL would be looked for first in
the folder the program was downloaded to."""
import os
import unittest

from sfxmaketest import STUB32, STUB64
from sfxtest import SFXMAKE_EXE

import pefile  # noqa: E402 (found through sfxtest's path)

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of Windows 10,
# and ntdll.dll, which every process has before anything is imported.
KNOWN_DLLS = {
    "advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus", "imagehlp", "imm32",
    "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi", "rpcrt4", "sechost", "setupapi",
    "shcore", "shell32", "shlwapi", "user32", "wldap32", "wow64", "wow64win", "ws2_32", "ntdll",
}
ALLOWED = KNOWN_DLLS | {"comctl32"}


def imported_dlls(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
                                           pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]])
    entries = getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    return {entry.dll.decode().lower().removesuffix(".dll") for entry in entries}


class Imports(unittest.TestCase):
    def test_only_dlls_the_loader_takes_from_the_system_folder(self):
        for path in (STUB32, STUB64, SFXMAKE_EXE):
            with self.subTest(os.path.basename(path)):
                self.assertTrue(os.path.exists(path), f"{path} is built by scripts/build")
                dlls = imported_dlls(path)
                self.assertIn("kernel32", dlls)
                self.assertEqual({d for d in dlls if d not in ALLOWED and not d.startswith("api-ms-win-")}, set())


if __name__ == "__main__":
    unittest.main()
