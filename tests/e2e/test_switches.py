"""The program's switches for unattended runs: /s unzips silently and answers
with its exit code alone (0 done, 2 something left behind), /d picks the
folder, /p gives the password, /? and unknown switches show the list."""
import os
import subprocess
import unittest

import sfxtest
from extractcase import ExtractCase
from sfxtest import raw_archive, stored_member, windows_path

FILES = {"a.txt": b"a", "sub/b.txt": b"b"}


def arguments(text):
    """A command line for the driver's args= option, taken as it is (q() would
    read a leading '/' as a Linux path)."""
    return '"' + text.replace('"', '""') + '"'


class Switches(ExtractCase):
    def run_with(self, exe, args, middle=""):
        return self.start(exe, middle, options=f"args={arguments(args)}")

    def test_switch_list_and_unknown_switches(self):
        exe = self.sfx(self.zip_python(self.tree(FILES)), title="Demo")
        for args, code in (("/?", 0), ("/x", 2), ("/d", 2), ("/P", 2)):
            with self.subTest(args=args):
                run = self.run_with(exe, args, "wait-msgbox\npress OK")
                box = run.result("wait-msgbox")
                self.assertEqual(box["caption"], "Unzip to disk")  # before the block is read
                self.assertIn("/d folder", box["text"])
                self.assertEqual(self.exit_code(run), code)
        self.assertEqual(self.exit_code(self.run_with(exe, "-S /q")), 2)  # silent: no box even then
        self.assertFalse(os.path.exists(self.target))

    def test_silent_run_into_a_folder_with_blanks(self):
        target = self.path("my target")
        exe = self.sfx(self.zip_python(self.tree(FILES)), question="Unzip?", run="never-started.exe",
                       options=sfxtest.OPT_RUN_CHECKBOX)
        self.assertEqual(self.exit_code(self.run_with(exe, f'/s /d "{windows_path(target)}"')), 0)
        self.assertEqual(sfxtest.read_tree(target), FILES)

    def test_silent_run_leaves_existing_files_and_exits_2(self):
        self.existing({"a.txt": b"mine"})
        exe = self.sfx(self.zip_python(self.tree(FILES)), overwrite="ask")
        self.assertEqual(self.exit_code(self.run_with(exe, "/S")), 2)  # Ask counts as skip: nobody to ask
        self.assertEqual(sfxtest.read_tree(self.target), {"a.txt": b"mine", "sub/b.txt": b"b"})

    def test_silent_run_with_passwords(self):
        archive = self.zip_infozip(self.tree(FILES), "-P", "right", refuse=("wrong",))
        exe = self.sfx(archive)
        self.assertEqual(self.exit_code(self.run_with(exe, "/s /p wrong")), 2)
        self.assertFalse(os.path.exists(os.path.join(self.target, "a.txt")))
        self.assertEqual(self.exit_code(self.run_with(exe, "/s /p right")), 0)
        self.assertEqual(sfxtest.read_tree(self.target), FILES)

    def test_silent_run_refuses_hostile_names(self):
        archive = raw_archive(self.path("evil.zip"), [stored_member("ok.txt", b"ok"), stored_member("..\\up.txt", b"x"),
                                                      stored_member("CON.txt", b"x")])
        exe = self.sfx(archive, crafted=True)
        self.assertEqual(self.exit_code(self.run_with(exe, "/s")), 2)
        self.assertEqual(sfxtest.read_tree(self.target), {"ok.txt": b"ok"})
        self.assertFalse(os.path.exists(self.path("up.txt")))

    def test_silent_run_without_a_desktop_fails(self):
        # No display, as in a session without a desktop: the program cannot make its
        # dialog, unpacks nothing, and a script must not read that as success.
        exe = self.sfx(self.zip_python(self.tree(FILES)))
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        run = subprocess.run([sfxtest.WINE, exe, "/s"], env=env, cwd=self.dir, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
        self.assertEqual(run.returncode, 1)
        self.assertFalse(os.path.exists(self.target))


if __name__ == "__main__":
    unittest.main()
