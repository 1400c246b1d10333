#!/usr/bin/env python3
# Writes the LZMA fuzzer's seed corpus (fuzz/lzma-corpus). Each seed is the
# member's uncompressed size (4 bytes, little-endian) and then the member's data
# as a ZIP holds it: LZMA version, properties size 5, the properties, the raw
# stream. Streams with the end marker come from Python's lzma module (raw LZMA1),
# streams without it from 7z; every lc/lp/pb liblzma takes (and lc 8 with lp 4,
# which only this decoder takes), dictionaries from 4 KiB to 64 MiB.
import lzma
import os
import random
import shutil
import struct
import subprocess
import tempfile

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lzma-corpus")
shutil.rmtree(here, ignore_errors=True)
os.makedirs(here)
rng = random.Random(1)
text = b" ".join(rng.choice([b"range", b"coder", b"literal", b"match", b"rep0", b"\n"]) for _ in range(500))
noise = bytes(rng.randrange(256) for _ in range(3000))
runs = b"a" * 20000 + b"ab" * 5000 + bytes(range(256)) * 40
binary = bytes(rng.choice([0, 0, 0x8B, 0xC3, rng.randrange(256)]) for _ in range(4000))
seeds = {}

def member(lc, lp, pb, dictionary, stream):
    return struct.pack("<BBHBI", 0x10, 0x02, 5, (pb * 5 + lp) * 9 + lc, dictionary) + stream

def with_marker(data, lc=3, lp=0, pb=2, dictionary=1 << 16, preset=6):
    options = {"id": lzma.FILTER_LZMA1, "preset": preset, "lc": lc, "lp": lp, "pb": pb, "dict_size": dictionary}
    stream = lzma.compress(data, format=lzma.FORMAT_RAW, filters=[options])
    return struct.pack("<I", len(data)) + member(lc, lp, pb, dictionary, stream)

for lc in range(5):
    for lp in range(5 - lc):
        for pb in range(5):
            seeds[f"marker-lc{lc}-lp{lp}-pb{pb}"] = with_marker(text[:1500] + binary[:500], lc, lp, pb)
for name, data in [("text", text), ("noise", noise), ("runs", runs), ("binary", binary), ("empty", b"")]:
    for dictionary in (1 << 12, 1 << 16, 1 << 20, 1 << 26):
        seeds[f"marker-{name}-d{dictionary >> 10}k"] = with_marker(data, dictionary=dictionary)
seeds["marker-text-fast"] = with_marker(text, preset=1)

# 7z's own format stores LZMA streams without the marker: each file alone in
# an archive with a plain header, its stream from byte 32 to the next header.
with tempfile.TemporaryDirectory() as tmp:
    for name, data in [("text", text), ("noise", noise), ("runs", runs), ("binary", binary)]:
        with open(os.path.join(tmp, name), "wb") as f:
            f.write(data)
        for lc, lp, pb, dictionary in [(3, 0, 2, 1 << 12), (0, 2, 0, 1 << 16), (4, 0, 4, 1 << 20),
                                       (1, 1, 1, 1 << 26), (8, 4, 2, 1 << 16)]:
            archive = os.path.join(tmp, "seed.7z")
            if os.path.exists(archive):
                os.remove(archive)
            method = f"-m0=LZMA:d={dictionary}b:lc={lc}:lp={lp}:pb={pb}"
            subprocess.run(["7z", "a", "-t7z", method, "-mhc=off", "-mf=off", archive, name], cwd=tmp,
                           check=True, stdout=subprocess.DEVNULL)
            with open(archive, "rb") as f:
                whole = f.read()
            stream = whole[32:32 + struct.unpack("<Q", whole[12:20])[0]]
            seeds[f"nomarker-{name}-lc{lc}-lp{lp}-pb{pb}-d{dictionary >> 10}k"] = (
                struct.pack("<I", len(data)) + member(lc, lp, pb, dictionary, stream))

for name, data in seeds.items():
    assert len(data) <= 65536, name
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)
print(f"{len(seeds)} seeds in {here}")
