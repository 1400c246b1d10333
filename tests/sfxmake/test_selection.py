"""What goes into a program: --include and --exclude on folder inputs and on
ZIP inputs (rewritten without the members left out, nothing recompressed), and
what a build does with the links it meets (--links), saying so on stderr."""
import json
import os
import subprocess
import unittest
import zipfile

from sfxmaketest import SfxmakeCase

TREE = {"setup.exe": b"MZ", "app.pdb": b"p", "Thumbs.db": b"t", "bin/tool.dll": b"d", "bin/tool.pdb": b"p",
        "docs/a.md": b"a", "docs/deep/b.md": b"b", "docs/deep/c.txt": b"c", ".git/config": b"g",
        "sub/.git/HEAD": b"h", "sub/keep.txt": b"k", "build/x.md": b"x"}


class Selection(SfxmakeCase):
    def members(self, exe):
        """The files and the folder entries of a program, and what info counts."""
        info = json.loads(self.sfxmake("info", "--json", exe).stdout)
        return {m["name"] for m in info["members"]}, (info["archive"]["files"], info["archive"]["folders"])

    def test_patterns_pick_the_same_members_of_a_folder_and_of_a_zip(self):
        folder = self.tree(TREE)
        archive = self.zip_python(folder)  # with folder entries
        zip64 = self.zip_infozip(folder, "-fz")  # ZIP64 end records, whose counts and places are patched too
        everything = set(TREE)
        cases = (  # (options, the files that go in)
            (["--exclude", "*.pdb", "--exclude", ".git/", "--exclude", "Thumbs.db"],
             everything - {"app.pdb", "bin/tool.pdb", "Thumbs.db", ".git/config", "sub/.git/HEAD"}),
            (["--exclude", "/app.pdb"], everything - {"app.pdb"}),  # anchored: bin/tool.pdb stays
            (["--exclude", "bin/*.pdb"], everything - {"bin/tool.pdb"}),
            (["--exclude", "docs"], everything - {"docs/a.md", "docs/deep/b.md", "docs/deep/c.txt"}),
            (["--exclude", "setup.exe/"], everything),  # a trailing '/' names folders only
            (["--include", "*.md"], {"docs/a.md", "docs/deep/b.md", "build/x.md"}),
            (["--include", "docs/*.md"], {"docs/a.md"}),  # '*' stays within its part
            (["--include", "docs/**.md"], {"docs/a.md", "docs/deep/b.md"}),
            (["--include", "**/deep/*"], {"docs/deep/b.md", "docs/deep/c.txt"}),
            (["--include", "d?cs/", "--exclude", "*.txt"], {"docs/a.md", "docs/deep/b.md"}),  # exclude wins
            (["--include", "*.md", "--include", "setup.exe", "--exclude", "build/"],
             {"docs/a.md", "docs/deep/b.md", "setup.exe"}),
        )
        for options, files in cases:
            for source in (folder, archive, zip64):
                with self.subTest(options=options, source=os.path.basename(source)):
                    exe = self.path("out.exe")
                    self.sfxmake("build", "-q", "-o", exe, *options, source)
                    folders = {f[:i + 1] for f in files for i, c in enumerate(f) if c == "/"}
                    names, counts = self.members(exe)
                    self.assertEqual(names, files | (folders if source != folder else set()))
                    self.assertEqual(counts, (len(files), len(folders)))
                    self.assertIn(b"0 failed", self.sfxmake("test", "-q", exe).stdout)
        # A ZIP input keeps its members' bytes; adjusted offsets make it an ordinary ZIP file.
        exe = self.path("adjusted.exe")
        self.sfxmake("build", "-q", "--adjust-offsets", "--exclude", "docs/", "-o", exe, archive)
        subprocess.run(["unzip", "-tq", exe], check=True, capture_output=True)
        with zipfile.ZipFile(archive) as z, zipfile.ZipFile(exe) as built:
            self.assertEqual({i.filename: (i.CRC, i.compress_size) for i in built.infolist()},
                             {i.filename: (i.CRC, i.compress_size) for i in z.infolist() if not i.filename.startswith("docs")})
        for options in (["--include", "nothing"], ["--exclude", "*"], ["--include", ""]):
            with self.subTest(refused=options):
                self.refused("--include", *options, folder)
                self.refused("--include", *options, archive)

    def test_links_are_followed_skipped_or_refused_and_said(self):
        outside = self.tree({"secret.txt": b"outside", "lib/x.dll": b"x"}, name="outside")
        folder = self.tree({"a.txt": b"a", "sub/b.txt": b"b"})
        for name, target in {"in.txt": "a.txt", "out.txt": os.path.join(outside, "secret.txt"),
                             "lib": os.path.join(outside, "lib"), "sub/up": "..", "gone.txt": "missing.txt",
                             "same": "sub"}.items():
            os.symlink(target, os.path.join(folder, name))
        plain = {"a.txt", "sub/b.txt"}
        cases = (  # (options, members, warnings: link and the end of its line; None: refused)
            ([], plain | {"in.txt", "out.txt", "lib/x.dll", "same/b.txt"},
             {"followed link in.txt -> a.txt", f"followed link out.txt -> {outside}/secret.txt, which lies outside",
              f"followed link lib -> {outside}/lib, which lies outside", "followed link same -> sub",
              "skipped link sub/up -> ..: it leads back into a folder it lies in",
              "skipped link same/up -> ..: it leads back into a folder it lies in",
              "skipped link gone.txt -> missing.txt: it leads nowhere"}),
            (["--links", "skip"], plain,
             {f"skipped link {n} (--links skip)" for n in ("in.txt -> a.txt", f"out.txt -> {outside}/secret.txt",
                                                         f"lib -> {outside}/lib", "sub/up -> ..",
                                                         "gone.txt -> missing.txt", "same -> sub")}),
            (["--links", "refuse", "--exclude", "lib", "--exclude", "out.txt"], None, None),
            # Links left out are no links; one to a folder is left out only by an exclude.
            (["--links", "refuse", "--include", "a.txt", "--exclude", "lib", "--exclude", "same", "--exclude", "sub/up"],
             {"a.txt"}, set()),
        )
        for options, members, warnings in cases:
            with self.subTest(options=options):
                exe = self.path("out.exe")
                if members is None:
                    run = self.refused("--links refuse", *options, folder)
                    self.assertIn(b"\n  in.txt -> a.txt", run.stderr)
                    self.assertNotIn(b"out.txt", run.stderr)
                    continue
                run = self.sfxmake("build", "-o", exe, *options, folder)
                self.assertEqual(self.members(exe)[0], members)
                said = {line[len("sfxmake build: "):].rsplit(" outside", 1)[0] + (" outside" in line) * " outside"
                        for line in run.stderr.decode().splitlines()}
                self.assertEqual(said, warnings)
                self.assertEqual(self.sfxmake("build", "-q", "-o", exe, *options, folder).stderr, b"")
        self.refused("--links is for folder inputs", "--links", "skip", self.zip_members({"a": b"a"}))
        self.refused("--links takes follow, skip or refuse", "--links", "always", folder)


if __name__ == "__main__":
    unittest.main()
