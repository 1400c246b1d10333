"""The program's switches for unattended runs: /s unzips silently and answers
with its exit code alone (0 done, 1 fatal or no folder, 2 something left
behind, 3 the program to run afterwards did not start), /d picks the folder,
/p gives the password, /? and unknown switches show the list."""
import os
import subprocess
import unittest

import sfxtest
from extractcase import ExtractCase
from sfxtest import q, raw_archive, stored_member, windows_path

FILES = {"a.txt": b"a", "sub/b.txt": b"b"}


def arguments(text):
    """A command line for the driver's args= option, taken as it is (q() would
    read a leading '/' as a Linux path)."""
    return '"' + text.replace('"', '""') + '"'


class Switches(ExtractCase):
    switch_lines = slice(None)  # the rows of the line table a class runs (the 32-bit guest: a few)

    def run_with(self, exe, args, middle=""):
        return self.start(exe, middle, options=f"args={arguments(args)}")

    def test_the_whole_line_is_read_before_anything_is_done(self):
        # One program started with each line in turn; a line that names a folder
        # names one of its own, so what each line wrote shows at the end.
        exe = self.sfx(self.zip_python(self.tree(FILES)), title="Demo")
        folder = self.path("case {} folder").format
        lines = (  # (arguments, the switches box shows, exit code, where the files land)
            ("/?", True, 0, None),
            ("/d", True, 2, None),
            ("/P", True, 2, None),
            ("-S /q", False, 2, None),  # silent: no box even then
            ("/x", True, 2, None),
            ("/x /s", False, 2, None),  # /s counts wherever it stands
            ("/d /s", False, 2, None),  # a switch is no folder...
            ("/s /p -D", False, 2, None),  # ...and no password
            ('/d "" /s', False, 2, None),  # nor is nothing, and the block's folder does not step in
            # A trailing backslash escapes the closing quote: the folder ends there all the same.
            (f'/d "{windows_path(folder(1))}\\" /p "not needed" /s', False, 0, folder(1)),
            (f'/s /d "{windows_path(folder(2))}\\"', False, 0, folder(2)),
        )[self.switch_lines]
        box = "wait-msgbox\npress OK\n"
        run = yield "".join(f"start {q(exe)} args={arguments(args)}\n{box if shows else ''}wait-exit\n"
                            for args, shows, _, _ in lines)
        boxes = iter(run.results("wait-msgbox"))
        for i, (args, shows, code, _) in enumerate(lines):
            with self.subTest(args=args):
                self.assertEqual(run.result("wait-exit", i)["exit_code"], code)
                if shows:
                    shown = next(boxes)
                    self.assertEqual(shown["caption"], "Demo")  # the publisher's title, as on every box of the run
                    self.assertRegex(shown["text"], r"/d folder[\s\S]*0 [\s\S]*1 [\s\S]*2 [\s\S]*3 ")
        landed = [f for *_, f in lines if f]
        places = (self.dir, self.target, folder(1), folder(2))  # the folder started in, the block's, the /d ones
        self.assertEqual([p for p in places if os.path.exists(os.path.join(p, "a.txt"))], landed)
        for place in landed:
            self.assertEqual(sfxtest.read_tree(place), FILES)

    def test_silent_failures_show_in_the_exit_code(self):
        # Nothing a silent or automatic run meets may read as success, nor send
        # it elsewhere: a folder that cannot be resolved is not the folder the run
        # started in. Each program has a target folder of its own.
        archive = self.zip_python(self.tree(FILES))
        damaged = raw_archive(self.path("damaged.zip"), [stored_member("bad.txt", b"bad", crc=0x1234),
                                                          stored_member("ok.txt", b"ok")])
        # A folder past every buffer the system is given: unpacked there, or a failure.
        long_folder = self.dir
        while len(windows_path(long_folder)) < 535:
            long_folder = os.path.join(long_folder, "d" * 100)
        runs = (  # (case, archive, settings, arguments, what the script does, exit codes, files it writes)
            ("unknown registry folder", archive, {"folder": r"$HLM\SOFTWARE\NoSuchVendor\InstallDir"}, "/s", "",
             {1}, {}),
            ("long /d folder", archive, {}, f'/s /d "{windows_path(long_folder)}"', "", {0, 1, 2}, {0: FILES}),
            ("program not started", archive, {"run": "never-started.exe"}, "/s", "", {3}, {3: FILES}),
            ("automatic run, program not started", archive,
             {"run": "never-started.exe", "options": sfxtest.OPT_AUTO_UNZIP}, "", "wait-msgbox\npress OK",
             {3}, {3: FILES}),
            ("damaged member", damaged, {"crafted": True}, "/s", "", {2}, {2: {"ok.txt": b"ok"}}),  # the sound one
        )
        targets = [self.path(f"out{i}") for i in range(len(runs))]
        programs = [self.sfx(zip_file, name=f"run{i}.exe", **{"folder": windows_path(targets[i]), **settings})
                    for i, (_, zip_file, settings, *_) in enumerate(runs)]
        starts = [self.path(f"start{i}") for i in range(len(runs))]  # the folder each run starts in
        for start in starts:
            os.makedirs(start)
        targets[1] = long_folder  # /d's folder, never the block's
        run = yield "".join(f"start {q(exe)} args={arguments(args)} cwd={q(start)}\n{middle}\nwait-exit\n"
                            for exe, start, (_, _, _, args, middle, _, _) in zip(programs, starts, runs))
        for i, (case, _, _, _, _, codes, writes) in enumerate(runs):
            with self.subTest(case):
                code = run.result("wait-exit", i)["exit_code"]
                self.assertIn(code, codes)
                found = sfxtest.read_tree(targets[i]) if os.path.isdir(targets[i]) else {}
                self.assertLessEqual(writes.get(code, {}).items(), found.items())
                self.assertEqual(bool(found), code in writes)
                self.assertEqual(os.listdir(starts[i]), [])
        self.assertFalse(os.path.exists(self.path("out1")))  # a /d folder is never swapped for the block's

    def test_silent_run_into_a_folder_with_blanks(self):
        target = self.path("my target")
        exe = self.sfx(self.zip_python(self.tree(FILES)), question="Unzip?", run="never-started.exe",
                       options=sfxtest.OPT_RUN_CHECKBOX)
        # No question; the Run check box counts as ticked, so the program is tried and its failure shows.
        self.assertEqual(self.exit_code(self.run_with(exe, f'/s /d "{windows_path(target)}"')), 3)
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
