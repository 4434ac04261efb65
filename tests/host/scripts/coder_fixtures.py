#!/usr/bin/python3
# Writes the coder fixtures into the directory given: data coded by zlib,
# Pillow and libtiff, the independent references for the coder functions.
import io
import struct
import sys
import zlib

from PIL import Image

out = sys.argv[1]


def put(name, data):
    with open(out + "/" + name, "wb") as f:
        f.write(data)


# Deterministic bytes with runs and noise.
seed = 12345
raw = bytearray()
for i in range(5000):
    seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
    raw.append((seed >> 16) & 0xFF if i % 7 else i % 256)
raw = bytes(raw) + b"\x00" * 3000
put("raw.bin", raw)
put("raw.zlib", zlib.compress(raw, 6))
c = zlib.compressobj(9, zlib.DEFLATED, -15)
put("raw.deflate", c.compress(raw) + c.flush())


def png_rows(im):
    """The filtered rows of a Pillow-written PNG: IDAT inflated."""
    buf = io.BytesIO()
    im.save(buf, "PNG")
    data = buf.getvalue()
    pos, idat = 8, b""
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if kind == b"IDAT":
            idat += data[pos + 8:pos + 8 + n]
        pos += 12 + n
    return zlib.decompress(idat)


# A gray and an RGB picture with gradients and noise, so Pillow's adaptive
# filtering picks several filter types.
gray = Image.new("L", (37, 23))
rgb = Image.new("RGB", (19, 11))
for y in range(23):
    for x in range(37):
        gray.putpixel((x, y), (x * 7 + y * 3 + ((x * y * 31) % 17)) & 0xFF)
for y in range(11):
    for x in range(19):
        rgb.putpixel((x, y), ((x * 13) & 0xFF, (y * 23) & 0xFF, ((x ^ y) * 11) & 0xFF))
for name, im in (("gray", gray), ("rgb", rgb)):
    put(name + ".filtered", png_rows(im))
    put(name + ".pixels", im.tobytes())


# Each PNG filter type applied by hand to the gray picture's rows.
def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


w, h = gray.size
px = gray.tobytes()
for t in range(5):
    o = bytearray()
    for y in range(h):
        row = px[y * w:(y + 1) * w]
        prev = px[(y - 1) * w:y * w] if y else bytes(w)
        o.append(t)
        for i in range(w):
            a = row[i - 1] if i else 0
            b = prev[i]
            c = prev[i - 1] if i else 0
            pred = [0, a, b, (a + b) // 2, paeth(a, b, c)][t]
            o.append((row[i] - pred) & 0xFF)
    put("gray.filter%d" % t, bytes(o))


def strip(im, compression):
    """The one strip of a libtiff-written TIFF file."""
    buf = io.BytesIO()
    im.save(buf, "TIFF", compression=compression)
    buf.seek(0)
    t = Image.open(buf)
    offsets, counts = t.tag_v2[273], t.tag_v2[279]
    assert len(offsets) == 1
    data = buf.getvalue()
    return data[offsets[0]:offsets[0] + counts[0]]


put("lzw.strip", strip(gray, "tiff_lzw"))
bw = Image.new("1", (61, 29), 1)
for y in range(29):
    for x in range(61):
        if (x - 30) ** 2 + (y - 14) ** 2 < 120 or (x + y) % 13 == 0:
            bw.putpixel((x, y), 0)
put("g4.strip", strip(bw, "group4"))
put("g4.pixels", bw.tobytes())
