"""The main dialog before Unzip. What it shows and how it answers: caption,
folder box, Run check box, Help, the file list's rows, the overwrite radio
buttons, and Unzip enabled only while rows are selected when the user picks the
files. Its bands under each option combination that removes or opens one: which
controls exist, and where the dialog's bottom and the controls below the bands
end up, in pixels converted with the dialog's own units."""
import unittest
import zipfile

import sfxtest
from sfxtest import MAIN_CAPTION, q

HELP_TEXT = ("This is a self-extracting zip file.\r\n\r\nClick the browse button '...' to select or create a "
             "target folder,\r\nthen click Unzip to unzip the contents to this folder.")
BELOW_BANDS = (105, 302, 103, 1, 2, 502)        # moved up when bands are removed
OVERWRITE_BAND = (202, 602, 701, 702, 703)
LIST_BAND = (501, 401)
# The template's heights in dialog units, measured back to find the dialog's units.
HEIGHTS = {1: 14, 2: 14, 103: 14, 201: 12, 104: 12, 602: 24}

# Directory order on purpose not sorted; a folder entry that never becomes a row.
MEMBERS = [
    ("zeta.txt", b"last letter, first row\r\n"),
    (zipfile.ZipInfo("docs/"), b""),
    ("docs/manual.pdf", b"%PDF-1.4\n" + b"x" * 1000),
    ("empty.log", b""),
    ("alpha.bin", bytes(range(256)) * 50),
]


def dialog_pixels(units, base_y):
    """Vertical dialog units to pixels the way MulDiv(units, base_y, 8) rounds."""
    magnitude = (abs(units) * base_y + 4) // 8
    return magnitude if units >= 0 else -magnitude


def by_id(controls):
    return {c["id"]: c for c in controls}


class DialogCase(sfxtest.SfxCase):
    def make_sfx(self, options, name="test.exe", **config):
        return self.sfx(self.zip_members(MEMBERS, name=name + ".zip"), name=name, options=options, **config)

    def drive_dialog(self, exe, script):
        """Runs script once the program's main dialog is open."""
        return self.drive("\n".join([f"start {q(exe)}", f"wait-window {q(MAIN_CAPTION)}"] + script))


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


def top(c):
    return c["rect"]["top"]


def height(rect):
    return rect["bottom"] - rect["top"]


def dialog_shot(run, index=0):
    """The dialog's rect and its controls by id, as the index-th rect 0 and controls commands found them."""
    return run.result("rect", index)["rect"], by_id(run.result("controls", index)["controls"])


class LayoutCase(DialogCase):
    def measured_base(self, controls):
        """The dialog font's vertical base unit: the one that turns every template
        height in dialog units into the measured pixels."""
        pairs = [(units, height(controls[i]["rect"])) for i, units in HEIGHTS.items()]
        bases = [base for base in range(6, 64) if all(dialog_pixels(u, base) == pixels for u, pixels in pairs)]
        self.assertTrue(bases, "control heights fit no dialog unit: %s" % pairs)
        return bases[0]

    def assert_no_overlap(self, dialog, controls):
        """Visible controls that share columns never share rows; the group box
        only holds its radio buttons; everything lies inside the dialog."""
        visible = [c for c in controls.values() if c.get("exists") and c.get("visible") and c["id"] != 0]
        for c in visible:
            self.assertLessEqual(c["rect"]["bottom"], dialog["bottom"], c["id"])
        for i, a in enumerate(visible):
            for b in visible[i + 1:]:
                if {a["id"], b["id"]} & {602} and {a["id"], b["id"]} & {701, 702, 703}:
                    continue
                ra, rb = a["rect"], b["rect"]
                columns = ra["left"] < rb["right"] and rb["left"] < ra["right"]
                rows = ra["top"] < rb["bottom"] and rb["top"] < ra["bottom"]
                self.assertFalse(columns and rows, "controls %d and %d overlap: %s %s" % (a["id"], b["id"], ra, rb))


class BandTest(LayoutCase):
    """0x0041 is the reference: every band present, the list hidden."""

    CASES = {  # options, shrink in dialog units, list shown, controls that exist, controls that are gone
        # Run check box, list shown from the start, Show files gone.
        "nothing removed": (0x0001, 0, True, (302, 602, 701, 702, 703, 202, 502), (105,)),
        "run band removed": (0x0000, 10, True, (602, 701, 702, 703, 202), (302, 105)),
        "overwrite band removed": (0x0005, 18, True, (302,), OVERWRITE_BAND + (105,)),
        "both bands removed": (0x0004, 33, True, (502,), OVERWRITE_BAND + (302, 105)),
        "list never shown": (0x00C1, 0, False, (302, 602), (105,)),
    }

    def shot(self, options):
        """The dialog's rect and controls right after it opened."""
        run = self.drive_dialog(self.make_sfx(options, name=f"{options:04x}.exe", run="setup.exe /S"),
                                ["rect 0", "controls", "press id=2", "wait-exit"])
        self.assertEqual(run.result("wait-exit")["exit_code"], 0)
        return dialog_shot(run)

    def test_reference_layout_is_clear_and_each_removed_band_moves_the_rest_up(self):
        ref_dialog, ref = self.shot(0x0041)
        base = self.measured_base(ref)
        self.assertTrue(ref[105]["exists"] and ref[105]["visible"])
        self.assert_no_overlap(ref_dialog, ref)
        for name, (options, shrink, list_shown, exists, gone) in self.CASES.items():
            with self.subTest(name):
                dialog, controls = self.shot(options)
                for i in exists:
                    self.assertTrue(controls[i]["exists"], "control %d should exist" % i)
                for i in gone:
                    self.assertFalse(controls.get(i, {}).get("exists", False), "control %d should be gone" % i)
                for i in LIST_BAND:
                    self.assertEqual(controls[i]["visible"], list_shown, i)
                move = dialog_pixels(-shrink, base) + (dialog_pixels(66, base) if list_shown else 0)
                self.assertEqual(height(dialog) - height(ref_dialog), move, "dialog height")
                for i in BELOW_BANDS:
                    if controls.get(i, {}).get("exists") and ref[i]["exists"]:
                        # Positions relative to the dialog's top: the dialog may be centred anew.
                        self.assertEqual(top(controls[i]) - dialog["top"], top(ref[i]) - ref_dialog["top"] + move, i)
                self.assert_no_overlap(dialog, controls)


class ShowFilesTest(LayoutCase):
    def test_show_files_opens_the_list_band_once(self):
        # A scenario of tests/guest as well.
        exe = self.make_sfx(0x0041, run="setup.exe /S")
        run = yield f"""
            start {q(exe)}
            wait-window {q(MAIN_CAPTION)}
            rect 0
            controls
            press id=105
            wait-state 105 exists 0
            rect 0
            controls
            rows 401
            press id=2
            wait-exit
        """
        # Show files grew the dialog by the list band alone.
        (before_dialog, before), (after_dialog, after) = dialog_shot(run, 0), dialog_shot(run, 1)
        grow = dialog_pixels(66, self.measured_base(before))
        self.assertEqual(height(after_dialog) - height(before_dialog), grow)
        for i in LIST_BAND:
            self.assertFalse(before[i]["visible"])
            self.assertTrue(after[i]["visible"])
        for i in (602, 701, 702, 703, 302, 103, 1, 2, 502):
            self.assertEqual(top(after[i]) - after_dialog["top"], top(before[i]) - before_dialog["top"] + grow, i)
        # The list sits in its band: below the folder row, above the overwrite group.
        self.assertGreater(top(after[401]), before[201]["rect"]["bottom"])
        self.assertLessEqual(after[401]["rect"]["bottom"], top(after[602]))
        self.assert_no_overlap(after_dialog, after)
        self.assertEqual([r["cells"][0] for r in run.result("rows")["rows"]],
                         ["zeta.txt", "docs\\manual.pdf", "empty.log", "alpha.bin"])
        self.assertEqual(run.result("wait-exit")["exit_code"], 0)

    def test_show_files_repaints_the_band_it_moves(self):
        # The band below the list (group frame, Run box, buttons) as the dialog
        # paints it of its own accord after Show files moved it down: pixel for
        # pixel what it showed there before, but for the Show files button, gone.
        # wine hands the pixels to the X server a moment after they are painted,
        # later still on a busy machine: one of a few shots in a row must match.
        exe = self.make_sfx(0x0041, run="setup.exe /S")
        before, shots = self.path("before.bmp"), [self.path(f"after{i}.bmp") for i in range(4)]
        run = self.drive_dialog(exe, [
            "rect 602", "rect 105", f"screenshot {q(before)}", "press id=105", "wait-state 105 exists 0",
            *(f"screenshot {q(shot)} as-is=1" for shot in shots), "press id=2", "wait-exit"])
        window = run.result("wait-window")["rect"]
        band = window["bottom"] - top(run.result("rect", 0))
        button = run.result("rect", 1)["rect"]
        left, right = 3 * (button["left"] - window["left"]), 3 * (button["right"] - window["left"])
        old, *new = ([row[:left] + row[right:] for row in sfxtest.bmp_rows(bmp)[-band:]] for bmp in (before, *shots))
        self.assertTrue(any(shot == old for shot in new), "the band below the list was not painted where it moved")


if __name__ == "__main__":
    unittest.main()
