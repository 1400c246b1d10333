"""Start-up of the real 64-bit stub under wine: what it does when it cannot
open its own file."""
import os
import unittest

import sfxtest
from sfxtest import ERROR_CAPTION, windows_path


class OwnFileUnreadable(sfxtest.SfxCase):
    """A running image cannot be opened for writing by anyone, so the only way
    to take the stub's file away is to start it suspended and move the file
    before it runs."""

    def test_error_box_alone_names_the_full_path(self):
        # A scenario of tests/guest as well. The second folder's name goes through
        # the ANSI code page of the program.
        archive = self.zip_infozip(self.tree({"readme.txt": "hello\r\n", "docs/guide.txt": "guide\r\n"}))
        exes = []
        for folder in ("dl", "Téléchargements de Zoë"):
            os.makedirs(self.path(folder))
            exes.append(self.sfx(archive, name=os.path.join(folder, "setup.exe"), title="Foundation"))
        run = yield "".join(sfxtest.start_without_own_file(exe) for exe in exes)
        for i, exe in enumerate(exes):
            box = run.result("wait-msgbox", i)
            self.assertEqual((box["caption"], box["text"], box["icon"]),
                             (ERROR_CAPTION, "Error reading zip " + windows_path(exe), "hand"))
            self.assertEqual([b["text"] for b in box["buttons"]], ["OK"])
            # Nothing else of the program is shown before or while the box is up.
            self.assertEqual(run.visible(i), [ERROR_CAPTION])
            self.assertEqual(run.result("wait-exit", i)["exit_code"], 1)


if __name__ == "__main__":
    unittest.main()
