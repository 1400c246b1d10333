"""What the main dialog shows and how it answers before Unzip: caption, folder
box, Run check box, Help, the file list's rows, the overwrite radio buttons, and
Unzip enabled only while rows are selected when the user picks the files."""
import unittest

from dialogcase import DialogCase, by_id
from sfxtest import MAIN_CAPTION

HELP_TEXT = ("This is a self-extracting zip file.\r\n\r\nClick the browse button '...' to select or create a "
             "target folder,\r\nthen click Unzip to unzip the contents to this folder.")


class ContentTest(DialogCase):
    def test_caption_folder_run_box_and_help(self):
        exe = self.make_sfx(0x0001, title="My Setup", folder=r"C:\Program Files\Demo",
                            run=r"bin\setup.exe /S quiet")
        results = self.drive_dialog(exe, ["text 0", "text 201", "state 302", "state 703",
                                   "press id=103", "wait-msgbox Help", "press OK",
                                   'wait-window "%s"' % MAIN_CAPTION, "press id=2", "wait-exit"])
        self.assertEqual(results.result("wait-window")["caption"], MAIN_CAPTION)
        self.assertEqual(results.result("text", 0)["text"], MAIN_CAPTION)  # not the configured title
        self.assertEqual(results.result("text", 1)["text"], r"C:\Program Files\Demo")
        run_box = results.result("state", 0)
        # Both parts shortened after their last separator, the slash of /S included.
        self.assertEqual(run_box["text"], "After unzip, run setup.exe S quiet")
        self.assertEqual(run_box["checked"], 1)
        self.assertEqual(results.result("state", 1)["checked"], 1)  # Ask is the default mode
        box = results.result("wait-msgbox")
        self.assertEqual(box["caption"], "Help")
        self.assertEqual(box["text"], HELP_TEXT)
        self.assertEqual(box["icon"], "asterisk")
        self.assertEqual([b["text"] for b in box["buttons"]], ["OK"])
        self.assertEqual(results.result("wait-exit")["exit_code"], 0)

    def test_run_box_without_command_is_removed_but_keeps_its_band(self):
        with_run = self.drive_dialog(self.make_sfx(0x0041, run="a.exe", name="with.exe"),
                              ["rect 0", "state 1", "state 302"])
        without = self.drive_dialog(self.make_sfx(0x0041, name="without.exe"), ["rect 0", "state 1", "state 302"])
        self.assertTrue(with_run.result("state", 1)["exists"])
        self.assertFalse(without.result("state", 1)["exists"])
        unzip_from_top = [r.result("state", 0)["rect"]["top"] - r.result("rect")["rect"]["top"]
                          for r in (with_run, without)]
        self.assertEqual(unzip_from_top[0], unzip_from_top[1])

    def test_rows_in_archive_order_without_folders(self):
        results = self.drive_dialog(self.make_sfx(0x0000), ["rows 401", "state 1", "press id=2", "wait-exit"])
        table = results.result("rows")
        self.assertEqual(table["columns"], ["Filename", "Size"])
        rows = [r["cells"] for r in table["rows"]]
        self.assertEqual(rows, [["zeta.txt", "24"], ["docs\\manual.pdf", "1009"], ["empty.log", "0"],
                                ["alpha.bin", "12800"]])
        self.assertEqual([r["param"] for r in table["rows"]], [0, 1, 2, 3])
        self.assertFalse(any(r["selected"] for r in table["rows"]))
        self.assertTrue(results.result("state")["enabled"])  # Unzip selects every row itself
        self.assertEqual(results.result("wait-exit")["exit_code"], 0)

    def test_unzip_follows_the_selection_when_the_user_picks_files(self):
        results = self.drive_dialog(self.make_sfx(0x0002), [
            "rows 401", "state 1",
            "select 401 none", "wait-state 1 enabled 0",
            "select 401 2", "wait-state 1 enabled 1",
            "select 401 none", "wait-state 1 enabled 0",
            "select 401 all", "wait-state 1 enabled 1",
            "press id=2", "wait-exit"])
        self.assertTrue(all(r["selected"] for r in results.result("rows")["rows"]))
        self.assertTrue(results.result("state")["enabled"])
        self.assertEqual(results.result("wait-exit")["exit_code"], 0)

    def test_overwrite_mode_picks_its_radio_button(self):
        for mode, checked in (("overwrite", 701), ("skip", 702)):
            results = self.drive_dialog(self.make_sfx(0x0001, overwrite=mode, name=mode + ".exe"), ["controls"])
            controls = by_id(results.result("controls")["controls"])
            self.assertEqual([i for i in (701, 702, 703) if controls[i]["checked"]], [checked], mode)

    def test_browser_opens_on_the_folder_box_and_returns_the_choice(self):
        picked = r"C:\windows\system32"
        # The browser selects the requested folder after it opened (wine expands the
        # tree asynchronously), hence the pause before OK and a folder of the prefix,
        # not one under a crowded /tmp.
        results = self.drive_dialog(self.make_sfx(0x0001, folder=r"C:\nowhere"), [
            "press id=104", 'wait-window "Choose the target folder"', "press Cancel",
            'wait-window "%s"' % MAIN_CAPTION, "text 201",
            'type 201 "%s"' % picked, "press id=104", 'wait-window "Choose the target folder"', "sleep 2000", "press OK",
            'wait-window "%s"' % MAIN_CAPTION, "text 201", "press id=2", "wait-exit"])
        self.assertEqual(results.result("text", 0)["text"], r"C:\nowhere")  # Cancel changes nothing
        self.assertEqual(results.result("text", 1)["text"].lower(), picked.lower())
        self.assertEqual(results.result("wait-exit")["exit_code"], 0)

    def test_close_box_ends_with_zero(self):
        exe = self.make_sfx(0x0000)
        results = self.drive_dialog(exe, ["close", "wait-exit"])
        self.assertEqual(results.result("wait-exit")["exit_code"], 0)


if __name__ == "__main__":
    unittest.main()
