"""How a run ends: the success message, the program started afterwards (a small
recorder program notes its command line, working directory and error mode), the Run box,
a program that cannot start, cancelling a run, and the automatic run."""
import os
import struct
import time
import unittest
import zipfile
import zlib
from pathlib import Path

import sfxtest
from extractcase import ExtractCase
from sfxtest import DONE, ERROR_CAPTION, MAIN_CAPTION, q, unzip_script, windows_path

RECORDER_SOURCE = r"""
#include <windows.h>
int main(void) {
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, cwd);
  HANDLE h = CreateFileA("runlog.txt", GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
  DWORD n;
  const char *line = GetCommandLineA();
  WriteFile(h, line, lstrlenA(line), &n, 0);
  WriteFile(h, "\n", 1, &n, 0);
  WriteFile(h, cwd, lstrlenA(cwd), &n, 0);
  char mode[16];
  UINT errorMode = SetErrorMode(0);
  n = wsprintfA(mode, "\n%u", errorMode);
  WriteFile(h, mode, n, &n, 0);
  CloseHandle(h);
  return 0;
}
"""


def archive_with_recorder(case, folder=""):
    """An archive of a readme and the recorder, built for the bits of case's stub, in folder."""
    recorder = sfxtest.windows_program("recorder", RECORDER_SOURCE, bits=32 if case.stub == sfxtest.STUB32 else 64)
    return case.zip_infozip(case.tree({"readme.txt": b"read me", folder + "rec.exe": Path(recorder).read_bytes()}))


def run_log(target, wait=15):
    """The recorder's command line, working directory and error mode, or None when it did not run."""
    path = os.path.join(target, "runlog.txt")
    deadline = time.time() + wait
    while time.time() < deadline:
        if os.path.exists(path) and os.path.getsize(path):
            time.sleep(0.2)
            return Path(path).read_bytes().decode("cp1252").split("\n")
        time.sleep(0.2)
    return None


class RunOutcome(ExtractCase):
    def test_done_message_and_program_started_in_the_target(self):
        exe = self.sfx(archive_with_recorder(self), title="Outcome", run="rec.exe first  second")
        run = self.unzip(exe, "wait-msgbox\npress OK")
        box = run.result("wait-msgbox")
        self.assertEqual((box["caption"], box["text"]), ("Outcome", DONE))
        self.assertEqual(self.exit_code(run), 0)
        command, cwd, error_mode = run_log(self.target)
        self.assertEqual(command, f'"{windows_path(self.target)}\\rec.exe" first  second')
        self.assertEqual(cwd.lower(), windows_path(self.target).lower())
        self.assertEqual(error_mode, "0", "the program starts with the system's default error mode")

    def test_quoted_program_path_with_blanks(self):
        # A scenario of tests/guest as well.
        exe = self.sfx(archive_with_recorder(self, "my tools/"), run='"my tools\\rec.exe" first  second',
                       options=sfxtest.OPT_NO_DONE_MESSAGE)
        run = yield unzip_script(exe)
        self.assertEqual(self.exit_code(run), 0)
        command, cwd, error_mode = run_log(self.target)
        self.assertTrue(command.endswith(" first  second"), command)
        self.assertIn("my tools\\rec.exe", command)
        self.assertEqual(cwd.lower(), windows_path(self.target).lower())
        self.assertEqual(error_mode, "0", "the program starts with the system's default error mode")

    def test_unticked_run_box_starts_nothing(self):
        exe = self.sfx(archive_with_recorder(self), run="rec.exe",
                           options=sfxtest.OPT_RUN_CHECKBOX | sfxtest.OPT_NO_DONE_MESSAGE)
        run = self.start(exe, f"wait-window {q(MAIN_CAPTION)}\ntext 302\ncheck 302 off\npress id=1")
        self.assertEqual(run.result("text")["text"], "After unzip, run rec.exe ")
        self.assertEqual(self.exit_code(run), 0)
        self.assertTrue(os.path.exists(os.path.join(self.target, "rec.exe")))
        self.assertIsNone(run_log(self.target, wait=3))

    def test_program_that_cannot_start(self):
        exe = self.sfx(self.zip_infozip(self.tree({"a.txt": b"a"})), run="missing.exe /quiet",
                           options=sfxtest.OPT_NO_DONE_MESSAGE)
        run = self.unzip(exe, "wait-msgbox\npress OK")
        box = run.result("wait-msgbox")
        self.assertEqual((box["caption"], box["text"], box["icon"]),
                         (ERROR_CAPTION, "Cannot run missing.exe quiet", "hand"))
        self.assertEqual(self.exit_code(run), 0)


class CancelAndAutomatic(ExtractCase):
    MEMBERS = 2400  # about 3 s of unpacking under wine: several times what the driver needs to press Close
    BIG_GIB = 16  # one member of more than ten seconds under wine

    def many(self):
        """Enough members that a run lasts while the driver presses Close."""
        files = {f"m{i:04}.bin": bytes([i % 251]) * 65536 for i in range(self.MEMBERS)}
        return files, self.zip_infozip(self.tree(files), "-0")

    def test_cancel_no_goes_on_yes_stops(self):
        files, archive = self.many()
        exe = self.sfx(archive, title="Cancel test", overwrite="overwrite", options=sfxtest.OPT_ALLOW_CANCEL)
        run = self.unzip(exe, """
            wait-state 801 visible 1
            state 2
            press id=2
            wait-msgbox
            press No
            wait-window "Extracting files..."
            state 801
            sleep 300
            state 801
            press id=2
            wait-msgbox
            press Yes
        """)
        self.assertEqual(run.result("state", 0)["enabled"], 1)
        box = run.result("wait-msgbox")
        self.assertEqual((box["caption"], box["text"], box["icon"]), ("Cancel test", "Cancel unzip?", "exclamation"))
        self.assertGreater(run.result("state", 2)["pos"], run.result("state", 1)["pos"])  # No: the run went on
        self.assertEqual(self.exit_code(run), 0)
        written = sfxtest.read_tree(self.target)
        self.assertLess(len(written), self.MEMBERS)  # Yes: the rest was never handled
        # Rows are handled top to bottom, each member whole.
        order = [i.filename for i in zipfile.ZipFile(archive).infolist()]
        self.assertEqual(sorted(written), sorted(order[:len(written)]))
        self.assertTrue(all(written[name] == files[name] for name in written))

    def big_member_archive(self):
        """An archive of one deflated member of BIG_GIB GiB of zeros, which takes
        many seconds to unpack, and a small one behind it. Deflate of that size
        would take as long to make; the member's data is one MiB compressed once,
        each MiB ending in a full flush, so that every further MiB compresses to
        the same bytes. Its CRC-32 is never reached: the tests cancel it."""
        deflate = zlib.compressobj(9, zlib.DEFLATED, -15)
        mib = deflate.compress(bytes(1024 ** 2)) + deflate.flush(zlib.Z_FULL_FLUSH)
        data = mib * (self.BIG_GIB * 1024) + deflate.flush()
        size = self.BIG_GIB * 1024 ** 3
        zip64 = struct.pack("<HHQQ", 1, 16, size, len(data))  # the ZIP64 field: both sizes
        fields = struct.pack("<HHHHHIIIHH", 45, 0, 8, 0, 0x5821, 0, 0xFFFFFFFF, 0xFFFFFFFF, 7, len(zip64))
        big = (sfxtest.LOCAL_SIGNATURE + fields + b"big.bin" + zip64 + data,
               sfxtest.CENTRAL_SIGNATURE + struct.pack("<H", 45) + fields + bytes(14) + b"big.bin" + zip64)
        return sfxtest.raw_archive(self.path("big.zip"), [big, sfxtest.stored_member("after.txt", b"never")])

    def test_cancel_during_one_big_member(self):
        # The window answers while one member is written (the bar moves within
        # it, Close asks at once), and Yes ends the member there, its partial
        # file removed, the rest never started.
        exe = self.sfx(self.big_member_archive(), crafted=True, overwrite="overwrite",
                       options=sfxtest.OPT_ALLOW_CANCEL)
        run = self.unzip(exe, """
            wait-state 801 visible 1
            sleep 500
            state 801
            sleep 500
            state 801
            press id=2
            wait-msgbox
            press Yes
        """)
        first, second = run.result("state", 0), run.result("state", 1)
        self.assertLess(0, first["pos"])
        self.assertLess(first["pos"], second["pos"])
        self.assertLess(second["pos"], second["max"])
        self.assertEqual(run.result("wait-msgbox")["text"], "Cancel unzip?")
        self.assertEqual(sfxtest.read_tree(self.target), {})

    def test_close_is_disabled_without_allow_cancel(self):
        files, archive = self.many()
        exe = self.sfx(archive, overwrite="overwrite")
        run = self.unzip(exe, """
            wait-state 801 visible 1
            state 2
            wait-msgbox timeout=120000
            press OK
        """)
        self.assertEqual(run.result("state")["enabled"], 0)
        self.assertEqual(run.result("wait-msgbox")["text"], DONE)
        self.assertTrue(sfxtest.read_tree(self.target) == files)

    def test_automatic_run_unzips_and_closes(self):
        files = {"a.txt": b"auto", "d/b.txt": b"matic"}
        exe = self.sfx(self.zip_infozip(self.tree(files)), options=sfxtest.OPT_AUTO_UNZIP)
        self.assertEqual(self.exit_code(self.start(exe)), 0)
        self.assertEqual(sfxtest.read_tree(self.target), files)

    def test_automatic_run_with_empty_folder_only_fills_it_in(self):
        files = {"a.txt": b"here"}
        os.makedirs(self.target)
        exe = self.sfx(self.zip_infozip(self.tree(files)), folder="$HCU\\Software\\NoSuchSfxKey\\NoValue",
                           options=sfxtest.OPT_AUTO_UNZIP)
        run = self.start(exe, f"""
            wait-window {q(MAIN_CAPTION)}
            wait-state 201 text {q(windows_path(self.target))}
            sleep 500
            windows
            press id=1
        """, options=f"cwd={q(self.target)}")
        self.assertEqual(run.visible(), [MAIN_CAPTION])
        self.assertEqual(self.exit_code(run), 0)
        self.assertEqual(sfxtest.read_tree(self.target), files)


if __name__ == "__main__":
    unittest.main()
