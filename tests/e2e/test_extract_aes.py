"""Members encrypted with AES: archives from 7-Zip and from sfxmake, AES-128
and AES-256, stored and deflated, mixed with traditionally encrypted and plain
members; a wrong password; damage to the data and to the authentication code."""
import os
import shutil
import struct
import unittest
import zlib
from pathlib import Path

import sfxtest
from extractcase import ExtractCase
from sfxtest import answer_password as answer

DONE_BOX = "wait-msgbox timeout=120000\npress OK\n"
FILES = {"small.txt": b"aes member " * 300, "big.bin": os.urandom(3 << 20) + b"tail" * 50000, "empty.txt": b""}


def aes_data_span(archive, name):
    """(start, end) of the encrypted data of member name in archive: behind the
    salt and verifier, before the 10-byte code; found through the local headers."""
    data, at = Path(archive).read_bytes(), 0
    while True:
        packed, _, name_len, extra_len = struct.unpack_from("<IIHH", data, at + 18)
        extra = data[at + 30 + name_len:at + 30 + name_len + extra_len]
        start = at + 30 + name_len + extra_len
        if data[at + 30:at + 30 + name_len] == name.encode():
            strength = extra[extra.index(b"\x01\x99") + 8]  # id, size, version, "AE", strength
            return start + 4 + 4 * strength + 2, start + packed - 10
        at = start + packed


class AesMembers(ExtractCase):
    def test_7z_and_sfxmake_aes_members_unpack(self):
        src = self.tree(FILES)
        cases = {
            "7z-aes256-deflated": lambda: self.zip_7z(src, "-pAesPass1", "-mem=AES256", name="a.zip"),
            "7z-aes128-stored": lambda: self.zip_7z(src, "-pAesPass1", "-mem=AES128", "-mx0", name="b.zip"),
            "sfxmake-default": lambda: src,
            "sfxmake-aes128": lambda: src,
        }
        for label, make in cases.items():
            with self.subTest(label):
                extra = ("--password", "AesPass1") if label.startswith("sfxmake") else ()
                if label == "sfxmake-aes128":
                    extra += ("--encryption", "aes128")
                exe = self.sfx(make(), *extra, name=label + ".exe", overwrite="overwrite")
                self.unzip(exe, answer("AesPass1") + DONE_BOX)
                self.assertEqual(sfxtest.read_tree(self.target), FILES)

    def test_mixed_archive_asks_once(self):
        # AES from 7z, then traditional and plain members added by Info-ZIP: one
        # password serves every encrypted member, remembered across the schemes.
        archive = self.zip_7z(self.tree({"aes.txt": b"aes" * 999}, name="a"), "-pmixed", "-mem=AES256")
        sfxtest.zip_infozip(self.tree({"zc.txt": b"zipcrypto" * 99}, name="z"), archive, "-P", "mixed")
        sfxtest.zip_infozip(self.tree({"plain.txt": b"plain"}, name="p"), archive)
        exe = self.sfx(archive, overwrite="overwrite")
        run = yield sfxtest.unzip_script(exe, answer("mixed") + DONE_BOX)
        self.assertEqual(run.result("wait-msgbox")["text"], sfxtest.DONE)
        self.assertEqual(sfxtest.read_tree(self.target),
                         {"aes.txt": b"aes" * 999, "zc.txt": b"zipcrypto" * 99, "plain.txt": b"plain"})

    def test_wrong_password_and_damage_leave_the_originals(self):
        files = {"a.txt": b"first " * 2000, "b.txt": b"second " * 2000}
        archive = self.zip_7z(self.tree(files), "-pright", "-mem=AES256")
        start, end = aes_data_span(archive, "a.txt")
        cases = {"wrong password": ("wrong", None), "data": ("right", start + 5), "code": ("right", end + 3)}
        for label, (password, flip) in cases.items():
            with self.subTest(label):
                data = bytearray(Path(archive).read_bytes())
                if flip is not None:
                    data[flip] ^= 0x01
                damaged = Path(self.path(label + ".zip"))
                damaged.write_bytes(data)
                originals = {"a.txt": b"original a", "b.txt": b"original b"}
                self.existing(originals)
                exe = self.sfx(str(damaged), name=label.replace(" ", "-") + ".exe", overwrite="overwrite")
                run = self.start(exe, options=f'args="/s /p {password}"')
                self.assertEqual(self.exit_code(run), 2)
                expected = originals if flip is None else {"a.txt": b"original a", "b.txt": files["b.txt"]}
                self.assertEqual(sfxtest.read_tree(self.target), expected)

    def test_verdict_on_both_ends_of_the_code_and_on_an_ae1_crc(self):
        data = b"judged by its code " * 300
        archive = self.zip_7z(self.tree({"a.txt": data}), "-pright", "-mem=AES256")
        code = aes_data_span(archive, "a.txt")[1]
        for label, change, exit_code in (("code0", lambda p: sfxtest.flip_byte(p, code), 2),
                                         ("code9", lambda p: sfxtest.flip_byte(p, code + 9), 2),
                                         ("ae1", lambda p: sfxtest.as_ae1(p, "a.txt", zlib.crc32(data)), 0),
                                         ("ae1-crc", lambda p: sfxtest.as_ae1(p, "a.txt", zlib.crc32(data) ^ 4), 2)):
            with self.subTest(label):
                change(shutil.copy(archive, self.path(label + ".zip")))
                exe = self.sfx(self.path(label + ".zip"), name=label + ".exe", overwrite="overwrite")
                self.assertEqual(self.exit_code(self.start(exe, options='args="/s /p right"')), exit_code)

if __name__ == "__main__":
    unittest.main()
