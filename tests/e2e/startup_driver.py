"""startup_driver.py -- what the start-up tests add to sfxtest: one driver run
per program whose results come back by command."""
import sfxtest
from sfxtest import CORRUPT, ERROR_CAPTION, ID_CANCEL, ID_FILE_LIST, MAIN_CAPTION, q


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
