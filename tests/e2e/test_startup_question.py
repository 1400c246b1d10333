"""The start question: which answers go on to the main dialog and which end the
program quietly with exit code 0."""
import unittest

from startup_driver import StartupCase


class StartQuestion(StartupCase):
    ANSWERS = [  # style, button, goes on
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

    def test_every_answer(self):
        archive = self.zip_members([("a.txt", b"a")])
        for style, button, goes_on in self.ANSWERS:
            with self.subTest(style=style, button=button):
                exe = self.sfx(archive, "--title", "Setup of Thing", "--question", "Install Thing?",
                                 "--question-style", style + ",question", name=f"{style}-{button}.exe")
                script = ['wait-msgbox "Setup of Thing"', f"press {button}"]
                # Declined: the program ends by itself, no dialog or box after the question.
                script += self.close_main_dialog() if goes_on else ["wait-exit"]
                last = self.run_program(exe, script)
                self.assertEqual(last["wait-msgbox"]["text"], "Install Thing?")
                self.assertEqual(last["wait-msgbox"]["icon"], "question")
                self.assertEqual(last["wait-exit"]["exit_code"], 0)

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
