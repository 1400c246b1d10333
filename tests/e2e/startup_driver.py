"""startup_driver.py -- what the start-up tests add to sfxtest: SFX files built
with raw sfxmake options or around archives sfxmake refuses, and one driver run
per program whose results come back by command."""
import sfxtest
from sfxtest import q

MAIN_CAPTION = "Extracting files..."
CORRUPT = "Cannot unzip: file is corrupt."


class StartupCase(sfxtest.SfxCase):
    def build(self, archive, *options, name="sfx.exe"):
        """An SFX of this build's 64-bit stub made by sfxmake, the archive appended as it is."""
        return sfxtest.sfxmake_build(archive, self.path(name), extra=options)

    def build_around(self, archive, name="sfx.exe", **config):
        """An SFX carrying an archive that sfxmake would refuse, appended as it is."""
        return sfxtest.write_sfx(sfxtest.STUB64, archive, self.path(name), **config)

    def run_program(self, exe, script):
        """Starts exe, runs the script lines, and returns {command: its last result}."""
        run = self.drive("\n".join(["timeout 15000", f"start {q(exe)} cwd={q(self.dir)}", *script]))
        self.assertDriverOk(run)
        return {line["cmd"]: line for line in run.lines}

    def close_main_dialog(self):
        return [f"wait-window {q(MAIN_CAPTION)}", "press id=2", "wait-exit"]

    def assert_corrupt(self, exe, before=()):
        """The file is reported damaged in an error box, and the process ends with 1."""
        last = self.run_program(exe, [*before, 'wait-msgbox "Error"', "press OK", "wait-exit"])
        box = last["wait-msgbox"]
        self.assertEqual(box["text"], CORRUPT)
        self.assertEqual(box["icon"], "hand")
        self.assertEqual(last["wait-exit"]["exit_code"], 1)

    def list_rows(self, exe):
        """(name, size) of every row of the running main dialog's file list."""
        last = self.run_program(exe, [f"wait-window {q(MAIN_CAPTION)}", "rows 401", "press id=2", "wait-exit"])
        self.assertEqual(last["wait-exit"]["exit_code"], 0)
        return [tuple(row["cells"][:2]) for row in last["rows"]["rows"]]
