#!/usr/bin/env python3
"""make_icon.py -- draws the stub's icon (an open box with a green arrow going in)
and writes it as unzip.ico with a 16x16 and a 32x32 image. The drawing has six
colours and hard edges, so each image is stored with a 16-colour palette and an
AND mask for transparency: a quarter of the bytes of 32-bit pixels, the same look.

Run from anywhere: python3 make_icon.py [output.ico]. The shapes are defined on a
32-unit grid and sampled at each size, so both images come from one drawing."""
import os
import struct
import sys

BOX_FRONT = (176, 122, 64)      # cardboard
BOX_SIDE = (140, 92, 44)
BOX_INSIDE = (92, 58, 26)
OUTLINE = (60, 38, 18)
ARROW = (40, 160, 60)
ARROW_EDGE = (20, 96, 36)


def inside_polygon(x, y, points):
    """Even-odd rule for a point against a closed polygon."""
    hit = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


# Layers from back to front, on the 32-unit grid.
SHAPES = [
    (BOX_INSIDE, [(5, 14), (27, 14), (24, 10), (8, 10)]),          # opening of the box
    (BOX_SIDE, [(5, 14), (8, 10), (2, 10), (0, 15)]),              # left flap
    (BOX_SIDE, [(27, 14), (24, 10), (30, 10), (32, 15)]),          # right flap
    (BOX_FRONT, [(5, 14), (27, 14), (27, 30), (5, 30)]),           # front
    (ARROW, [(13, 1), (19, 1), (19, 12), (24, 12), (16, 21), (8, 12), (13, 12)]),
]
EDGES = {BOX_FRONT: OUTLINE, BOX_SIDE: OUTLINE, BOX_INSIDE: OUTLINE, ARROW: ARROW_EDGE}


def layer_at(size, px, py):
    """Index of the front-most layer covering most of the pixel (4x4 samples); -1 for none."""
    scale = 32.0 / size
    hits = {}
    for sy in range(4):
        for sx in range(4):
            x = (px + (sx + 0.5) / 4) * scale
            y = (py + (sy + 0.5) / 4) * scale
            top = max((i for i, (_, points) in enumerate(SHAPES) if inside_polygon(x, y, points)), default=-1)
            hits[top] = hits.get(top, 0) + 1
    return max(hits, key=lambda k: (hits[k], k))


def colours(size):
    """RGBA per pixel, row by row from the top. A pixel whose neighbour shows a layer
    further back (or nothing) is drawn in its layer's edge colour: a one-pixel outline
    at every size."""
    layers = [[layer_at(size, px, py) for px in range(size)] for py in range(size)]
    result = []
    for py in range(size):
        row = []
        for px in range(size):
            layer = layers[py][px]
            if layer < 0:
                row.append(None)
                continue
            colour = SHAPES[layer][0]
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                nx, ny = px + dx, py + dy
                behind = -1 if not (0 <= nx < size and 0 <= ny < size) else layers[ny][nx]
                if behind < layer and (behind < 0 or SHAPES[behind][0] != colour):
                    colour = EDGES[colour]
                    break
            row.append(colour + (255,))
        result.append(row)
    return result


PALETTE = [(0, 0, 0)] + sorted(set(EDGES) | set(EDGES.values()))


def image(size):
    """One ICO image: BITMAPINFOHEADER, 16-colour palette, bottom-up 4-bit pixels, AND mask."""
    pixels = colours(size)
    rows = []
    mask = []
    for py in reversed(range(size)):
        indexes = [0 if c is None else PALETTE.index(c[:3]) for c in pixels[py]]
        row = bytes((indexes[i] << 4) | indexes[i + 1] for i in range(0, size, 2))
        rows.append(row + bytes(-len(row) % 4))
        packed = bytearray(((size + 31) // 32) * 4)
        for i, c in enumerate(pixels[py]):
            if c is None:
                packed[i // 8] |= 0x80 >> (i % 8)
        mask.append(bytes(packed))
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE) + bytes(4 * (16 - len(PALETTE)))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    return header + palette + b"".join(rows) + b"".join(mask)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "unzip.ico")
    images = [(16, image(16)), (32, image(32))]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        data += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    data += b"".join(blob for _, blob in images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
