"""The overwrite policy as the user meets it: files already in the target folder
under Overwrite, Don't overwrite and Ask, the prompt's "Don't ask again", and
a hidden policy that turns to Ask after an incomplete run."""
import os
import unittest

import sfxtest
from extractcase import ExtractCase
from sfxtest import DONE, MAIN_CAPTION, q, windows_path

NEW = {"a.txt": b"new a", "b.txt": b"new b", "c.txt": b"new c"}
PROMPT = "File already exists"


class OverwritePolicy(ExtractCase):
    def setUp(self):
        super().setUp()
        self.archive = self.zip_infozip(self.tree(NEW))

    def existing(self, *names):
        os.makedirs(self.target, exist_ok=True)
        for name in names:
            with open(os.path.join(self.target, name), "wb") as f:
                f.write(b"old " + name.encode())

    def content(self, name):
        with open(os.path.join(self.target, name), "rb") as f:
            return f.read()

    def prompt_text(self, name):
        return f"{windows_path(self.target)}\\{name} already exists. Overwrite?"

    def selected_rows(self, run):
        return [row["cells"][0] for row in run.result("rows")["rows"] if row["selected"]]

    def incomplete(self, exe, middle=""):
        """Unzip, the middle of the script, then the state after an incomplete
        run (the file list opens, so Show files is gone), and Close."""
        return self.unzip(exe, f"""
            {middle}
            wait-window {q(MAIN_CAPTION)}
            wait-state 105 exists 0
            rows 401
            state 701
            state 702
            windows
            press id=2
        """)

    def test_overwrite_rewrites_without_asking(self):
        self.existing("b.txt")
        exe = self.sfx(self.archive, overwrite="overwrite", options=sfxtest.OPT_NO_DONE_MESSAGE)
        self.assertEqual(self.exit_code(self.unzip(exe)), 0)
        self.assertEqual(sfxtest.read_tree(self.target), NEW)

    def test_dont_overwrite_skips_silently_and_reports_nothing(self):
        self.existing("b.txt")
        exe = self.sfx(self.archive, overwrite="skip", run="never-started.exe",
                           options=sfxtest.OPT_HIDE_FILE_LIST)
        run = self.incomplete(exe)
        self.assertEqual(self.exit_code(run), 0)
        self.assertEqual(self.content("b.txt"), b"old b.txt")
        self.assertEqual(self.content("a.txt"), b"new a")
        self.assertEqual(self.content("c.txt"), b"new c")
        self.assertEqual(self.selected_rows(run), ["b.txt"])
        # No success message, no attempt to run the program (it would fail with a box).
        self.assertEqual([w["caption"] for w in run.result("windows")["windows"] if w["visible"]], [MAIN_CAPTION])

    def test_ask_yes_and_no(self):
        self.existing("b.txt", "c.txt")
        exe = self.sfx(self.archive, overwrite="ask", options=sfxtest.OPT_HIDE_FILE_LIST)
        run = self.incomplete(exe, f"""
            wait-window {q(PROMPT)}
            text 201
            press Yes
            wait-window {q(PROMPT)}
            text 201
            press No
        """)
        self.assertEqual([t["text"] for t in run.results("text")], [self.prompt_text("b.txt"), self.prompt_text("c.txt")])
        self.assertEqual(self.content("b.txt"), b"new b")
        self.assertEqual(self.content("c.txt"), b"old c.txt")
        self.assertEqual(self.selected_rows(run), ["c.txt"])

    def test_dont_ask_again_with_no_skips_the_rest_and_moves_the_radio_button(self):
        self.existing("a.txt", "b.txt", "c.txt")
        exe = self.sfx(self.archive, overwrite="ask", options=sfxtest.OPT_HIDE_FILE_LIST)
        run = self.incomplete(exe, f"""
            wait-window {q(PROMPT)}
            check 301 on
            press No
        """)
        self.assertEqual([w["caption"] for w in run.results("wait-window")].count(PROMPT), 1)
        self.assertEqual({n: self.content(n) for n in NEW}, {n: b"old " + n.encode() for n in NEW})
        self.assertEqual(sorted(self.selected_rows(run)), ["a.txt", "b.txt", "c.txt"])
        self.assertEqual([s["checked"] for s in run.results("state")], [0, 1])

    def test_dont_ask_again_with_yes_overwrites_the_rest(self):
        self.existing("a.txt", "b.txt", "c.txt")
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
        self.existing("b.txt")
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
        self.assertIn(run.result("text")["text"], [self.prompt_text(name) for name in NEW])
        self.assertEqual(sfxtest.read_tree(self.target), NEW)
        self.assertEqual(self.exit_code(run), 0)


if __name__ == "__main__":
    unittest.main()
