"""The overwrite policy as the user meets it: files already in the target folder
under Overwrite, Don't overwrite and Ask, the prompt's "Don't ask again", and
a hidden policy that turns to Ask after an incomplete run."""
import unittest

import sfxtest
from extractcase import ExtractCase
from sfxtest import DONE, MAIN_CAPTION, incomplete_script, q, windows_path

NEW = {"a.txt": b"new a", "b.txt": b"new b", "c.txt": b"new c"}
OLD_B = {"b.txt": b"old b"}
PROMPT = "File already exists"


def prompt_text(target, name):
    return f"{windows_path(target)}\\{name} already exists. Overwrite?"


class OverwritePolicy(ExtractCase):
    def setUp(self):
        super().setUp()
        self.archive = self.zip_infozip(self.tree(NEW))

    def test_overwrite_rewrites_without_asking(self):
        self.existing(OLD_B)
        exe = self.sfx(self.archive, overwrite="overwrite", options=sfxtest.OPT_NO_DONE_MESSAGE)
        self.assertEqual(self.exit_code(self.unzip(exe)), 0)
        self.assertEqual(sfxtest.read_tree(self.target), NEW)

    def test_dont_overwrite_skips_silently_and_reports_nothing(self):
        self.existing(OLD_B)
        exe = self.sfx(self.archive, overwrite="skip", run="never-started.exe",
                           options=sfxtest.OPT_HIDE_FILE_LIST)
        run = self.drive(incomplete_script(exe))
        self.assertEqual(self.exit_code(run), 0)
        self.assertEqual(sfxtest.read_tree(self.target), {**NEW, **OLD_B})
        self.assertEqual(run.selected(), ["b.txt"])
        # No success message, no attempt to run the program (it would fail with a box).
        self.assertEqual(run.visible(), [MAIN_CAPTION])

    def test_ask_yes_and_no(self):
        # A scenario of tests/guest as well: self-contained, no setUp of this class.
        self.existing({"b.txt": b"old b", "c.txt": b"old c"})
        exe = self.sfx(self.zip_infozip(self.tree(NEW)), overwrite="ask", options=sfxtest.OPT_HIDE_FILE_LIST)
        run = yield incomplete_script(exe, f"""
            wait-window {q(PROMPT)}
            text 201
            press Yes
            wait-window {q(PROMPT)}
            text 201
            press No
        """)
        self.assertEqual([t["text"] for t in run.results("text")],
                         [prompt_text(self.target, n) for n in ("b.txt", "c.txt")])
        self.assertEqual(sfxtest.read_tree(self.target), {"a.txt": b"new a", "b.txt": b"new b", "c.txt": b"old c"})
        # The file not written stays selected for another try.
        self.assertEqual(run.selected(), ["c.txt"])
        self.assertEqual(self.exit_code(run), 0)

    def test_dont_ask_again_with_no_skips_the_rest_and_moves_the_radio_button(self):
        old = {n: b"old " + n.encode() for n in NEW}
        self.existing(old)
        exe = self.sfx(self.archive, overwrite="ask", options=sfxtest.OPT_HIDE_FILE_LIST)
        run = self.drive(incomplete_script(exe, f"""
            wait-window {q(PROMPT)}
            check 301 on
            press No
        """))
        self.assertEqual([w["caption"] for w in run.results("wait-window")].count(PROMPT), 1)
        self.assertEqual(sfxtest.read_tree(self.target), old)
        self.assertEqual(sorted(run.selected()), ["a.txt", "b.txt", "c.txt"])
        self.assertEqual([s["checked"] for s in run.results("state")], [0, 1])

    def test_dont_ask_again_with_yes_overwrites_the_rest(self):
        self.existing({n: b"old" for n in NEW})
        exe = self.sfx(self.archive, overwrite="ask")
        run = self.unzip(exe, f"""
            wait-window {q(PROMPT)}
            check 301 on
            press Yes
            wait-msgbox
            wait-window {q(MAIN_CAPTION)}
            state 701
            wait-msgbox
            press OK
        """)
        self.assertEqual(run.result("wait-msgbox")["text"], DONE)
        self.assertEqual(run.result("state")["checked"], 1)
        self.assertEqual(sfxtest.read_tree(self.target), NEW)
        self.assertEqual(self.exit_code(run), 0)

    def test_hidden_policy_turns_to_ask_after_an_incomplete_run(self):
        self.existing(OLD_B)
        exe = self.sfx(self.archive, overwrite="skip", options=sfxtest.OPT_HIDE_OVERWRITE | sfxtest.OPT_HIDE_FILE_LIST)
        run = self.unzip(exe, f"""
            wait-state 105 exists 0
            press id=1
            wait-window {q(PROMPT)}
            text 201
            check 301 on
            press Yes
            wait-msgbox
            press OK
        """)
        # The second run handles every row again and now asks about the first existing one.
        self.assertIn(run.result("text")["text"], [prompt_text(self.target, name) for name in NEW])
        self.assertEqual(sfxtest.read_tree(self.target), NEW)
        self.assertEqual(self.exit_code(run), 0)


if __name__ == "__main__":
    unittest.main()
