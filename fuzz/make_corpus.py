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
for name, data in seeds.items():
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)
print(f"{len(seeds)} seeds in {here}")
