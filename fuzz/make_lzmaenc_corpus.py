#!/usr/bin/env python3
# Writes the LZMA encoder fuzzer's seed corpus (fuzz/lzmaenc-corpus): 8 bytes of
# settings (see lzmaenc_fuzzer.cpp), then a payload, for both formats, each way
# of making the data, the default and odd lc/lp/pb, small dictionaries, short
# nice lengths and pieces, and LZMA2 member ends.
import os
import random
import shutil
import struct

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lzmaenc-corpus")
shutil.rmtree(here, ignore_errors=True)
os.makedirs(here)
rng = random.Random(1)
text = b" ".join(rng.choice([b"range", b"coder", b"literal", b"match", b"rep0", b"\n"]) for _ in range(2000))
noise = bytes(rng.randrange(256) for _ in range(6000))
binary = bytes(rng.choice([0, 0, 0x8B, 0xC3, 0x48, rng.randrange(256)]) for _ in range(8000))
program = bytes(rng.choice([0x05, 0x81, 0x10, 0x00, 0x7F, 0x90, 0xFF, 0x20]) for _ in range(3000))
payloads = {"text": text, "noise": noise, "binary": binary, "program": program, "empty": b"", "byte": b"x"}


def seed(name, payload, lzma2=0, mode=0, lc=3, lp=0, pb=2, dict_shift=0, nice=255, depth=255, piece=4095, flush_kib=0):
    settings = bytes([lzma2 | mode << 1, lc + 5 * lp, pb | dict_shift << 4, nice, depth]) + struct.pack(
        "<H", piece) + bytes([flush_kib])
    with open(os.path.join(here, name), "wb") as f:
        f.write(settings + payload)


for name, payload in payloads.items():
    for lzma2 in (0, 1):
        seed(f"{name}-{'lzma2' if lzma2 else 'lzma1'}", payload, lzma2)
for mode, name in ((1, "copies"), (2, "program"), (3, "runs")):
    for lzma2 in (0, 1):
        seed(f"{name}-{'lzma2' if lzma2 else 'lzma1'}", binary[:3000], lzma2, mode)
seed("lc0-lp4-pb0", text, 0, 0, lc=0, lp=4, pb=0)
seed("lc4-pb4-lzma2", binary, 1, 0, lc=4, lp=0, pb=4)
seed("nice8-depth1", text, 0, 1, nice=0, depth=0, piece=6)
seed("pieces-of-1", text[:2000], 1, 0, piece=0)
seed("dict-past-4k", binary, 0, 1, dict_shift=0)
seed("members-lzma2", binary, 1, 1, flush_kib=3)
seed("members-noise-lzma2", noise, 1, 0, flush_kib=1)
