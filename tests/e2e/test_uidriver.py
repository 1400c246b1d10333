"""The UI driver's own contract, checked against the real stub: script syntax,
failures that end the run, and the round trips of typing, selecting and
checking that every other end-to-end test relies on."""
import unittest
from pathlib import Path

import sfxtest
from sfxtest import ID_FILE_LIST, ID_FOLDER, ID_OVERWRITE, MAIN_CAPTION, q


class DriverScripts(sfxtest.SfxCase):
    def opened(self, **config):
        """Driver lines starting a program of three files and waiting for its dialog."""
        source = self.tree({"b.txt": "bee", "a.txt": "a", "sub/c.txt": "sea"})
        exe = self.sfx(self.zip_python(source, folders=False), **config)
        return f"start {q(exe)}\nwait-window {q(MAIN_CAPTION)}"

    def test_script_errors_exit_with_2_before_anything_runs(self):
        for script in ('echo first\necho "open quote', "echo first\nfrobnicate 1"):
            with self.subTest(script=script):
                run = self.drive(script, check=False)
                self.assertEqual(run.code, 2, run.describe())
                self.assertEqual(run.lines, [])

    def test_quotes_and_options(self):
        run = self.drive('''
            echo "say ""hi"" to C:\\dir"
            echo plain=word
            echo "a=b"
        ''')
        self.assertEqual([r.get("text") for r in run.results("echo")], ['say "hi" to C:\\dir', "", "a=b"])

    def test_a_missing_window_fails_fast_and_ends_the_program(self):
        run = self.drive(f"""
            {self.opened()}
            wait-msgbox timeout=500
            wait-exit
        """, check=False)
        self.assertEqual(run.code, 3)
        self.assertIn("timeout waiting for a message box", run.error["error"])
        self.assertIn(MAIN_CAPTION, [w["caption"] for w in run.error["windows"]])
        self.assertEqual(run.results("wait-exit"), [])  # nothing after the failure ran

    def test_on_error_continue_runs_the_rest(self):
        run = self.drive(f"""
            on-error continue
            {self.opened()}
            text 4242
            press id=2
            wait-exit
        """, check=False)
        self.assertEqual(run.code, 3)
        self.assertIn("no control with ID 4242", run.result("text")["error"])
        self.assertEqual(run.result("wait-exit")["exit_code"], 0)

    def test_type_select_and_check_round_trips(self):
        folder = "C:\\Zielordner mit Leerzeichen"
        run = self.drive(f"""
            {self.opened(options=sfxtest.OPT_SELECT_FILES)}
            type {ID_FOLDER} {q(folder)}
            text {ID_FOLDER}
            select {ID_FILE_LIST} 2
            rows {ID_FILE_LIST}
            select {ID_FILE_LIST} none
            wait-state 1 enabled 0
            select {ID_FILE_LIST} all
            wait-state 1 enabled 1
            check {ID_OVERWRITE} on
            state {ID_OVERWRITE}
            state {ID_OVERWRITE + 2}
            press Close
            wait-exit
        """)
        self.assertEqual(run.result("text")["text"], folder)
        rows = run.result("rows")
        self.assertEqual(rows["columns"], ["Filename", "Size"])
        self.assertEqual([r["cells"][0] for r in rows["rows"]], ["a.txt", "b.txt", "sub\\c.txt"])
        self.assertEqual([r["selected"] for r in rows["rows"]], [False, False, True])
        self.assertEqual([r["param"] for r in rows["rows"]], [0, 1, 2])
        self.assertEqual(run.result("state", 0)["checked"], 1)
        self.assertEqual(run.result("state", 1)["checked"], 0)  # the radio group moved with the click
        self.assertEqual(run.result("wait-exit")["exit_code"], 0)

    def test_row_count_clock_and_memory(self):
        run = self.drive(f"""
            {self.opened()}
            wait-state {ID_FILE_LIST} count 3
            state {ID_FILE_LIST}
            clock
            memory
            press Close
            wait-exit
        """)
        self.assertEqual(run.result("state")["count"], 3)
        self.assertGreater(run.result("clock")["ms"], 0)
        memory = run.result("memory")
        self.assertGreater(memory["working_set"], 1 << 20)
        self.assertGreaterEqual(memory["peak_working_set"], memory["working_set"])

    def test_rect_and_screenshot(self):
        run = self.drive(f"""
            {self.opened()}
            rect 0
            rect 1
            screenshot {q(self.path("dialog.bmp"))}
            close
            wait-exit
        """)
        window, button = run.result("rect", 0), run.result("rect", 1)
        self.assertLess(window["rect"]["left"], button["rect"]["left"])
        self.assertLess(button["rect"]["right"], window["rect"]["right"])
        png = sfxtest.bmp_to_png(self.path("dialog.bmp"), self.path("dialog.png"))
        self.assertEqual(Path(png).read_bytes()[:8], b"\x89PNG\r\n\x1a\n")
        width = window["rect"]["right"] - window["rect"]["left"]
        self.assertEqual(int.from_bytes(Path(self.path("dialog.bmp")).read_bytes()[18:22], "little"), width)


if __name__ == "__main__":
    unittest.main()
