"""The program's start-up, one driver run per program whose results come back
by command: damaged SFX files (every kind of damage in the configuration block
or the archive directory ends in "Cannot unzip: file is corrupt." and exit code
1); the file list the running main dialog shows (names, sizes and order as the
archive's directory has them, folder members absent, names converted to the
ANSI code page, whichever tool wrote the archive and however it was appended);
and the start question (which answers go on to the main dialog and which end
the program quietly with exit code 0)."""
import os
import struct
import subprocess
import unittest
import zipfile
from pathlib import Path

import sfxtest
from sfxtest import (CORRUPT, END_SIGNATURE, ERROR_CAPTION, ID_CANCEL, ID_FILE_LIST, MAIN_CAPTION, dos_member_archive,
                     end_record, first_central_record, image_end, q, read_block)

FILES = {"readme.txt": b"read me\n", "bin/tool.dat": b"\x00" * 70000, "empty.txt": b"", "bin/deep/x.cfg": b"k=v\n"}


class StartupCase(sfxtest.SfxCase):
    def run_program(self, exe, script):
        """Starts exe, runs the script lines, and returns {command: its last result}."""
        run = self.drive("\n".join(["timeout 15000", f"start {q(exe)} cwd={q(self.dir)}", *script]))
        return {line["cmd"]: line for line in run.lines}

    def close_main_dialog(self):
        return [f"wait-window {q(MAIN_CAPTION)}", f"press id={ID_CANCEL}", "wait-exit"]

    def assert_corrupt(self, exe, before=()):
        """The file is reported damaged in an error box, and the process ends with 1."""
        last = self.run_program(exe, [*before, f"wait-msgbox {q(ERROR_CAPTION)}", "press OK", "wait-exit"])
        box = last["wait-msgbox"]
        self.assertEqual(box["text"], CORRUPT)
        self.assertEqual(box["icon"], "hand")
        self.assertEqual(last["wait-exit"]["exit_code"], 1)

    def list_rows(self, exe):
        """(name, size) of every row of the running main dialog's file list."""
        last = self.run_program(exe, [f"wait-window {q(MAIN_CAPTION)}", f"rows {ID_FILE_LIST}",
                                      f"press id={ID_CANCEL}", "wait-exit"])
        self.assertEqual(last["wait-exit"]["exit_code"], 0)
        return [tuple(row["cells"][:2]) for row in last["rows"]["rows"]]


class DamagedFile(StartupCase):
    def setUp(self):
        super().setUp()
        self.archive = self.zip_infozip(self.tree({"a.txt": b"alpha", "dir/b.txt": b"beta"}))

    def damaged(self, change, *options, name="damaged.exe"):
        """An SFX whose bytes `change` (bytearray -> bytearray or None) altered."""
        exe = self.sfx(self.archive, *options, name=name)
        data = bytearray(Path(exe).read_bytes())
        data = change(data) or data
        Path(exe).write_bytes(data)
        return exe

    def test_damaged_trailer_after_the_question(self):
        def trailer(d):
            d[read_block(d)["archive_start"] - 8] ^= 0xFF

        exe = self.damaged(trailer, "--title", "Q", "--question", "Go on?", "--question-style", "yes-no")
        self.assert_corrupt(exe, before=['wait-msgbox "Q"', "press Yes"])
        last = self.run_program(exe, ['wait-msgbox "Q"', "press No", "wait-exit"])
        self.assertEqual(last["wait-exit"]["exit_code"], 0)  # declined: no word about the damage

    def test_end_record_at_the_edge_of_the_window_is_found(self):
        # 65558 bytes from the record's start to the file's end: the last place searched.
        exe = self.damaged(lambda d: d + b"\0" * 65536)
        self.assertEqual(len(self.list_rows(exe)), 2)

    def test_damaged_block_no_end_record_or_damaged_directory(self):
        def header(d):
            d[image_end(d) + 1] ^= 0xFF

        def short_directory_size(d):
            e = end_record(d)
            size, = struct.unpack_from("<I", d, e + 12)
            struct.pack_into("<I", d, e + 12, size - 1)

        cases = {
            "block header signature": header,
            "block ends inside the header": lambda d: d[:image_end(d) + 10],
            "block ends inside a text": lambda d: d[:image_end(d) + 18 + 5],  # the title is longer
            # The end record lies one byte before the 65558 bytes searched.
            "end record beyond the window": lambda d: d + b"\0" * 65537,
            "archive too short": lambda d: d[:read_block(d)["archive_start"] + 22],
            "end record signature damaged": lambda d: d.__setitem__(end_record(d) + 3, 0x07),
            "record signature": lambda d: d.__setitem__(first_central_record(d) + 2, 0x07),
            "zero-length name": lambda d: struct.pack_into("<H", d, first_central_record(d) + 28, 0),
            "no entries": lambda d: struct.pack_into("<HH", d, end_record(d) + 8, 0, 0),
            "more entries than records": lambda d: struct.pack_into("<HH", d, end_record(d) + 8, 9, 9),
            "fewer entries than records": sfxtest.miscount,
            "members share their data": sfxtest.share_data,
            "wrong directory size": short_directory_size,
        }
        for name, change in cases.items():
            with self.subTest(name):
                self.assert_corrupt(self.damaged(change, "--title", "A long enough title"))

    def test_name_longer_than_520_bytes(self):
        self.archive = self.zip_members([("n" * 516 + ".txt", b"fits"), ("n" * 517 + ".txt", b"too long")])
        self.assert_corrupt(self.sfx(self.archive, crafted=True))

    def test_end_signature_in_the_last_members_data_counts(self):
        # Stored, so the bytes stand as they are: an end record claiming 0 entries.
        fake = END_SIGNATURE + b"\0" * 18
        self.archive = self.zip_members([("a.txt", b"alpha"), ("b.bin", b"data" + fake + b"more")],
                             compression=zipfile.ZIP_STORED)
        self.assert_corrupt(self.sfx(self.archive, crafted=True))


class FileList(StartupCase):
    def expected_rows(self, archive):
        """Rows as the directory orders the file members, '/' turned into '\\'."""
        with zipfile.ZipFile(archive) as z:
            return [(i.filename.replace("/", "\\"), str(i.file_size)) for i in z.infolist() if not i.is_dir()]

    def test_archives_of_every_tool(self):
        source = self.tree(FILES)
        for name, archive in [("zip", self.zip_infozip(source)), ("7z", self.zip_7z(source)),
                              ("python", self.zip_members(sorted(FILES.items())))]:
            with self.subTest(name):
                expected = self.expected_rows(archive)
                self.assertEqual(len(expected), 4)
                rows = self.list_rows(self.sfx(archive, name=name + ".exe"))
                self.assertEqual(rows, expected)
                self.assertIn(("bin\\tool.dat", "70000"), rows)
                self.assertIn(("empty.txt", "0"), rows)

    def test_every_member_of_a_wrapped_count_or_the_longest_comment(self):
        # Over 65,535 members written without ZIP64: the 16-bit count has wrapped to 2.
        wrapped = sfxtest.wrapped_count_archive(self.path("wrapped.zip"), {"a.txt": b"a", "b.txt": b"bb"})
        self.assertEqual(self.list_rows(self.sfx(wrapped, name="wrapped.exe", crafted=True)),
                         [("a.txt", "1"), ("b.txt", "2")])
        longest = self.zip_members({"c.txt": b"c"}, comment=b"#" * 65535)
        self.assertEqual(self.list_rows(self.sfx(longest, name="comment.exe")), [("c.txt", "1")])

    def test_folder_members_are_not_listed(self):
        archive = self.zip_infozip(self.tree(FILES))
        with zipfile.ZipFile(archive) as z:
            self.assertIn("bin/deep/", z.namelist())  # the folders are in the archive ...
        self.assertNotIn("bin\\deep\\", [n for n, _ in self.list_rows(self.sfx(archive))])  # ... not in the list
        only_folders = self.zip_members([("a/", b""), ("a/b/", b"")], name="folders.zip")
        self.assertEqual(self.list_rows(self.sfx(only_folders, crafted=True)), [])

    def test_offsets_adjusted_to_the_whole_file(self):
        archive = self.zip_infozip(self.tree(FILES))
        plain = self.sfx(archive, name="plain.exe")
        adjusted = self.sfx(archive, name="adjusted.exe")
        run = subprocess.run(["zip", "-A", adjusted], capture_output=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertNotEqual(Path(plain).read_bytes(), Path(adjusted).read_bytes())  # zip -A did rewrite the offsets
        self.assertEqual(self.list_rows(adjusted), self.expected_rows(archive))
        self.assertEqual(self.list_rows(plain), self.expected_rows(archive))

    def test_signed_program_still_opens(self):
        exe = self.sfx(self.zip_infozip(self.tree(FILES)))
        key, cert, signed = self.path("key.pem"), self.path("cert.pem"), self.path("signed.exe")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=sfxkit test"], check=True, capture_output=True)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", exe, "-out", signed],
                       check=True, capture_output=True)
        self.assertGreater(os.path.getsize(signed), os.path.getsize(exe) + 500)  # a certificate behind the archive
        self.assertEqual(len(self.list_rows(signed)), 4)

    def test_end_signature_in_the_comment_does_not_count(self):
        archive = self.zip_members([("a.txt", b"alpha")], comment=b"see PK\x05\x06 and more PK\x05\x06")
        self.assertEqual(self.list_rows(self.sfx(archive)), [("a.txt", "5")])


class NameConversion(StartupCase):
    def test_oem_name_from_a_dos_tool(self):
        rows = self.list_rows(self.sfx(dos_member_archive(self.path("dos.zip")), crafted=True))
        self.assertEqual(rows, [("m\u00fcnchen.txt", "5"), ("plain.txt", "5")])

    def test_utf8_names(self):
        for name, archive in [("python", self.zip_members([("caf\u00e9/na\u00efve.txt", b"1"), ("\u20ac.txt", b"22")])),
                              ("7z", self.zip_7z(self.tree({"caf\u00e9/na\u00efve.txt": b"1", "\u20ac.txt": b"22"})))]:
            with self.subTest(name):
                rows = self.list_rows(self.sfx(archive, name=name + ".exe"))
                self.assertEqual(sorted(rows), [("caf\u00e9\\na\u00efve.txt", "1"), ("\u20ac.txt", "2")])

    def test_utf8_name_without_an_ansi_equivalent_is_listed_as_it_is(self):
        # Omega is not in the Western ANSI code page: no best-fit 'O', no garbled bytes.
        archive = self.zip_members([("\u03a9mega.txt", b"w")])
        rows = self.list_rows(self.sfx(archive, crafted=True))
        self.assertEqual(rows, [("\u03a9mega.txt", "1")])


ANSWERS = [  # start question style, button, goes on
    ("ok-cancel", "OK", True),
    ("ok-cancel", "Cancel", False),
    ("yes-no", "Yes", True),
    ("yes-no", "No", False),
    ("abort-retry-ignore", "Abort", False),
    ("abort-retry-ignore", "Retry", True),
    ("abort-retry-ignore", "Ignore", True),
    ("yes-no-cancel", "Cancel", False),
    ("retry-cancel", "Retry", True),
]


class StartQuestion(StartupCase):
    def test_every_answer(self):
        # A scenario of tests/guest as well: every answer in one driver run.
        archive = self.zip_members([("a.txt", b"a")])
        script = []
        for style, button, goes_on in ANSWERS:
            exe = self.sfx(archive, title="Setup of Thing", question="Install Thing?",
                           question_style=style + ",question", name=f"{style}-{button}.exe")
            script += [f"start {q(exe)} cwd={q(self.dir)}", 'wait-msgbox "Setup of Thing"', f"press {button}"]
            # Declined: the program ends by itself, no dialog or box after the question.
            script += [f"wait-window {q(MAIN_CAPTION)}", f"press id={ID_CANCEL}"] if goes_on else []
            script.append("wait-exit")
        run = yield "\n".join(script)
        for i, (style, button, _) in enumerate(ANSWERS):
            with self.subTest(style=style, button=button):
                box = run.result("wait-msgbox", i)
                self.assertEqual((box["text"], box["icon"]), ("Install Thing?", "question"))
                self.assertEqual(run.result("wait-exit", i)["exit_code"], 0)
        # Whatever the answer, nothing was unzipped.
        self.assertEqual([name for name in sfxtest.read_tree(self.dir) if name.endswith("a.txt")], [])

    def test_closing_the_question_declines(self):
        exe = self.sfx(self.zip_members([("a.txt", b"a")]), "--question", "Go on?", "--question-style", "ok-cancel")
        last = self.run_program(exe, ['wait-msgbox "Unzip to disk"', "close", "wait-exit"])
        self.assertEqual(last["wait-exit"]["exit_code"], 0)

    def test_no_question_opens_the_dialog_at_once(self):
        exe = self.sfx(self.zip_members([("a.txt", b"a")]))
        last = self.run_program(exe, self.close_main_dialog())
        self.assertEqual(last["wait-exit"]["exit_code"], 0)


if __name__ == "__main__":
    unittest.main()
