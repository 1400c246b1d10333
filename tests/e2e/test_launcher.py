"""The stub as an installer launcher: it runs the program it unpacked, waits for
it (and with --wait-all for what that starts), ends with its exit code, hands
on what follows "--" on its own command line, and removes what it created and
nothing else. A small program plays the setup program."""
import os
import shutil
import threading
import time
import unittest
from pathlib import Path

import sfxtest
from extractcase import ExtractCase
from sfxtest import MAIN_CAPTION, q, windows_path

# The setup program of these tests. Its first argument says what it does:
#   exit CODE MARKER ...  writes MARKER (its command line, then its working
#                         folder) and ends with CODE
#   spawn MARKER          starts a copy of itself that writes MARKER a moment
#                         later, and ends at once with 3
#   lock NAME COPY        copies itself to COPY, which opens NAME (in this
#                         folder) for itself alone and keeps it 10 s; ends with
#                         0 once the file is held
#   await READY GO        writes READY, waits for GO to appear (at most 60 s),
#                         ends with 0
SETUP_SOURCE = r"""
#include <windows.h>
#include <string.h>

static void Mark(const char *path) {
  char cwd[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(MAX_PATH, cwd);
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
  const char *line = GetCommandLineA();
  WriteFile(h, line, lstrlenA(line), &n, 0);
  WriteFile(h, "\n", 1, &n, 0);
  WriteFile(h, cwd, lstrlenA(cwd), &n, 0);
  CloseHandle(h);
}

static void Start(const char *exe, const char *mode, const char *argument) {
  char line[2 * MAX_PATH + 16];
  wsprintfA(line, "\"%s\" %s \"%s\"", exe, mode, argument);
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process;
  if (CreateProcessA(0, line, 0, 0, FALSE, 0, 0, 0, &startup, &process)) CloseHandle(process.hProcess);
}

int main(int argc, char **argv) {
  char self[MAX_PATH];
  GetModuleFileNameA(0, self, MAX_PATH);
  if (argc > 3 && !strcmp(argv[1], "exit")) {
    Mark(argv[3]);
    return atoi(argv[2]);
  }
  if (argc > 2 && !strcmp(argv[1], "spawn")) {
    Start(self, "child", argv[2]);
    return 3;
  }
  if (argc > 2 && !strcmp(argv[1], "child")) {
    Sleep(1500);
    Mark(argv[2]);
    return 0;
  }
  if (argc > 3 && !strcmp(argv[1], "lock")) {
    HANDLE held = CreateEventA(0, TRUE, FALSE, "sfxtest-file-held");
    char full[MAX_PATH];
    GetFullPathNameA(argv[2], MAX_PATH, full, 0);
    CopyFileA(self, argv[3], FALSE);
    Start(argv[3], "hold", full);
    return WaitForSingleObject(held, 20000) == WAIT_OBJECT_0 ? 0 : 9;
  }
  if (argc > 2 && !strcmp(argv[1], "hold")) {
    HANDLE file = CreateFileA(argv[2], GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    SetEvent(OpenEventA(EVENT_MODIFY_STATE, FALSE, "sfxtest-file-held"));
    Sleep(10000);
    CloseHandle(file);
    return 0;
  }
  if (argc > 3 && !strcmp(argv[1], "await")) {
    Mark(argv[2]);
    for (int i = 0; i < 600 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; i++) Sleep(100);
    return 0;
  }
  return 99;
}
"""


def unix_path(path):
    """The Linux path of a path that wine shows as C:\\... or Z:\\..."""
    drive, rest = path[:2].lower(), path[2:].replace("\\", "/").lstrip("/")
    root = "/" if drive == "z:" else os.path.join(os.environ["WINEPREFIX"], "dosdevices", drive)
    return os.path.join(root, rest)


def archive_with_setup(case, files=None):
    """An archive of the setup program, built for the bits of case's stub, as setup.exe, and files."""
    setup = sfxtest.windows_program("setup", SETUP_SOURCE, bits=32 if case.stub == sfxtest.STUB32 else 64)
    return case.zip_infozip(case.tree({"setup.exe": Path(setup).read_bytes(), **(files or {})}))


class Launcher(ExtractCase):
    def marker(self, name):
        """The setup program's command line and working folder from its marker, or None."""
        path = self.path(name)
        return Path(path).read_text(encoding="cp1252").split("\n") if os.path.exists(path) else None

    def test_exit_code_passes_through_and_the_temporary_folder_goes(self):
        exe = self.sfx(archive_with_setup(self, {"data/readme.txt": b"read me"}), "--wait", folder="$TEMP",
                       run="setup.exe exit 7")
        marker = self.path("ran.txt")
        run = self.start(exe, options=f'args="/s -- {windows_path(marker)} two  words"')
        self.assertEqual(self.exit_code(run), 7)
        command, folder = self.marker("ran.txt")
        self.assertTrue(command.endswith(f"exit 7 {windows_path(marker)} two  words"), command)
        self.assertRegex(folder, r"\\_zip\d{5,}$")
        self.assertTrue(os.path.isdir(os.path.dirname(unix_path(folder))), folder)
        self.assertFalse(os.path.exists(unix_path(folder)), f"{folder} is still there")

    def test_wait_all_waits_for_what_the_program_starts_with_the_dialog_hidden(self):
        exe = self.sfx(archive_with_setup(self), "--wait-all", folder="$TEMP", run="setup.exe spawn",
                       options=sfxtest.OPT_AUTO_UNZIP)
        run = self.drive(f"""
            start {q(exe)} args={q("-- " + windows_path(self.path("child.txt")))}
            wait-window {q(MAIN_CAPTION)}
            wait-state 0 visible 0
            wait-exit
        """)
        self.assertEqual(self.exit_code(run), 3)
        self.assertIsNotNone(self.marker("child.txt"), "the stub ended before the program's child")

    def test_a_program_that_cannot_start_keeps_the_stubs_own_exit_code(self):
        exe = self.sfx(self.zip_infozip(self.tree({"a.txt": b"a"})), "--wait", run="missing.exe",
                       options=sfxtest.OPT_NO_DONE_MESSAGE)
        run = self.unzip(exe, "wait-msgbox\npress OK")
        self.assertEqual(run.result("wait-msgbox")["text"], "Cannot run missing.exe ")
        self.assertEqual(self.exit_code(run), 3)

    def test_clean_up_keeps_what_was_there_and_reports_a_locked_file(self):
        # A scenario of tests/guest as well.
        own = {"own.txt": b"mine", "sub/own.txt": b"mine too", "data.txt": b"old"}
        self.existing(own)
        archive = archive_with_setup(self, {"data.txt": b"new", "sub/new.txt": b"n", "new/deep/x.txt": b"x",
                                      "locked.txt": b"held"})
        exe = self.sfx(archive, "--cleanup", overwrite="overwrite",
                       run=f"setup.exe lock locked.txt {windows_path(self.path('holder.exe'))}")
        run = yield f'start {q(exe)} args="/s"\nwait-exit'
        self.assertEqual(self.exit_code(run), 4)
        self.assertEqual(sfxtest.read_tree(self.target), {**own, "data.txt": b"new", "locked.txt": b"held"})
        self.assertFalse(os.path.exists(os.path.join(self.target, "new")))

    def test_clean_up_leaves_what_is_no_longer_what_it_made(self):
        # While setup waits, a folder the run made becomes a link to an outside
        # folder holding a file of a member's name, or a file it made is
        # replaced (by one made first: wine's file index is the inode, which a
        # new file may take over). Both are left, and exit code 4 tells.
        def link_folder(out):
            os.rename(os.path.join(out, "sub"), self.path("moved"))
            os.symlink(self.tree({"x.txt": b"theirs"}, name="outside"), os.path.join(out, "sub"))
            return os.path.join(out, "sub", "x.txt")

        def replace_file(out):
            Path(out, "x.new").write_bytes(b"theirs")
            return os.replace(os.path.join(out, "x.new"), os.path.join(out, "x.txt")) or os.path.join(out, "x.txt")

        archive = archive_with_setup(self, {"sub/x.txt": b"ours", "x.txt": b"ours"})
        exe = self.sfx(archive, "--cleanup", run="setup.exe await ..\\ready ..\\go")  # beside the target
        for tamper in (link_folder, replace_file):
            with self.subTest(tamper.__name__):
                shutil.rmtree(self.target, ignore_errors=True)
                survivor = []

                def meddle():
                    for _ in range(600):
                        if os.path.exists(self.path("ready")):
                            survivor.append(tamper(self.target))
                            break
                        time.sleep(0.1)
                    Path(self.path("go")).touch()

                meddler = threading.Thread(target=meddle)
                meddler.start()
                run = self.start(exe, options='args="/s"')
                meddler.join()
                for marker in ("ready", "go"):
                    os.unlink(self.path(marker))
                self.assertEqual(self.exit_code(run), 4)
                self.assertEqual(Path(survivor[0]).read_bytes(), b"theirs")

    def test_implied_clean_up_only_in_the_private_folder(self):
        # A wait in $TEMP cleans up the folder it made; /d moves the run
        # elsewhere, where the files stay (--cleanup would remove them).
        exe = self.sfx(archive_with_setup(self, {"data/readme.txt": b"read me"}), "--wait", folder="$TEMP",
                       run="setup.exe exit 0")
        run = self.start(exe, options=f'args="/s /d {windows_path(self.target)} -- {windows_path(self.path("m"))}"')
        self.assertEqual(self.exit_code(run), 0)
        self.assertEqual(sorted(sfxtest.read_tree(self.target)), ["data/readme.txt", "setup.exe"])

    def test_without_clean_up_a_program_still_in_its_folder_is_no_failure(self):
        # Not waited for, setup works on in the folder the run made, which stays.
        exe = self.sfx(archive_with_setup(self), run="setup.exe await ..\\ready ..\\go")
        run = self.start(exe, options='args="/s"')
        Path(self.path("go")).touch()
        self.assertEqual(self.exit_code(run), 0)


if __name__ == "__main__":
    unittest.main()
