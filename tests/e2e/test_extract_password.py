"""Encrypted members: the password prompt, the password kept from member to
member, wrong and cancelled answers, and the 80-character limit."""
import os
import unittest

import sfxtest
from extractcase import ExtractCase
from sfxtest import DONE, MAIN_CAPTION, incomplete_script, q
from sfxtest import answer_password as answer

PROMPT = sfxtest.PASSWORD_PROMPT
DONE_BOX = "wait-msgbox timeout=30000\npress OK\n"


class Passwords(ExtractCase):
    def encrypted(self, files, password, name, **kwargs):
        """Info-ZIP archive of files with password (see sfxtest.zip_infozip for streamed and refuse)."""
        return self.zip_infozip(self.tree(files, name=name + "-src"), "-P", password, name=name + ".zip", **kwargs)

    def joined(self, *parts):
        """One archive of several, each member encrypted with its own password, which
        the other parts' members refuse."""
        archive = self.path("joined.zip")
        for files, password in parts:
            sfxtest.zip_infozip(self.tree(files, name=f"src-{password[:8]}"), archive, "-P", password,
                                refuse=[other for _, other in parts if other != password])
        return archive

    def test_one_prompt_for_members_sharing_a_password(self):
        files = {"a.txt": b"first secret" * 1000, "sub/b.txt": b"second secret", "c.bin": os.urandom(70000)}
        for streamed in (False, True):
            with self.subTest(streamed=streamed):
                archive = self.encrypted(files, "s3cret", f"shared{streamed}", streamed=streamed)
                exe = self.sfx(archive, name=f"shared{streamed}.exe", overwrite="overwrite")
                run = self.unzip(exe, f"""
                    wait-window {q(PROMPT)}
                    state 1
                    type 201 x
                    state 1
                    type 201 ""
                    state 1
                    state 2
                    {answer("s3cret")}
                    {DONE_BOX}
                """)
                # Ok starts disabled, follows the field, and Cancel is the default button.
                self.assertEqual([s["enabled"] for s in run.results("state")[:3]], [0, 1, 0])
                self.assertEqual(run.result("wait-msgbox")["text"], DONE)  # no second prompt came first
                self.assertEqual(sfxtest.read_tree(self.target), files)

    def test_7z_zipcrypto_stored_and_deflated(self):
        files = {"a.txt": b"seven" * 5000, "b.bin": os.urandom(40000)}
        src = self.tree(files)
        for args in (("-mx0",), ("-mm=Deflate",)):
            with self.subTest(args=args):
                archive = self.zip_7z(src, "-pzip7pass", "-mem=ZipCrypto", *args, name=f"7z{args[0][1:3]}.zip")
                exe = self.sfx(archive, name=f"7z{args[0][1:3]}.exe", overwrite="overwrite")
                self.unzip(exe, answer("zip7pass") + DONE_BOX)
                self.assertEqual(sfxtest.read_tree(self.target), files)

    def test_wrong_remembered_password_prompts_again(self):
        archive = self.joined(({"a.txt": b"under one"}, "one"), ({"b.txt": b"under two"}, "two"))
        exe = self.sfx(archive, overwrite="overwrite")
        run = self.unzip(exe, answer("one") + answer("two") + DONE_BOX)
        self.assertEqual(len([w for w in run.results("wait-window") if w["caption"] == PROMPT]), 2)
        self.assertEqual(sfxtest.read_tree(self.target), {"a.txt": b"under one", "b.txt": b"under two"})

    def test_three_wrong_answers_end_the_run_without_a_file(self):
        archive = self.encrypted({"locked.txt": b"never seen"}, "right", "locked",
                                 refuse=("wrong1", "wrong2", "wrong3"))
        exe = self.sfx(archive, overwrite="overwrite", options=sfxtest.OPT_HIDE_FILE_LIST)
        run = self.drive(incomplete_script(exe, answer("wrong1") + answer("wrong2") + answer("wrong3")))
        self.assertEqual(self.exit_code(run), 0)
        self.assertFalse(os.path.exists(os.path.join(self.target, "locked.txt")))
        self.assertEqual(run.selected(), ["locked.txt"])
        self.assertEqual(run.visible(), [MAIN_CAPTION])

    def test_cancel_forgets_the_password(self):
        archive = self.joined(({"a.txt": b"under x"}, "xpass"), ({"b.txt": b"under y"}, "ypass"))
        exe = self.sfx(archive, overwrite="overwrite", options=sfxtest.OPT_HIDE_FILE_LIST)
        # The second member's prompt is cancelled: the run ends there. The next run
        # has to ask for the first member again, since Cancel emptied the password.
        run = self.unzip(exe, answer("xpass") + f"""
            wait-window {q(PROMPT)}
            press Cancel
            wait-window {q(MAIN_CAPTION)}
            wait-state 105 exists 0
            press id=1
        """ + answer("xpass") + answer("ypass") + DONE_BOX)
        self.assertEqual(self.exit_code(run), 0)
        self.assertEqual(sfxtest.read_tree(self.target), {"a.txt": b"under x", "b.txt": b"under y"})

    def test_an_81st_character_is_dropped(self):
        password = "".join(chr(ord("a") + i % 26) for i in range(80))
        archive = self.encrypted({"long.txt": b"long password"}, password, "long")
        exe = self.sfx(archive, overwrite="overwrite")
        self.unzip(exe, answer(password + "Z") + DONE_BOX)
        self.assertEqual(sfxtest.read_tree(self.target), {"long.txt": b"long password"})


if __name__ == "__main__":
    unittest.main()
