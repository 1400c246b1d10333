"""Start-up of the real 64-bit stub under wine: what it does when it cannot
open its own file."""
import os
import shutil
import unittest

import sfxtest
from sfxtest import ERROR_CAPTION, q, windows_path


class OwnFileUnreadable(sfxtest.SfxCase):
    """A running image cannot be opened for writing by anyone, so the only way
    to take the stub's file away is to start it suspended and move the file
    before it runs."""

    def program(self, folder):
        source = self.tree({"readme.txt": "hello\r\n", "docs/guide.txt": "guide\r\n"})
        os.makedirs(self.path(folder), exist_ok=True)
        return self.sfx(self.zip_infozip(source), name=os.path.join(folder, "setup.exe"), title="Foundation")

    def start_without_file(self, exe):
        return self.drive(sfxtest.start_without_own_file(exe))

    def test_error_box_names_the_full_path_and_exit_code_is_1(self):
        exe = self.program("dl")
        run = self.start_without_file(exe)
        self.assertDriverOk(run)
        box = run.result("wait-msgbox")
        self.assertEqual(box["caption"], ERROR_CAPTION)
        self.assertEqual(box["text"], "Error reading zip " + windows_path(exe))
        self.assertEqual(box["icon"], "hand")
        self.assertEqual([b["text"] for b in box["buttons"]], ["OK"])
        self.assertEqual(run.result("wait-exit")["exit_code"], 1)

    def test_path_with_blanks_and_accents(self):
        exe = self.program("Téléchargements de Zoë")
        run = self.start_without_file(exe)
        self.assertDriverOk(run)
        self.assertEqual(run.result("wait-msgbox")["text"], "Error reading zip " + windows_path(exe))
        self.assertEqual(run.result("wait-exit")["exit_code"], 1)

    def test_the_box_is_the_only_window(self):
        # Nothing else of the program is shown before or while the box is up.
        exe = self.program("only")
        run = self.drive(f"""
            start {q(exe)} suspended=1
            rename {q(exe)} {q(exe + ".moved")}
            resume
            wait-msgbox
            windows
            press OK
            wait-exit
        """)
        self.assertDriverOk(run)
        visible = [w for w in run.result("windows")["windows"] if w["visible"]]
        self.assertEqual([w["caption"] for w in visible], [ERROR_CAPTION])


if __name__ == "__main__":
    unittest.main()
