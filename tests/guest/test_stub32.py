"""The shipped 32-bit stub, run as 32-bit code in the qemu guest: one boot for
what a user meets -- a file it cannot read, the start question, a tree of a
few hundred files in automatic mode, the overwrite prompt, a wrong password,
the program run afterwards, hostile names, and the dialog with its file list."""
import os
import subprocess
import unittest

from guestcase import GuestCase  # first: it makes tests/e2e importable
import sfxtest
from sfxtest import DONE, MAIN_CAPTION, raw_archive, stored_member
from sfxtest import q, windows_path
from test_dialog_layout import LayoutCase
from test_extract_outcome import RECORDER_SOURCE
from test_extract_tree import sample_tree

OVERWRITE_PROMPT = "File already exists"


class Stub32(GuestCase, LayoutCase):
    def test_own_file_unreadable_names_its_path(self):
        # Moved away while suspended: the stub cannot open itself. The folder's
        # name goes through the ANSI code page of a 32-bit program.
        os.makedirs(self.path("Téléchargements de Zoë"))
        exe = self.sfx(self.zip_infozip(self.tree({"a.txt": b"a"})), name="Téléchargements de Zoë/setup.exe")
        run = yield sfxtest.start_without_own_file(exe)
        self.assertDriverOk(run)
        box = run.result("wait-msgbox")
        self.assertEqual((box["caption"], box["text"], box["icon"]), ("Error", "Error reading zip " + windows_path(exe), "hand"))
        self.assertEqual(self.exit_code(run), 1)

    def test_start_question_declined_then_accepted(self):
        exe = self.sfx(self.zip_infozip(self.tree({"a.txt": b"a"})), title="Setup of Thing", question="Install Thing?",
                       question_style="yes-no,question")
        run = yield f"""
            start {q(exe)}
            wait-msgbox "Setup of Thing"
            press No
            wait-exit
            start {q(exe)}
            wait-msgbox "Setup of Thing"
            press Yes
            wait-window {q(MAIN_CAPTION)}
            press id=2
            wait-exit
        """
        self.assertDriverOk(run)
        self.assertEqual([b["text"] for b in run.results("wait-msgbox")], ["Install Thing?"] * 2)
        self.assertEqual(run.result("wait-msgbox")["icon"], "question")
        # No ends quietly: nothing shown between the question and the end.
        commands = [line["cmd"] for line in run.lines]
        self.assertEqual(commands[commands.index("start"):][:4], ["start", "wait-msgbox", "press", "wait-exit"])
        self.assertEqual([r["exit_code"] for r in run.results("wait-exit")], [0, 0])
        self.assertFalse(os.path.exists(self.target))

    def test_tree_stored_deflated_and_encrypted_in_automatic_mode(self):
        # One archive of three zip runs: every third file stored, every third
        # encrypted, the rest (the large ones too) deflated.
        files = sample_tree()
        parts = {"stored": ("-0",), "deflated": (), "encrypted": ("-P", "tree pass")}
        names = sorted(files)
        archive = self.path("tree.zip")
        for i, (part, args) in enumerate(parts.items()):
            chosen = {n: files[n] for n in names[i::3]}
            sfxtest.zip_infozip(self.tree(chosen, name=part), archive, *args)
        exe = self.sfx(archive, overwrite="overwrite", options=sfxtest.OPT_AUTO_UNZIP | sfxtest.OPT_NO_DONE_MESSAGE)
        run = yield f"""
            start {q(exe)}
            {sfxtest.answer_password("tree pass")}
            wait-exit timeout=540000
        """
        self.assertDriverOk(run)
        self.assertEqual(self.exit_code(run), 0)
        # The password was asked once and kept for every encrypted member.
        self.assertEqual(len(run.results("wait-window")), 1)
        self.assertExtracted(archive, files)

    def test_zip64_records_and_unicode_names(self):
        # Info-ZIP forced to ZIP64 (end record, locator, extra fields) with names
        # in UTF-8 from a Unix host, one of them with a 0x5C second byte in code page 932.
        files = {"\u8868.txt": b"1", "\u30bd\u30d5\u30c8/readme.txt": b"2", "\u0141\u00f3d\u017a.txt": b"3"}
        archive = sfxtest.zip_infozip(self.tree(files), self.path("z64.zip"), "-fz")
        with open(archive, "rb") as f:
            self.assertIn(b"PK\x06\x07", f.read())
        exe = self.sfx(archive, options=sfxtest.OPT_AUTO_UNZIP)
        run = yield f"""
            start {q(exe)}
            wait-exit
        """
        self.assertDriverOk(run)
        self.assertEqual(self.exit_code(run), 0)
        self.assertEqual(sfxtest.read_tree(self.target), files)

    def test_overwrite_prompt_yes_and_no(self):
        new = {"a.txt": b"new a", "b.txt": b"new b", "c.txt": b"new c"}
        sfxtest.write_tree(self.target, {"b.txt": b"old b", "c.txt": b"old c"})
        exe = self.sfx(self.zip_infozip(self.tree(new)), overwrite="ask", options=sfxtest.OPT_HIDE_FILE_LIST)
        run = yield f"""
            start {q(exe)}
            wait-window {q(MAIN_CAPTION)}
            press id=1
            wait-window {q(OVERWRITE_PROMPT)}
            text 201
            press Yes
            wait-window {q(OVERWRITE_PROMPT)}
            text 201
            press No
            wait-window {q(MAIN_CAPTION)}
            wait-state 105 exists 0
            rows 401
            press id=2
            wait-exit
        """
        self.assertDriverOk(run)
        prompts = [f"{windows_path(self.target)}\\{n} already exists. Overwrite?" for n in ("b.txt", "c.txt")]
        self.assertEqual([t["text"] for t in run.results("text")], prompts)
        self.assertEqual(sfxtest.read_tree(self.target), {"a.txt": b"new a", "b.txt": b"new b", "c.txt": b"old c"})
        # The file not written stays selected for another try.
        self.assertEqual([r["cells"][0] for r in run.result("rows")["rows"] if r["selected"]], ["c.txt"])
        self.assertEqual(self.exit_code(run), 0)

    def test_wrong_password_then_the_right_one(self):
        files = {"secret.txt": b"classified" * 500, "sub/more.bin": os.urandom(50000)}
        archive = sfxtest.zip_infozip(self.tree(files), self.path("locked.zip"), "-P", "right")
        exe = self.sfx(archive, overwrite="overwrite")
        run = yield f"""
            start {q(exe)}
            wait-window {q(MAIN_CAPTION)}
            press id=1
            {sfxtest.answer_password("wrong")}
            {sfxtest.answer_password("right")}
            wait-msgbox timeout=60000
            press OK
            wait-exit
        """
        self.assertDriverOk(run)
        self.assertEqual([w["caption"] for w in run.results("wait-window")][1:], [sfxtest.PASSWORD_PROMPT] * 2)
        self.assertEqual(run.result("wait-msgbox")["text"], DONE)
        self.assertEqual(sfxtest.read_tree(self.target), files)

    def test_program_run_after_unzip_starts_in_the_target(self):
        source = self.path("recorder.c")
        with open(source, "w") as f:
            f.write(RECORDER_SOURCE)
        recorder = self.path("rec.exe")
        subprocess.run(["i686-w64-mingw32-gcc", "-O2", "-s", "-o", recorder, source], check=True)
        with open(recorder, "rb") as f:
            archive = self.zip_infozip(self.tree({"readme.txt": b"read me", "tools/rec.exe": f.read()}))
        exe = self.sfx(archive, run='"tools\\rec.exe" first  second', options=sfxtest.OPT_NO_DONE_MESSAGE)
        run = yield f"""
            start {q(exe)}
            wait-window {q(MAIN_CAPTION)}
            press id=1
            wait-exit
        """
        self.assertDriverOk(run)
        self.assertEqual(self.exit_code(run), 0)
        # The guest waited for every program it started before it powered off.
        with open(os.path.join(self.target, "runlog.txt"), "rb") as f:
            command, cwd, error_mode = f.read().decode("cp1252").split("\n")
        self.assertTrue(command.endswith(" first  second"), command)
        self.assertIn("tools\\rec.exe", command)
        self.assertEqual(cwd.lower(), windows_path(self.target).lower())
        self.assertEqual(error_mode, "0", "the program starts with the system's default error mode")

    def test_hostile_names_are_refused(self):
        refused = {"../escaped.txt": "leads outside the target folder", "C:/drive.txt": "leads outside the target folder",
                   "inner/../../climbed.txt": "leads outside the target folder",
                   "con.txt": "is reserved for a device", "aux/inside.txt": "is reserved for a device"}
        names = ["first.txt", *refused, "last.txt"]
        archive = raw_archive(self.path("hostile.zip"), [stored_member(n, b"payload of " + n.encode()) for n in names])
        # sfxmake refuses such archives: the block is written here.
        exe = self.sfx(archive, crafted=True, overwrite="overwrite", options=sfxtest.OPT_HIDE_FILE_LIST)
        boxes = "wait-msgbox\npress OK\n" * len(refused)
        run = yield f"""
            start {q(exe)}
            wait-window {q(MAIN_CAPTION)}
            press id=1
            {boxes}
            wait-window {q(MAIN_CAPTION)}
            wait-state 105 exists 0
            press id=2
            wait-exit
        """
        self.assertDriverOk(run)
        self.assertEqual([b["text"] for b in run.results("wait-msgbox")],
                         [f"{n.replace('/', chr(92))} was not unzipped: its name {why}." for n, why in refused.items()])
        self.assertEqual(sfxtest.read_tree(self.target), {"first.txt": b"payload of first.txt",
                                                          "last.txt": b"payload of last.txt"})
        # Nothing climbed out next to the target either.
        self.assertEqual(set(os.listdir(self.dir)) - {"script.txt", "driver.out", "driver.err", "driver.rc"},
                         {"test.exe", "hostile.zip", "out"})

    def test_show_files_opens_the_list_band(self):
        exe = self.make_sfx(0x0041, run="setup.exe /S")
        run = yield f"""
            start {q(exe)}
            wait-window {q(MAIN_CAPTION)}
            rect 0
            controls
            press id=105
            wait-state 105 exists 0
            rect 0
            controls
            rows 401
            press id=2
            wait-exit
        """
        self.assertDriverOk(run)
        shots = [(run.result("rect", i)["rect"], {c["id"]: c for c in run.result("controls", i)["controls"]})
                 for i in (0, 1)]
        self.assert_list_band_opened(*shots[0], *shots[1])
        self.assertEqual([r["cells"][0] for r in run.result("rows")["rows"]],
                         ["zeta.txt", "docs\\manual.pdf", "empty.log", "alpha.bin"])
        self.assertEqual(self.exit_code(run), 0)


if __name__ == "__main__":
    unittest.main()
