#!/usr/bin/env python3
# Writes the fuzzer's seed corpus (fuzz/corpus): small raw deflate streams of every
# block type and zlib strategy, plus hand-made streams at the decoder's edges.
import os
import random
import zlib

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
os.makedirs(here, exist_ok=True)
rng = random.Random(1)
text = b" ".join(rng.choice([b"deflate", b"window", b"code", b"length", b"table", b"\n"]) for _ in range(700))
binary = bytes(rng.choice([0, 0, 0x8B, 0xC3, rng.randrange(256)]) for _ in range(2000))
noise = bytes(rng.randrange(256) for _ in range(1500))
runs = b"a" * 900 + b"b" * 300 + b"abc" * 200

def raw(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, mem=8):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, mem, strategy)
    return c.compress(data) + c.flush()

seeds = {}
for name, data in [("text", text), ("binary", binary), ("noise", noise), ("runs", runs), ("empty", b"")]:
    for level in (0, 1, 6, 9):
        seeds[f"{name}-l{level}"] = raw(data, level)
    seeds[f"{name}-fixed"] = raw(data, 6, zlib.Z_FIXED)
    seeds[f"{name}-huffman"] = raw(data, 6, zlib.Z_HUFFMAN_ONLY)
    seeds[f"{name}-rle"] = raw(data, 6, zlib.Z_RLE)
    seeds[f"{name}-mem1"] = raw(data, 9, zlib.Z_DEFAULT_STRATEGY, 1)
# Several blocks in one stream: a full flush between parts.
c = zlib.compressobj(6, zlib.DEFLATED, -15)
seeds["flushed-blocks"] = c.compress(text[:800]) + c.flush(zlib.Z_FULL_FLUSH) + c.compress(noise[:300]) + c.flush()
# Distance 1, length 258 (fixed block), and the invalid fixed codes 286 and distance 30.
seeds["fixed-run"] = bytes([0x4B, 0x1C, 0x05, 0x00])
seeds["fixed-286"] = bytes([0x4B, 0x1C, 0x03, 0x00])
seeds["stored-len0"] = bytes([0x00, 0x00, 0x00, 0xFF, 0xFF, 0x4B, 0x4C, 0x4A, 0x06, 0x00])
# Larger than 64 KiB compressed: the 32 KiB input buffer refills and the window wraps.
big_noise = bytes(rng.randrange(256) for _ in range(90000))
seeds["large-noise-l1"] = raw(big_noise, 1)
seeds["large-mixed-l9"] = raw(big_noise[:70000] + text * 40 + binary * 20, 9)
for name, data in seeds.items():
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)
print(f"{len(seeds)} seeds in {here}")

# The reader's seeds (fuzz/reader-corpus): what a builder appends behind a stub
# image (configuration block, archive, trailing data), from Python's zipfile.
import io
import struct
import zipfile

IMAGE_SIZE = 0x400  # the reader fuzzer's stand-in image


def block(title=b"Demo", folder=b"$TEMP", run=b"", question=b""):
    texts = title + folder + run + question
    trailer = 18 + len(texts)
    header = b"QF\x00\x01" + struct.pack("<HHBBBBBBI", trailer, 0x0002, 2, len(title), len(folder), len(run), 0,
                                         len(question), 0x24)
    return header + texts + b"QF\x0a\x01" + struct.pack("<I", trailer)


def archive(members, comment=b"", stream=False):
    out = io.BytesIO()
    target = out
    if stream:  # sizes in data descriptors, as a writer to a pipe leaves them
        class Pipe(io.RawIOBase):
            def writable(self): return True
            def write(self, b): return out.write(b)
        target = Pipe()
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in members.items():
            z.writestr(name, data)
        z.comment = comment
    return out.getvalue()


def adjusted(data, shift):
    """Offsets rewritten to count from the program's start."""
    data = bytearray(data)
    end = data.rfind(b"PK\x05\x06")
    count, size, offset = struct.unpack_from("<HII", data, end + 10)
    struct.pack_into("<I", data, end + 16, offset + shift)
    at = offset
    for _ in range(count):
        struct.pack_into("<I", data, at + 42, struct.unpack_from("<I", data, at + 42)[0] + shift)
        n, x, c = struct.unpack_from("<HHH", data, at + 28)
        at += 46 + n + x + c
    return bytes(data)


def zip64(members):
    """ZIP64 fields in the local headers, and a ZIP64 end record and locator
    before an end record whose fields hold only markers."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in members.items():
            with z.open(name, "w", force_zip64=True) as f:
                f.write(data)
    data = out.getvalue()
    end = data.rfind(b"PK\x05\x06")
    count, size, offset = struct.unpack_from("<HII", data, end + 10)
    record = b"PK\x06\x06" + struct.pack("<QHHIIQQQQ", 44, 45, 45, 0, 0, count, count, size, offset)
    locator = b"PK\x06\x07" + struct.pack("<IQI", 0, end, 1)
    tail = b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return data[:end] + record + locator + tail


reader = os.path.join(os.path.dirname(here), "reader-corpus")
os.makedirs(reader, exist_ok=True)
small = {"readme.txt": text[:600], "bin/data.bin": binary[:700], "empty.txt": b"", "dir/": b""}
cfg = block()
reader_seeds = {
    "plain": cfg + archive(small),
    "comment-and-trailer": cfg + archive({"a.txt": runs[:300]}, comment=b"PK\x05\x06 in a comment") + b"\x00" * 40,
    "streamed": cfg + archive({"s.txt": text[:400], "t.txt": b"tiny"}, stream=True),
    "adjusted": cfg + adjusted(archive(small), IMAGE_SIZE + len(cfg)),
    "refused-names": cfg + archive({"../up.txt": b"1", "CON.txt": b"2", "ok.txt": b"3", "a:b": b"4"}),
    "question": block(question=b"Go on?", run=b"setup.exe /q") + archive({"setup.exe": noise[:200]}),
    "zip64": cfg + zip64({"big.txt": text[:500], "b.bin": binary[:300]}),
}
for name, data in reader_seeds.items():
    with open(os.path.join(reader, name), "wb") as f:
        f.write(data)
print(f"{len(reader_seeds)} seeds in {reader}")

# The resource fuzzer's seeds (fuzz/resource-corpus): the length of an .ico
# (16-bit), the .ico, then a small image laid out as a stub is: headers, code,
# resources (icon, icon group UNZIP, version, manifest), relocations last.
import zlib


def resource_tree(resources, rva):
    """A resource section at rva from {(type, name): data}, names numbers or
    texts, every resource in language 0x409."""
    types = {}
    for (kind, name), data in sorted(resources.items(), key=lambda r: (r[0][0], isinstance(r[0][1], int), r[0][1])):
        types.setdefault(kind, []).append((name, data))
    dirs = 16 + 8 * len(types) + sum(16 + 8 * len(names) for names in types.values()) + 24 * len(resources)
    entries_at = dirs
    names_at = entries_at + 16 * len(resources)
    strings = b"".join(struct.pack("<H", len(n)) + n.encode("utf-16-le")
                       for names in types.values() for n, _ in names if isinstance(n, str))
    data_at = (names_at + len(strings) + 7) & ~7
    out = bytearray(data_at)
    out[names_at:names_at + len(strings)] = strings
    next_dir, next_name = 16 + 8 * len(types), names_at
    struct.pack_into("<12xHH", out, 0, 0, len(types))
    for i, (kind, names) in enumerate(types.items()):
        struct.pack_into("<II", out, 16 + 8 * i, kind, 0x80000000 | next_dir)
        type_dir, next_dir = next_dir, next_dir + 16 + 8 * len(names)
        named = sum(isinstance(n, str) for n, _ in names)
        struct.pack_into("<12xHH", out, type_dir, named, len(names) - named)
        for j, (name, data) in enumerate(names):
            key = name
            if isinstance(name, str):
                key, next_name = 0x80000000 | next_name, next_name + 2 + 2 * len(name)
            struct.pack_into("<II", out, type_dir + 16 + 8 * j, key, 0x80000000 | next_dir)
            struct.pack_into("<12xHHII", out, next_dir, 0, 1, 0x409, entries_at)
            next_dir += 24
            struct.pack_into("<II", out, entries_at, rva + len(out), len(data))
            entries_at += 16
            out += data + bytes(-len(data) % 8)
    return bytes(out)


def version_node(key, value=b"", text=False, children=()):
    node = struct.pack("<HHH", 0, len(value) // 2 if text else len(value), int(text)) + (key + "\0").encode("utf-16-le")
    node += bytes(-len(node) % 4) + value
    for child in children:
        node += bytes(-len(node) % 4) + child
    return struct.pack("<H", len(node)) + node[2:]


def stub_image(wide=False):
    fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, 0x10002, 0x30004, 0x10002, 0, 0x3F, 0, 0x40004, 1, 0, 0, 0)
    table = version_node("040904B0", text=True, children=[version_node("ProductName", "Seed\0".encode("utf-16-le"), True)])
    version = version_node("VS_VERSION_INFO", fixed, children=[
        version_node("StringFileInfo", text=True, children=[table]),
        version_node("VarFileInfo", text=True, children=[version_node("Translation", struct.pack("<HH", 0x409, 1200))])])
    manifest = b'<assembly><trustInfo><requestedExecutionLevel level="asInvoker" uiAccess="false"/></trustInfo></assembly>'
    icon = ico_bitmap(16, 4)
    group = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHIH", 16, 16, 16, 0, 1, 4, len(icon), 1)
    rsrc = resource_tree({(3, 1): icon, (14, "UNZIP"): group, (16, 1): version, (24, 1): manifest}, 0x2000)
    rsrc_raw = rsrc + bytes(-len(rsrc) % 0x200)
    reloc = struct.pack("<IIHH", 0x1000, 12, 0x3000, 0) + bytes(0x200 - 12)
    optional_size = 240 if wide else 224
    image = bytearray(0x400)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x40)
    image[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", image, 0x44, 0x8664 if wide else 0x14C, 3, 0, 0, 0, optional_size, 0x102)
    opt = 0x58
    reloc_va = 0x2000 + ((len(rsrc) + 0xFFF) & ~0xFFF)
    struct.pack_into("<H", image, opt, 0x20B if wide else 0x10B)
    struct.pack_into("<IIIIII", image, opt + 32, 0x1000, 0x200, 4, 0, 0, 0)  # alignments, versions
    struct.pack_into("<IIIHH", image, opt + 56, reloc_va + 0x1000, 0x200, 0, 2, 0)  # image, headers, checksum, subsystem
    dirs = opt + (112 if wide else 96)
    struct.pack_into("<I", image, dirs - 4, 16)
    struct.pack_into("<II", image, dirs + 2 * 8, 0x2000, len(rsrc))
    struct.pack_into("<II", image, dirs + 5 * 8, reloc_va, 12)
    table_at = opt + optional_size
    for i, (name, va, size, raw, pointer) in enumerate([(b".text", 0x1000, 0x10, 0x200, 0x200),
                                                         (b".rsrc", 0x2000, len(rsrc), len(rsrc_raw), 0x400),
                                                         (b".reloc", reloc_va, 12, 0x200, 0x400 + len(rsrc_raw))]):
        struct.pack_into("<8sIIII12xI", image, table_at + 40 * i, name, size, va, raw, pointer, 0x40000040)
    image[0x200:0x210] = b"\xC3" * 16
    return bytes(image) + rsrc_raw + reloc


def ico_bitmap(side, bits):
    colours = 1 << bits
    rows = ((side * bits + 31) // 32) * 4 * side
    mask = ((side + 31) // 32) * 4 * side
    return (struct.pack("<IiiHHIIiiII", 40, side, 2 * side, 1, bits, 0, rows + mask, 0, 0, colours, 0)
            + bytes(4 * colours) + bytes((i * 5) & 0xFF for i in range(rows)) + bytes(mask))


def ico_png(side):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    rows = b"".join(b"\0" + bytes([9, 99, 199, 255]) * side for _ in range(side))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def ico(images):
    out, offset = b"", 6 + 16 * len(images)
    for side, bits, data in images:
        out += struct.pack("<BBBBHHII", side & 0xFF, side & 0xFF, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return struct.pack("<HHH", 0, 1, len(images)) + out + b"".join(data for _, _, data in images)


resource = os.path.join(os.path.dirname(here), "resource-corpus")
os.makedirs(resource, exist_ok=True)
icons = {"bmp": ico([(16, 4, ico_bitmap(16, 4))]), "png-and-bmp": ico([(32, 32, ico_png(32)), (16, 8, ico_bitmap(16, 8))])}
resource_seeds = {
    "image-only": struct.pack("<H", 0) + stub_image(),
    "bmp-icon": struct.pack("<H", len(icons["bmp"])) + icons["bmp"] + stub_image(),
    "png-icon-64": struct.pack("<H", len(icons["png-and-bmp"])) + icons["png-and-bmp"] + stub_image(wide=True),
}
for name, data in resource_seeds.items():
    with open(os.path.join(resource, name), "wb") as f:
        f.write(data)
print(f"{len(resource_seeds)} seeds in {resource}")
