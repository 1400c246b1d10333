"""Shared pieces of sfxmake's command-line tests: running the tool, a scratch
directory per test, and reading the configuration block back independently."""
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

SFXMAKE = os.environ.get("SFXMAKE", "")
STUB32 = os.environ.get("SFX_STUB32", "")
STUB64 = os.environ.get("SFX_STUB64", "")


def image_end(data):
    """End of the last section's raw data, found through SizeOfOptionalHeader."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional
    return max((sum(struct.unpack_from("<II", data, table + 40 * i + 0x10)) for i in range(sections)), default=0)


def read_block(data):
    """The configuration block behind the image as a dict, plus where the archive starts."""
    at = image_end(data)
    sig, trailer, options, mode, lt, lf, lr, reserved, lm, style = struct.unpack_from("<4sHHBBBBBBI", data, at)
    texts, pos = [], at + 18
    for n in (lt, lf, lr, lm):
        texts.append(data[pos:pos + n])
        pos += n
    return dict(signature=sig, trailer=trailer, options=options, mode=mode, reserved=reserved, style=style,
                title=texts[0], folder=texts[1], run=texts[2], question=texts[3], texts_end=pos - at,
                trailer_bytes=data[at + trailer:at + trailer + 8], archive_start=at + trailer + 8)


class SfxmakeCase(unittest.TestCase):
    """A test with its own scratch directory and a helper that runs sfxmake."""

    def setUp(self):
        if not SFXMAKE or not os.path.exists(SFXMAKE):
            self.skipTest("SFXMAKE does not name a built sfxmake")
        self.dir = tempfile.mkdtemp(prefix="sfxmake-test-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def sfxmake(self, *args, expect=0, env=None):
        run = subprocess.run([SFXMAKE, *args], capture_output=True, cwd=self.dir,
                             env=dict(os.environ, **(env or {})))
        if expect is not None:
            self.assertEqual(run.returncode, expect, f"sfxmake {' '.join(args)}\n{run.stderr.decode(errors='replace')}")
        return run

    def make_tree(self, files, root="in"):
        """files: {relative name: bytes}; returns the folder."""
        base = self.path(root)
        for name, data in files.items():
            full = os.path.join(base, name)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
        return base

    def info_zip(self, files, name="in.zip", *options):
        """An archive written by Info-ZIP zip from the given files."""
        base = self.make_tree(files, root=name + ".d")
        subprocess.run(["zip", "-q", "-r", *options, self.path(name), "."], cwd=base, check=True)
        return self.path(name)


def python_zip(path, members, **kwargs):
    """An archive written by Python's zipfile: members is {name: bytes}."""
    import zipfile
    with zipfile.ZipFile(path, "w", compression=kwargs.pop("compression", zipfile.ZIP_DEFLATED), **kwargs) as z:
        for name, data in members.items():
            z.writestr(name, data)
    return path


SAMPLE = {
    "readme.txt": b"Read me first.\r\n" * 40,
    "bin/tool.dat": bytes(range(256)) * 300,
    "bin/empty.txt": b"",
    "docs/deep/er/note.md": b"# note\n" + bytes(1000),
}
