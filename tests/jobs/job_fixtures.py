#!/usr/bin/python3
"""Inputs for the job tests and measurements of their outputs.

  job_fixtures.py scan OUT.tif            skewed pages on a sheet-fed scanner's
                                          dark background (page 2 blank) plus one
                                          on a flatbed lid, 150 dpi, multi-page
  job_fixtures.py hocr DIR PAGE WORD...   DIR/page-PAGE.hocr with the words on
                                          one line each
  job_fixtures.py stack OUT.tif BARCODE-PNG...
                                          7 pages: 2 text pages, separator 1,
                                          3 text pages, separator 2, 1 text page
                                          (separators hold the given images)
  job_fixtures.py sheets OUT.tif KINDS BARCODE-PNG...
                                          one page per letter of KINDS: t a text
                                          page, a digit the separator holding that
                                          barcode image (0 the first)
  job_fixtures.py pages OUT.tif N DPI     N skewed text pages on a dark scanner
                                          background, at DPI (benchmark input)
  job_fixtures.py skew PAGE.pgm           the skew of the text lines of a
                                          rendered page, in degrees
  job_fixtures.py small OUT.tif N MODE COMPRESSION
                                          N small text pages (Pillow MODE "L" or
                                          "1") in one file, Pillow's compression
                                          ("tiff_lzw", "raw", ...)
  job_fixtures.py ifds-first OUT.tif N    N small uncompressed gray pages with
                                          every IFD before the first strip
  job_fixtures.py cut IN.tif OUT.tif PERCENT
                                          the first PERCENT % of IN's bytes; prints
                                          the first page (from 1) that OUT does
                                          not hold whole (its IFD or a strip runs
                                          past the end), 0 when none
"""
import struct
import random
import sys

import numpy as np
from PIL import Image, ImageDraw

DPI = 150
A4 = (int(8.27 * DPI), int(11.69 * DPI))


def text_page(seed, lines=True):
    """A white page with lines of dark word blocks inside one-inch margins."""
    rnd = random.Random(seed)
    page = Image.new("L", A4, 250)
    if not lines:
        return page
    d = ImageDraw.Draw(page)
    left, right = DPI, A4[0] - DPI
    y = int(1.2 * DPI)
    line_h, step = int(0.11 * DPI), int(0.22 * DPI)
    d.rectangle([left, y, left + (right - left) // 2, y + 2 * line_h], fill=20)
    y += 2 * step
    while y + line_h < A4[1] - DPI:
        x = left
        while True:
            w = int(DPI * (0.15 + rnd.random() * 0.5))
            if x + w > right:
                break
            d.rectangle([x, y, x + w, y + line_h], fill=15 + rnd.randrange(30))
            x += w + int(0.08 * DPI)
        y += step
    return page


def on_background(page, angle, background):
    """The page turned by `angle` degrees (counter-clockwise) and laid on a
    background a quarter inch wider on every side."""
    turned = page.convert("L").rotate(angle, resample=Image.BILINEAR, expand=True, fillcolor=0)
    mask = Image.new("L", page.size, 255).rotate(angle, resample=Image.BILINEAR, expand=True,
                                                 fillcolor=0)
    margin = DPI // 4
    out = Image.new("L", (turned.width + 2 * margin, turned.height + 2 * margin), background)
    out.paste(turned, (margin, margin), mask)
    return out


def save_pages(path, pages):
    pages[0].save(path, save_all=True, append_images=pages[1:], dpi=(DPI, DPI),
                  compression="tiff_lzw")


def scan(path):
    save_pages(path, [
        on_background(text_page(1), 2.0, 35),
        on_background(text_page(2, lines=False), 1.0, 35),
        on_background(text_page(3), -1.5, 35),
        on_background(text_page(4), 1.2, 215),  # a flatbed's light grey lid
    ])


def pages(path, count, dpi):
    global DPI, A4
    DPI, A4 = dpi, (int(8.27 * dpi), int(11.69 * dpi))
    save_pages(path, [on_background(text_page(100 + i), ((i * 7) % 9 - 4) * 0.5, 35)
                      for i in range(count)])


def hocr(directory, page, words):
    spans = []
    x = DPI
    for i, w in enumerate(words):
        width = 40 * len(w)
        spans.append(f"<span class='ocrx_word' id='word_{i}' title='bbox {x} {DPI} {x + width} "
                     f"{DPI + 30}'>{w}</span>")
        x += width + 30
    with open(f"{directory}/page-{page}.hocr", "w") as f:
        f.write("<html><body><div class='ocr_page' title='bbox 0 0 %d %d'>"
                "<span class='ocr_line' title='bbox %d %d %d %d'>%s</span></div></body></html>\n"
                % (A4[0], A4[1], DPI, DPI, x, DPI + 30, " ".join(spans)))


def stack(path, barcodes, kinds=("t", "t", 0, "t", "t", "t", 1, "t")):
    pages = []
    seed = 10
    for kind in kinds:
        if kind == "t":
            seed += 1
            pages.append(text_page(seed))
        else:
            sep = text_page(0, lines=False)
            code = Image.open(barcodes[kind]).convert("L")
            sep.paste(code, (DPI, 2 * DPI))
            pages.append(sep)
    save_pages(path, pages)


def skew(path):
    """Projection profiles of the dark pixels over a range of angles: the
    angle whose profile is most concentrated is the one that makes the lines
    level."""
    img = np.asarray(Image.open(path).convert("L"))
    ys, xs = np.nonzero(img < 128)
    if len(xs) == 0:
        print("nan")
        return
    xs = xs - img.shape[1] / 2.0
    best, best_score = 0.0, -1.0
    for a in np.arange(-4.0, 4.0001, 0.02):
        t = np.tan(np.radians(a))
        # each pixel shared between the two rows it falls between, so that
        # no angle gains from rounding
        pos = ys + xs * t
        pos -= pos.min()
        low = np.floor(pos).astype(np.int64)
        frac = pos - low
        n = int(low.max()) + 2
        profile = np.bincount(low, 1.0 - frac, n) + np.bincount(low + 1, frac, n)
        score = float(np.sum(profile ** 2))
        if score > best_score:
            best, best_score = a, score
    print("%.3f" % best)


def small_page(seed, mode="L"):
    page = text_page(seed).resize((A4[0] // 4, A4[1] // 4))
    return page.point(lambda v: 255 if v > 128 else 0).convert("1") if mode == "1" else page


def small(path, count, mode, compression):
    pages = [small_page(200 + i, mode) for i in range(count)]
    pages[0].save(path, save_all=True, append_images=pages[1:], dpi=(DPI, DPI),
                  compression=compression)


def ifds_first(path, count):
    """Little-endian, every IFD (9 entries, no values stored elsewhere) right
    after the header, the strips after them."""
    pages = [small_page(300 + i) for i in range(count)]
    entries = 9
    ifd_size = 2 + 12 * entries + 4
    data_at = 8 + count * ifd_size
    out = bytearray(b"II*\0" + struct.pack("<I", 8))
    strips = bytearray()
    for i, page in enumerate(pages):
        w, h = page.size
        offset = data_at + len(strips)
        strips += page.tobytes()
        tags = [(256, 4, w), (257, 4, h), (258, 3, 8), (259, 3, 1), (262, 3, 1),
                (273, 4, offset), (277, 3, 1), (278, 4, h), (279, 4, w * h)]
        out += struct.pack("<H", entries)
        for tag, typ, value in tags:
            out += struct.pack("<HHI", tag, typ, 1)
            out += struct.pack("<HH", value, 0) if typ == 3 else struct.pack("<I", value)
        last = i == count - 1
        out += struct.pack("<I", 0 if last else 8 + (i + 1) * ifd_size)
    with open(path, "wb") as f:
        f.write(out + strips)


def first_page_lost(data, size):
    """Walks the chain of a TIFF file whole in `data` as if it ended at
    `size`: the first page (from 1) whose IFD or strips pass that end."""
    end = "<" if data[:2] == b"II" else ">"
    sizes = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 6: 1, 7: 1, 8: 2, 9: 4, 10: 8, 11: 4, 12: 8}
    codes = {1: "B", 3: "H", 4: "I"}
    ifd, page = struct.unpack(end + "I", data[4:8])[0], 1
    while ifd:
        n = struct.unpack(end + "H", data[ifd:ifd + 2])[0]
        if ifd + 2 + 12 * n + 4 > size:
            return page
        values = {}
        for k in range(n):
            e = ifd + 2 + 12 * k
            tag, typ, count = struct.unpack(end + "HHI", data[e:e + 8])
            if tag not in (273, 279, 324, 325):
                continue
            length = sizes[typ] * count
            at = e + 8 if length <= 4 else struct.unpack(end + "I", data[e + 8:e + 12])[0]
            if at + length > size:
                return page
            values[tag] = struct.unpack(end + codes[typ] * count, data[at:at + length])
        offsets = values.get(324, values.get(273, ()))
        counts = values.get(325, values.get(279, ()))
        if any(o + c > size for o, c in zip(offsets, counts)):
            return page
        ifd = struct.unpack(end + "I", data[ifd + 2 + 12 * n:ifd + 6 + 12 * n])[0]
        page += 1
    return 0


def cut(source, target, percent):
    with open(source, "rb") as f:
        data = f.read()
    size = len(data) * percent // 100
    with open(target, "wb") as f:
        f.write(data[:size])
    print(first_page_lost(data, size))


def main():
    cmd = sys.argv[1]
    if cmd == "scan":
        scan(sys.argv[2])
    elif cmd == "pages":
        pages(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    elif cmd == "hocr":
        hocr(sys.argv[2], int(sys.argv[3]), sys.argv[4:])
    elif cmd == "stack":
        stack(sys.argv[2], sys.argv[3:])
    elif cmd == "sheets":
        stack(sys.argv[2], sys.argv[4:], [k if k == "t" else int(k) for k in sys.argv[3]])
    elif cmd == "skew":
        skew(sys.argv[2])
    elif cmd == "small":
        small(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5])
    elif cmd == "ifds-first":
        ifds_first(sys.argv[2], int(sys.argv[3]))
    elif cmd == "cut":
        cut(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
