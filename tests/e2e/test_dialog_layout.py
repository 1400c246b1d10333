"""The main dialog's bands under each option combination that removes or opens
one: which controls exist, and where the dialog's bottom and the controls below
the bands end up, in pixels converted with the dialog's own units."""
import unittest

from dialogcase import DialogCase, base_unit_y, by_id, dialog_pixels
from sfxtest import MAIN_CAPTION, q

BELOW_BANDS = (105, 302, 103, 1, 2, 502)        # moved up when bands are removed
OVERWRITE_BAND = (202, 602, 701, 702, 703)
LIST_BAND = (501, 401)
# The template's heights in dialog units, measured back to find the dialog's units.
HEIGHTS = {1: 14, 2: 14, 103: 14, 201: 12, 104: 12, 602: 24}


def top(c):
    return c["rect"]["top"]


def dialog_shot(run, index=0):
    """The dialog's rect and its controls by id, as the index-th rect 0 and controls commands found them."""
    return run.result("rect", index)["rect"], by_id(run.result("controls", index)["controls"])


class LayoutCase(DialogCase):
    def measured_base(self, controls):
        """The dialog font's vertical base unit, measured from the template's heights."""
        pairs = [(units, controls[i]["rect"]["bottom"] - controls[i]["rect"]["top"]) for i, units in HEIGHTS.items()]
        base = base_unit_y(pairs)
        self.assertIsNotNone(base, "control heights fit no dialog unit: %s" % pairs)
        return base

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

    def assert_list_band_opened(self, before_dialog, before, after_dialog, after):
        """Show files (before, then after) grew the dialog by the list band alone."""
        grow = dialog_pixels(66, self.measured_base(before))
        self.assertEqual((after_dialog["bottom"] - after_dialog["top"]) - (before_dialog["bottom"] - before_dialog["top"]),
                         grow)
        for i in LIST_BAND:
            self.assertFalse(before[i]["visible"])
            self.assertTrue(after[i]["visible"])
        for i in (602, 701, 702, 703, 302, 103, 1, 2, 502):
            self.assertEqual(top(after[i]) - after_dialog["top"], top(before[i]) - before_dialog["top"] + grow, i)
        # The list sits in its band: below the folder row, above the overwrite group.
        self.assertGreater(top(after[401]), before[201]["rect"]["bottom"])
        self.assertLessEqual(after[401]["rect"]["bottom"], top(after[602]))
        self.assert_no_overlap(after_dialog, after)


class BandTest(LayoutCase):
    """0x0041 is the reference: every band present, the list hidden."""

    @classmethod
    def setUpClass(cls):
        cls.cache = {}

    def shot(self, options):
        """The dialog's rect and controls right after it opened."""
        if options not in self.cache:
            run = self.drive_dialog(self.make_sfx(options, run="setup.exe /S"),
                                    ["rect 0", "controls", "press id=2", "wait-exit"])
            self.assertEqual(run.result("wait-exit")["exit_code"], 0)
            self.cache[options] = dialog_shot(run)
        return self.cache[options]

    def base(self):
        dialog, controls = self.shot(0x0041)
        return dialog, controls, self.measured_base(controls)

    def check_moved(self, options, shrink, list_shown, exists, gone):
        ref_dialog, ref, base = self.base()
        dialog, controls = self.shot(options)
        for i in exists:
            self.assertTrue(controls[i]["exists"], "control %d should exist" % i)
        for i in gone:
            self.assertFalse(controls.get(i, {}).get("exists", False), "control %d should be gone" % i)
        for i in LIST_BAND:
            self.assertEqual(controls[i]["visible"], list_shown, i)
        move = dialog_pixels(-shrink, base) + (dialog_pixels(66, base) if list_shown else 0)
        height = lambda r: r["bottom"] - r["top"]
        self.assertEqual(height(dialog) - height(ref_dialog), move, "dialog height")
        for i in BELOW_BANDS:
            if controls.get(i, {}).get("exists") and ref[i]["exists"]:
                # Positions relative to the dialog's top: the dialog may be centred anew.
                self.assertEqual(top(controls[i]) - dialog["top"], top(ref[i]) - ref_dialog["top"] + move, i)
        self.assert_no_overlap(dialog, controls)

    def test_nothing_removed(self):
        # 0x0001: Run check box, list shown from the start, Show files gone.
        self.check_moved(0x0001, 0, True, exists=(302, 602, 701, 702, 703, 202, 502), gone=(105,))

    def test_run_band_removed(self):
        self.check_moved(0x0000, 10, True, exists=(602, 701, 702, 703, 202), gone=(302, 105))

    def test_overwrite_band_removed(self):
        self.check_moved(0x0005, 18, True, exists=(302,), gone=OVERWRITE_BAND + (105,))

    def test_both_bands_removed(self):
        self.check_moved(0x0004, 33, True, exists=(502,), gone=OVERWRITE_BAND + (302, 105))

    def test_list_never_shown(self):
        self.check_moved(0x00C1, 0, False, exists=(302, 602), gone=(105,))

    def test_reference_layout_is_clear(self):
        dialog, controls, _ = self.base()
        self.assertTrue(controls[105]["exists"] and controls[105]["visible"])
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
        self.assert_list_band_opened(*dialog_shot(run, 0), *dialog_shot(run, 1))
        self.assertEqual([r["cells"][0] for r in run.result("rows")["rows"]],
                         ["zeta.txt", "docs\\manual.pdf", "empty.log", "alpha.bin"])
        self.assertEqual(run.result("wait-exit")["exit_code"], 0)


if __name__ == "__main__":
    unittest.main()
