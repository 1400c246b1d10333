"""The shipped 32-bit stub, run as 32-bit code in the qemu guest: one boot for
what a user meets -- a file it cannot read, the start question, a tree of a
few hundred files in automatic mode, the overwrite prompt, a wrong password,
the program run afterwards, the clean-up after a program waited for, AES members
among others, hostile names, sizes and codes that bound what is written, the switches of unattended runs, target folders past
MAX_PATH, LZMA members, a solid block with a flipped byte, and the dialog with its file list."""
import os
import unittest

from guestcase import GuestCase  # first: it makes tests/e2e importable
import sfxtest
from sfxtest import DONE, q, unzip_script
# Modules, not their classes: unittest would run every test class found here.
import test_dialog
import test_extract_aes
import test_extract_faults
import test_extract_lzma
import test_extract_outcome
import test_extract_overwrite
import test_extract_solid
import test_extract_paths
import test_foundation
import test_launcher
import test_startup
import test_switches
from test_extract_tree import sample_tree


class Stub32(GuestCase, test_dialog.LayoutCase):
    # The end-to-end tests' scenarios, under their names there.
    test_error_box_alone_names_the_full_path = \
        test_foundation.OwnFileUnreadable.test_error_box_alone_names_the_full_path
    test_ask_yes_and_no = test_extract_overwrite.OverwritePolicy.test_ask_yes_and_no
    test_quoted_program_path_with_blanks = test_extract_outcome.RunOutcome.test_quoted_program_path_with_blanks
    test_names_leaving_the_target_or_naming_devices_are_refused = \
        test_extract_faults.MemberFaults.test_names_leaving_the_target_or_naming_devices_are_refused
    test_show_files_opens_the_list_band_once = test_dialog.ShowFilesTest.test_show_files_opens_the_list_band_once
    test_every_answer = test_startup.StartQuestion.test_every_answer
    test_the_whole_line_is_read_before_anything_is_done = \
        test_switches.Switches.test_the_whole_line_is_read_before_anything_is_done
    switch_lines = slice(4, None)  # from /x on: one box, the silent lines, the escaped closing quote
    test_long_target_folders = test_extract_paths.LongPaths.test_long_target_folders
    test_members_of_every_writer_in_automatic_mode = \
        test_extract_lzma.LzmaMembers.test_members_of_every_writer_in_automatic_mode
    test_flipped_byte_fails_the_rest_of_the_block = \
        test_extract_solid.SolidBlocks.test_flipped_byte_fails_the_rest_of_the_block
    test_mixed_archive_asks_once = test_extract_aes.AesMembers.test_mixed_archive_asks_once
    test_clean_up_keeps_what_was_there_and_reports_a_locked_file = \
        test_launcher.Launcher.test_clean_up_keeps_what_was_there_and_reports_a_locked_file
    test_declared_sizes_and_codes_bound_what_reaches_a_name = \
        test_extract_faults.ArchiveFaults.test_declared_sizes_and_codes_bound_what_reaches_a_name

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
        run = yield f"start {q(exe)}\nwait-exit"
        self.assertEqual(self.exit_code(run), 0)
        self.assertEqual(sfxtest.read_tree(self.target), files)

    def test_wrong_password_then_the_right_one(self):
        files = {"secret.txt": b"classified" * 500, "sub/more.bin": os.urandom(50000)}
        archive = sfxtest.zip_infozip(self.tree(files), self.path("locked.zip"), "-P", "right", refuse=("wrong",))
        exe = self.sfx(archive, overwrite="overwrite")
        run = yield unzip_script(exe, f"""
            {sfxtest.answer_password("wrong")}
            {sfxtest.answer_password("right")}
            wait-msgbox timeout=60000
            press OK
        """)
        self.assertEqual([w["caption"] for w in run.results("wait-window")][1:], [sfxtest.PASSWORD_PROMPT] * 2)
        self.assertEqual(run.result("wait-msgbox")["text"], DONE)
        self.assertEqual(sfxtest.read_tree(self.target), files)


if __name__ == "__main__":
    unittest.main()
