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
