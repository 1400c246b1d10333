"""Paths as long as Windows takes them, used whole or refused, never shortened:
target folders around and past MAX_PATH (a file replaced there and one new), the
program started from a folder deeper than that,
a Unicode Path name longer than any stored name, and a member whose path holds
a "." component."""
import os
import unittest

import sfxtest
from extractcase import ExtractCase
from sfxtest import q, windows_path
from test_extract_locale import unicode_path_archive
from test_switches import arguments

FILES = {"a.txt": b"new a", "sub/b.txt": b"new b"}


def long_folder(root, length):
    """A folder below root (not created) whose Windows path is length characters
    long, in components of at most 200 (a Linux name holds 255 bytes; few
    levels keep wine's lookups, one per level and call, quick)."""
    parts, left = [], length - len(windows_path(root))
    while left > 202:
        parts.append(f"{len(parts):02}" + "x" * 198)
        left -= 201
    parts.append(("z" * 201)[:left - 1])
    return os.path.join(root, *parts)


class LongPaths(ExtractCase):
    def test_long_target_folders(self):
        # Each folder but the last already holds a.txt, which the member replaces;
        # sub/b.txt is new. The last is longer than Linux, and so wine, can open:
        # refused, with nothing written anywhere.
        root = self.path("t")
        targets = [long_folder(root, length) for length in (250, 260, 300, 540, 5000)]
        for target in targets[:-1]:
            sfxtest.write_tree(target, {"a.txt": b"old a"})
        exe = self.sfx(self.zip_python(self.tree(FILES)), overwrite="overwrite")
        run = yield "\n".join(f"start {q(exe)} args={arguments('/s /d ' + q(windows_path(t)))}\nwait-exit"
                              for t in targets)
        self.assertEqual([r["exit_code"] for r in run.results("wait-exit")], [0, 0, 0, 0, 2])
        # Nothing anywhere else: no file in a shortened folder, no temporary file left.
        self.assertEqual(sfxtest.read_tree(root), {os.path.relpath(t, root) + "/" + name: data
                                                  for t in targets[:-1] for name, data in FILES.items()})

    def test_started_from_a_folder_deeper_than_520_characters(self):
        # Its own path cut short, the program would look for itself elsewhere.
        deep = long_folder(self.path("deep"), 600)
        os.makedirs(deep)
        exe = os.path.join(deep, "t.exe")
        os.replace(self.sfx(self.zip_python(self.tree(FILES))), exe)
        # Started by wine itself: the driver cannot start a program that deep.
        self.assertEqual(sfxtest.run_wine(["./t.exe", "/s"], cwd=deep, timeout=120)[0], 0)
        self.assertEqual(sfxtest.read_tree(self.target), FILES)

    def test_unicode_path_name_longer_than_a_stored_one(self):
        # 530 characters each, alike up to the last few.
        stem = "/".join(f"{i:02}" + "u" * 48 for i in range(10)) + "/" + "n" * 15
        names = {stem + "1.txt": b"one", stem + "2.txt": b"two"}
        exe = self.sfx(unicode_path_archive(self.path("upath.zip"), names), options=sfxtest.OPT_AUTO_UNZIP)
        self.assertEqual(self.exit_code(self.start(exe)), 0)
        self.assertEqual(sfxtest.read_tree(self.target), names)

    def test_dot_component_in_a_member_path(self):
        # The folder "sub\." exists once "sub" is made, though making it fails.
        exe = self.sfx(self.zip_members([("sub/./f.txt", b"f")]), options=sfxtest.OPT_AUTO_UNZIP)
        self.assertEqual(self.exit_code(self.start(exe)), 0)
        self.assertEqual(sfxtest.read_tree(self.target), {"sub/f.txt": b"f"})


if __name__ == "__main__":
    unittest.main()
