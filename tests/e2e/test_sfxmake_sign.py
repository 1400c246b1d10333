"""A code-signing round trip: a finished program with a publisher's icon and
version resource, signed with osslsigncode and a throw-away certificate, still
passes sfxmake test, verifies and still unpacks under wine (the signature sits
behind the archive, where the stub ignores it)."""
import subprocess
import unittest

import sfxtest
from sfxtest import SAMPLE, bmp_image, ico_file, png_image, publisher_args
from test_sfxmake_wine import unattended


class SignedProgram(sfxtest.SfxCase):
    def sign(self, exe):
        key, cert = self.path("key.pem"), self.path("cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=sfxkit test signer"], check=True, capture_output=True)
        signed = exe[:-4] + "-signed.exe"
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "sfxkit test",
                        "-in", exe, "-out", signed], check=True, capture_output=True)
        return signed

    def test_signed_program_tests_and_unpacks(self):
        target = self.path("out")
        exe = self.path("demo.exe")
        icon = ico_file(self.path("app.ico"), [(32, 32, bmp_image(32, 32, 32)), (256, 256, png_image(256, 256))])
        self.sfxmake("build", "--stub", "64", "-o", exe, *publisher_args(icon), *unattended(target), self.tree(SAMPLE))
        signed = self.sign(exe)
        with open(exe, "rb") as a, open(signed, "rb") as b:
            plain, data = a.read(), b.read()
        self.assertGreater(len(data), len(plain), "the signature is appended")
        self.assertIn(b"4 members tested, 0 failed", self.sfxmake("test", signed).stdout)
        self.assertIn(b"icon:           2 images", self.sfxmake("info", signed).stdout)
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", self.path("cert.pem"), "-in", signed],
                                capture_output=True)
        self.assertIn(b"Signature verification: ok", verify.stdout)
        self.assertEqual(self.wine(signed)[0], 0)
        self.assertEqual(sfxtest.read_tree(target), SAMPLE)


if __name__ == "__main__":
    unittest.main()
