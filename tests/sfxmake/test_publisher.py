"""A publisher's resources in the built program (icon, version resource, manifest
level), read back with an independent PE parser (pefile); refusals of broken .ico
files and version texts; `info` in text and JSON; `test` quiet and verbose."""
import json
import os
import struct
import unittest
from pathlib import Path

from sfxmaketest import STUB32, STUB64, SAMPLE, PeImage, SfxmakeCase, read_block, zip_members
from sfxtest import PUBLISHER, PUBLISHER_IMAGES, bmp_image, config_block, png_image, publisher_args
import pefile  # noqa: E402 (found through sfxtest's path)

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def resources(pe):
    """{(type id, name id or text): {language: bytes}} of a parsed image."""
    found = {}
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in rtype.directory.entries:
            key = (rtype.id, str(name.name) if name.name is not None else name.id)
            for lang in name.directory.entries:
                d = lang.data.struct
                found.setdefault(key, {})[lang.id] = pe.get_data(d.OffsetToData, d.Size)
    return found


def version_strings(pe):
    strings = {}
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


class PublisherResources(SfxmakeCase):
    def setUp(self):
        super().setUp()
        self.icon = self.path("app.ico")
        self.source = self.tree(SAMPLE)

    def build(self, *options, stub=STUB32, name="out.exe"):
        out = self.path(name)
        self.sfxmake("build", "-q", "--stub", stub, "-o", out, *options, self.source)
        return out, Path(out).read_bytes()

    def test_icon_and_version_read_back_by_a_pe_parser(self):
        for stub in (STUB32, STUB64):
            with self.subTest(stub=os.path.basename(stub)):
                plain = pefile.PE(data=Path(stub).read_bytes())
                exe, data = self.build(*publisher_args(self.icon), "--title", "Demo", stub=stub)
                pe = pefile.PE(data=data)
                res = resources(pe)

                # Every image of the .ico, in its order, named by the group UNZIP.
                (lang, group), = res[(RT_GROUP_ICON, "UNZIP")].items()
                count = struct.unpack_from("<H", group, 4)[0]
                self.assertEqual(count, len(PUBLISHER_IMAGES))
                for i, (width, height, image) in enumerate(PUBLISHER_IMAGES):
                    w, h, _, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
                    self.assertEqual((w or 256, h or 256, planes, size), (width, height, 1, len(image)))
                    self.assertEqual(bits, 32 if image.startswith(b"\x89PNG") else struct.unpack_from("<H", image, 14)[0])
                    self.assertEqual(res[(RT_ICON, icon_id)], {lang: image})
                self.assertEqual(len([k for k in res if k[0] == RT_ICON]), len(PUBLISHER_IMAGES),
                                 "the stub's icons are gone")
                # The stub's other resources are kept as they were.
                for key, value in resources(plain).items():
                    if key[0] not in (RT_ICON, RT_GROUP_ICON):
                        self.assertEqual(res[key], value, key)

                fixed = pe.VS_FIXEDFILEINFO[0]
                self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00020001, 0x00000007))
                self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00020001, 0))
                self.assertEqual(version_strings(pe), {
                    "CompanyName": "Example Ltd", "FileDescription": "Demo Suite installer", "FileVersion": "2.1.0.7",
                    "LegalCopyright": PUBLISHER["--copyright"], "ProductName": "Demo Suite",
                    "ProductVersion": "2.1.0 beta"})

                # The sections behind the resources moved; the headers agree with them.
                names = [s.Name.rstrip(b"\0") for s in pe.sections]
                self.assertEqual(names, [s.Name.rstrip(b"\0") for s in plain.sections])
                self.assertEqual(names[-2:], [b".rsrc", b".reloc"])
                rsrc, reloc = pe.sections[-2:]
                align = pe.OPTIONAL_HEADER.SectionAlignment
                self.assertEqual(reloc.VirtualAddress, -(-(rsrc.VirtualAddress + rsrc.Misc_VirtualSize) // align) * align)
                self.assertEqual(reloc.PointerToRawData, rsrc.PointerToRawData + rsrc.SizeOfRawData)
                self.assertEqual(pe.OPTIONAL_HEADER.SizeOfImage,
                                 -(-(reloc.VirtualAddress + reloc.Misc_VirtualSize) // align) * align)
                dirs = pe.OPTIONAL_HEADER.DATA_DIRECTORY
                self.assertEqual((dirs[2].VirtualAddress, dirs[2].Size), (rsrc.VirtualAddress, rsrc.Misc_VirtualSize))
                self.assertEqual(dirs[5].VirtualAddress, reloc.VirtualAddress)
                self.assertEqual(reloc.get_data(), plain.sections[-1].get_data())
                self.assertEqual([[(e.rva, e.type) for e in block.entries] for block in pe.DIRECTORY_ENTRY_BASERELOC],
                                 [[(e.rva, e.type) for e in block.entries] for block in plain.DIRECTORY_ENTRY_BASERELOC])
                grown = rsrc.SizeOfRawData - plain.sections[-2].SizeOfRawData
                self.assertEqual(pe.OPTIONAL_HEADER.SizeOfInitializedData,
                                 plain.OPTIONAL_HEADER.SizeOfInitializedData + grown)
                self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())

                # The block sits right behind the new image end, where the stub looks.
                self.assertEqual(PeImage(data).raw_end, reloc.PointerToRawData + reloc.SizeOfRawData)
                self.assertEqual(read_block(data)["title"], b"Demo")
                self.assertIn(b"4 members tested, 0 failed", self.sfxmake("test", exe).stdout)

    def test_elevate_asks_for_administrator_in_the_manifest(self):
        for options, level in (((), b"asInvoker"), (("--elevate",), b"requireAdministrator")):
            with self.subTest(level=level):
                exe, data = self.build(*options)
                (manifest,) = resources(pefile.PE(data=data))[(RT_MANIFEST, 1)].values()
                self.assertIn(b'<requestedExecutionLevel level="' + level + b'"', manifest)
                self.assertIn("execution:      " + level.decode(), self.sfxmake("info", exe).stdout.decode())

    def test_info_shows_the_resources_as_text_and_json(self):
        exe, _ = self.build(*publisher_args(self.icon), "--elevate", "--title", "Demo",
                            "--folder", "C:\\Demo", "--auto", "--method", "deflate")
        text = self.sfxmake("info", exe).stdout.decode()
        for line in ("icon:           3 images: 16x16 4-bit, 32x32 32-bit, 256x256 32-bit PNG",
                     "version:        file 2.1.0.7, product 2.1.0.0",
                     '  ProductName:     "Demo Suite"', '  LegalCopyright:  "' + PUBLISHER["--copyright"] + '"',
                     '  FileDescription: "Demo Suite installer"',
                     "execution:      requireAdministrator"):
            self.assertIn(line, text)

        info = json.loads(self.sfxmake("info", "--json", exe).stdout)
        self.assertEqual(info["stub"]["bits"], 32)
        self.assertEqual({k: info["config"][k] for k in ("title", "folder", "overwrite", "options")},
                         {"title": "Demo", "folder": "C:\\Demo", "overwrite": "ask", "options": 0x0008})
        resources_ = info["resources"]
        self.assertEqual(resources_["execution_level"], "requireAdministrator")
        self.assertEqual([(i["width"], i["height"], i["bits"], i["format"]) for i in resources_["icon"]],
                         [(16, 16, 4, "bmp"), (32, 32, 32, "bmp"), (256, 256, 32, "png")])
        self.assertEqual(resources_["version"]["file_version"], "2.1.0.7")
        self.assertEqual(resources_["version"]["strings"]["LegalCopyright"], PUBLISHER["--copyright"])
        members = {m["name"]: m for m in info["members"]}
        self.assertEqual(set(members), set(SAMPLE))
        tool = members["bin/tool.dat"]
        self.assertEqual((tool["size"], tool["method"], tool["encrypted"]), (len(SAMPLE["bin/tool.dat"]), "deflate", False))
        self.assertLess(tool["packed"], tool["size"])
        self.assertRegex(tool["date"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$")

    def test_plain_program_has_the_stubs_icon_and_no_version(self):
        exe, _ = self.build()
        info = json.loads(self.sfxmake("info", "--json", exe).stdout)["resources"]
        self.assertIsNone(info["version"])
        self.assertEqual(info["execution_level"], "asInvoker")
        self.assertEqual([(i["width"], i["height"]) for i in info["icon"]], [(16, 16), (32, 32)])

    def test_one_version_stands_for_both(self):
        exe, data = self.build("--product-version", "3.4", "--company", "X")
        fixed = pefile.PE(data=data).VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.ProductVersionMS), (0x00030004, 0x00030004))


class PublisherRefusals(SfxmakeCase):
    """Every refusal exits 2 and writes nothing."""

    def test_broken_ico_files(self):
        good = bmp_image(16, 16, 8)
        header = struct.pack("<HHH", 0, 1, 1)

        def entry(width=16, height=16, size=len(good), offset=22):
            return struct.pack("<BBBBHHII", width, height, 0, 0, 1, 8, size, offset)

        cases = {
            "empty": b"",
            "not an icon": b"GIF89a" + bytes(40),
            "a cursor": struct.pack("<HHH", 0, 2, 1) + entry() + good,
            "no image": struct.pack("<HHH", 0, 1, 0),
            "directory cut short": header + entry()[:10],
            "image outside the file": header + entry(size=len(good) + 1) + good,
            "image inside the directory": header + entry(offset=6) + good,
            "size differs": header + entry(width=32, height=32) + good,
            "truncated bitmap": header + entry(size=len(good) - 64) + good[:-64],
            "garbage image": header + entry(size=48) + bytes(48),
            "png of another size": header + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, 200, 22)
            + png_image(32, 32)[:200].ljust(200, b"\0"),
            "png cut short": header + entry(size=33) + png_image(16, 16)[:33],
            "too many images": struct.pack("<HHH", 0, 1, 257) + entry() * 257,
        }
        messages = {"a cursor": "holds a cursor", "no image": "holds no image", "directory cut short": "cut short",
                    "image outside the file": "outside the file", "image inside the directory": "outside the file",
                    "size differs": "size differs", "truncated bitmap": "shorter than its size needs",
                    "png of another size": "size differs", "garbage image": "neither a PNG image nor a bitmap",
                    "png cut short": "PNG image cut short", "too many images": "more than the 256"}
        for name, content in cases.items():
            with self.subTest(name):
                path = self.path("bad.ico")
                Path(path).write_bytes(content)
                self.refused(messages.get(name, "not a usable .ico file"), "--icon", path, self.tree({"a.txt": b"a"}))
        self.refused("missing.ico", "--icon", self.path("missing.ico"), self.tree({"a.txt": b"a"}))

    def test_hostile_stubs(self):
        """A stub whose resource tree shares its records (a small file standing
        for a huge tree) or whose sections overlap its headers: refused with a
        message by build and by info on a program made from it."""
        plain = Path(STUB32).read_bytes()
        pe = pefile.PE(data=plain)
        icons, others = pe.DIRECTORY_ENTRY_RESOURCE.entries[0], pe.DIRECTORY_ENTRY_RESOURCE.entries[1]
        rsrc = next(section for section in pe.sections if section.Name.startswith(b".rsrc"))

        def pointing(entry, like):  # the stub with entry's child replaced by like's
            data = bytearray(plain)
            at, to = entry.struct.get_file_offset() + 4, like.struct.get_file_offset() + 4
            data[at:at + 4] = data[to:to + 4]
            return data

        def rsrc_from(pointer):  # the stub with its resources' raw data starting at pointer, ending as before
            data = bytearray(plain)
            end = rsrc.PointerToRawData + rsrc.SizeOfRawData
            struct.pack_into("<II", data, rsrc.get_file_offset() + 16, end - pointer, pointer)
            return data

        first_icon, second_icon = (name.directory.entries[0] for name in icons.directory.entries[:2])
        cases = [("a directory shared by two types", pointing(others, icons), "reached twice"),
                 ("a data entry shared by two icons", pointing(second_icon, first_icon), "reached twice"),
                 ("resources inside the headers", rsrc_from(0x200), "damaged section table")]
        source = self.tree({"a.txt": b"a"})
        archive = zip_members(self.path("a.zip"), {"a.txt": b"a"})
        for name, data, message in cases:
            with self.subTest(name):
                stub = self.path("hostile.exe")
                Path(stub).write_bytes(bytes(data))
                self.refused(message, "--stub", stub, source)
                self.refused(message, "--stub", stub, "--product-name", "X", source)
                program = self.path("program.exe")  # put together by hand, as build refuses it
                Path(program).write_bytes(bytes(data) + config_block() + Path(archive).read_bytes())
                self.assertIn(message.encode(), self.sfxmake("info", program, expect=2).stderr)
                os.remove(program)

    def test_bad_version_texts(self):
        for text in ("x1", "1.2.3.4.5", "65536", "1..2", "1.2."):
            with self.subTest(text=text):
                self.refused("takes a version like 1.2.3.4", "--file-version", text, self.tree({"a.txt": b"a"}))


class QuietAndVerboseTest(SfxmakeCase):
    def test_failures_and_summary_by_default_every_member_with_v(self):
        exe = self.path("t.exe")
        self.sfxmake("build", "-q", "-o", exe, self.tree(SAMPLE))
        quiet = self.sfxmake("test", exe).stdout.decode().splitlines()
        self.assertEqual(quiet, ["4 members tested, 0 failed"])
        verbose = self.sfxmake("test", "-v", exe).stdout.decode().splitlines()
        self.assertEqual(sorted(verbose[:-1]), sorted("OK   " + name for name in SAMPLE))
        self.assertEqual(verbose[-1], "4 members tested, 0 failed")


if __name__ == "__main__":
    unittest.main()
