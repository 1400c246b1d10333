"""What the main dialog's end-to-end tests add to sfxtest: an archive whose
member order is not alphabetical, a driver run that starts at the open dialog,
and the conversion of dialog units with the dialog's own font."""
import zipfile

import sfxtest
from sfxtest import MAIN_CAPTION, q

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


def base_unit_y(pairs):
    """The dialog font's vertical base unit that turns every (units, pixels) pair
    of template heights into the measured pixels; None when none does."""
    for base in range(6, 64):
        if all(dialog_pixels(units, base) == pixels for units, pixels in pairs):
            return base
    return None


class DialogCase(sfxtest.SfxCase):
    def make_sfx(self, options, name="test.exe", **config):
        return self.sfx(self.zip_members(MEMBERS, name=name + ".zip"), name=name, options=options, **config)

    def drive_dialog(self, exe, script):
        """Runs script once the program's main dialog is open."""
        return self.drive("\n".join([f"start {q(exe)}", f"wait-window {q(MAIN_CAPTION)}"] + script))
