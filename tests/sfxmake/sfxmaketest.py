"""What sfxmake's command-line tests share: the helpers of tests/e2e/sfxtest.py
(scratch folders, archives, the block reader), found through the path set here,
and a test case that needs the native sfxmake but no wine session."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

import sfxtest  # noqa: E402
from sfxtest import SAMPLE, STUB32, STUB64, PeImage, image_end, read_block, zip_members  # noqa: E402,F401


class SfxmakeCase(sfxtest.ScratchCase):
    """A scratch folder and sfxmake; skipped where sfxmake is not built."""

    def setUp(self):
        if not os.path.exists(sfxtest.SFXMAKE):
            self.skipTest(f"{sfxtest.SFXMAKE} is not built")
        super().setUp()

    def info_zip(self, files, name="in.zip", *options):
        """An archive written by Info-ZIP zip from the given files."""
        return self.zip_infozip(self.tree(files, name + ".d"), *options, name=name)
