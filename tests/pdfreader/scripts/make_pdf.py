"""Writes the PDF documents the tolm page tests read.

  make_pdf.py pages N COUNT OUT [nested]  N pages, the tree's /Count says COUNT
  make_pdf.py colour OUT                  one 611.97 x 791.97 pt page, colour and gray
  make_pdf.py gray OUT                    one page: a gray image and black text marks
  make_pdf.py bomb MB OUT                 the page tree in an object stream inflating to MB MiB
  make_pdf.py calgray OUT                 one page: calibrated gray images (D65 white, inline
                                          and indirect parameters) and black marks
  make_pdf.py direct OUT                  3 pages, two given as dictionaries inside /Kids, their
                                          size inherited from the node above them
  make_pdf.py loop OUT                    3 pages in a page tree whose nodes list their ancestors
  make_pdf.py calspell OUT                one page: an uncompressed gray image and a shown string
                                          whose bytes spell a calibrated gray array
  make_pdf.py calcomments OUT             one page: a calibrated gray image whose colour space
                                          (an object of its own) is written over lines with comments
  make_pdf.py repeated OUT                4 pages: the root lists one node (2 pages) twice
  make_pdf.py deep LEVELS OUT             one page at the end of a chain of LEVELS page-tree nodes
  make_pdf.py endless OUT                 one page whose drawing never ends: forms drawing forms
                                          a thousand times over, down to garbage tokens
  make_pdf.py noisy OUT                   one page drawing the garbage tokens once
  make_pdf.py pageroot OUT                one page that is itself the catalog's /Pages (no node)
  make_pdf.py nopage OUT                  a chain of /Pages nodes ending in a loop; the one page
                                          outside the tree
  make_pdf.py cropout OUT                 4 pages; the crop box of page 2 outside its media box,
                                          page 4's media box 0 pt wide
  make_pdf.py damage HOW IN OUT           IN (a document made here) damaged:
      junk         three lines of junk before the header, offsets counted from the header
      junkline     a line of junk before the header, offsets counted from the file's start
      nostartxref  no number after startxref
      badstartxref startxref leading into the middle of an object
      noxref       no cross-reference table (the trailer kept)
      unlisted     the last object left out of the table
"""
import re
import sys
import zlib


def document(objects, xref_stream=False):
    """Numbers the objects from 1, adds the cross-reference data."""
    out = bytearray(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objects):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % (i + 1) + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


def stream(data, extra=b""):
    return b"<< /Length %d %s>>\nstream\n" % (len(data), extra) + data + b"\nendstream"


def pages(n, count, nested):
    # page i: a black box 50 + 20 i points wide at (36, 36), 50 high
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>"]
    if nested:
        objs.append(b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count %d >>" % count)
        half = n // 2
        first = 5
        kids_a = b" ".join(b"%d 0 R" % (first + 2 * i) for i in range(half))
        kids_b = b" ".join(b"%d 0 R" % (first + 2 * i) for i in range(half, n))
        objs.append(b"<< /Type /Pages /Parent 2 0 R /Kids [%s] /Count %d >>" % (kids_a, half))
        objs.append(b"<< /Type /Pages /Parent 2 0 R /Kids [%s] /Count %d >>" % (kids_b, n - half))
        parents = [3] * half + [4] * (n - half)
    else:
        first = 3
        kids = b" ".join(b"%d 0 R" % (first + 2 * i) for i in range(n))
        objs.append(b"<< /Type /Pages /Kids [%s] /Count %d >>" % (kids, count))
        parents = [2] * n
    for i in range(n):
        content = b"0 0 0 rg 36 36 %d 50 re f\n" % (50 + 20 * i)
        objs.append(b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 300 200] /Contents %d 0 R >>"
                    % (parents[i], first + 2 * i + 1))
        objs.append(stream(content))
    return document(objs)


def colour():
    content = (b"0.9 0.1 0.1 rg 36 36 200 120 re f\n0.5 g 300 400 200 200 re f\n"
               b"0 0 0.8 rg 0 0 612 20 re f\n")
    return document([b"<< /Type /Catalog /Pages 2 0 R >>",
                     b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 611.97 791.97] /Contents 4 0 R >>",
                     stream(content)])


def gray():
    w, h = 200, 100
    pixels = bytes((x + y) % 256 for y in range(h) for x in range(w))
    image = stream(zlib.compress(pixels),
                   b"/Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceGray "
                   b"/BitsPerComponent 8 /Filter /FlateDecode " % (w, h))
    content = b"q 400 0 0 200 50 100 cm /Im0 Do Q 0 g 50 330 100 8 re f\n"
    return document([b"<< /Type /Catalog /Pages 2 0 R >>",
                     b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 500 400] "
                     b"/Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>",
                     stream(content), image])


def calgray():
    w, h = 256, 64
    pixels = bytes(x for y in range(h) for x in range(w))
    cal = b"<< /WhitePoint [0.950455 1 1.08905] /Gamma 2.2 >>"
    image = stream(zlib.compress(pixels),
                   b"/Type /XObject /Subtype /Image /Width %d /Height %d "
                   b"/ColorSpace [/CalGray %s] /BitsPerComponent 8 /Filter /FlateDecode "
                   % (w, h, cal))
    flat = stream(zlib.compress(bytes([128]) * 64),
                  b"/Type /XObject /Subtype /Image /Width 8 /Height 8 "
                  b"/ColorSpace [ /CalGray 7 0 R ] /BitsPerComponent 8 /Filter /FlateDecode ")
    content = (b"q 512 0 0 128 44 200 cm /Im0 Do Q q 100 0 0 100 44 50 cm /Im1 Do Q "
               b"0 g 300 60 100 8 re f\n")
    return document([b"<< /Type /Catalog /Pages 2 0 R >>",
                     b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 400] "
                     b"/Resources << /XObject << /Im0 5 0 R /Im1 6 0 R >> >> /Contents 4 0 R >>",
                     stream(content), image, flat, cal])


def direct():
    # page i: a black box 50 + 20 i points wide; pages 1 and 3 are direct
    # dictionaries inside the kids of node 3, which gives their media box
    def box(i):
        return stream(b"0 0 0 rg 36 36 %d 50 re f\n" % (50 + 20 * i))
    return document([b"<< /Type /Catalog /Pages 2 0 R >>",
                     b"<< /Type /Pages /Kids [3 0 R] /Count 3 >>",
                     b"<< /Type /Pages /Parent 2 0 R /Count 3 /MediaBox [0 0 300 200] /Kids ["
                     b" << /Type /Page /Parent 3 0 R /Contents 5 0 R >> 4 0 R"
                     b" << /Type /Page /Parent 3 0 R /Contents 7 0 R >> ] >>",
                     b"<< /Type /Page /Parent 3 0 R /Contents 6 0 R >>",
                     box(0), box(1), box(2)])


def loop():
    # node 3 lists the root before its pages, node 4 lists itself
    def box(i):
        return stream(b"0 0 0 rg 36 36 %d 50 re f\n" % (50 + 20 * i))
    return document([b"<< /Type /Catalog /Pages 2 0 R >>",
                     b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 3 >>",
                     b"<< /Type /Pages /Parent 2 0 R /Count 2 /Kids [2 0 R 5 0 R 6 0 R] >>",
                     b"<< /Type /Pages /Parent 2 0 R /Count 1 /Kids [4 0 R 7 0 R 3 0 R] >>",
                     b"<< /Type /Page /Parent 3 0 R /MediaBox [0 0 300 200] /Contents 8 0 R >>",
                     b"<< /Type /Page /Parent 3 0 R /MediaBox [0 0 300 200] /Contents 9 0 R >>",
                     b"<< /Type /Page /Parent 4 0 R /MediaBox [0 0 300 200] /Contents 10 0 R >>",
                     box(0), box(1), box(2)])


CAL_TEXT = b"[/CalGray <</Gamma 2.2>>]"


def calspell():
    # 300 x 300 pixels, uncompressed, each row the array's bytes over again;
    # the same bytes shown as a string
    w = h = 300
    row = (CAL_TEXT * (w // len(CAL_TEXT) + 1))[:w]
    pixels = b"".join(row[y % 7:] + row[:y % 7] for y in range(h))
    image = stream(pixels, b"/Type /XObject /Subtype /Image /Width %d /Height %d "
                           b"/ColorSpace /DeviceGray /BitsPerComponent 8 " % (w, h))
    content = (b"q 150 0 0 150 20 20 cm /Im0 Do Q "
               b"BT /F0 11 Tf 20 190 Td (" + CAL_TEXT + b") Tj ET\n")
    return document([b"<< /Type /Catalog /Pages 2 0 R >>",
                     b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 216 216] "
                     b"/Resources << /XObject << /Im0 5 0 R >> /Font << /F0 6 0 R >> >> "
                     b"/Contents 4 0 R >>",
                     stream(content), image,
                     b"<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>"])


def calcomments():
    w, h = 256, 64
    pixels = bytes(x for y in range(h) for x in range(w))
    image = stream(zlib.compress(pixels),
                   b"/Type /XObject /Subtype /Image /Width %d /Height %d "
                   b"/ColorSpace 6 0 R /BitsPerComponent 8 /Filter /FlateDecode " % (w, h))
    cal = (b"[ % a calibrated gray space\n/CalGray % its parameters follow\n"
           b"<< /WhitePoint [0.950455 1 1.08905] % D65\n/Gamma 2.2 >>\n]")
    content = b"q 512 0 0 128 44 200 cm /Im0 Do Q 0 g 300 60 100 8 re f\n"
    return document([b"<< /Type /Catalog /Pages 2 0 R >>",
                     b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 400] "
                     b"/Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>",
                     stream(content), image, cal])


def box(i):
    return stream(b"0 0 0 rg 36 36 %d 50 re f\n" % (50 + 20 * i))


def repeated():
    return document([b"<< /Type /Catalog /Pages 2 0 R >>",
                     b"<< /Type /Pages /Kids [3 0 R 3 0 R] /Count 4 >>",
                     b"<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 5 0 R] /Count 2 >>",
                     b"<< /Type /Page /Parent 3 0 R /MediaBox [0 0 300 200] /Contents 6 0 R >>",
                     b"<< /Type /Page /Parent 3 0 R /MediaBox [0 0 300 200] /Contents 7 0 R >>",
                     box(0), box(1)])


def deep(levels):
    # node k (object k + 2) holds node k + 1; the last one the page
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>"]
    for k in range(levels):
        parent = b"" if k == 0 else b"/Parent %d 0 R " % (k + 1)
        objs.append(b"<< /Type /Pages %s/Kids [%d 0 R] /Count 1 >>" % (parent, k + 3))
    page = levels + 2
    objs.append(b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 300 200] /Contents %d 0 R >>"
                % (page - 1, page + 1))
    objs.append(box(0))
    return document(objs)


def endless(levels=5):
    # form k draws form k + 1 a thousand times; the last shows garbage
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
            b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] "
            b"/Resources << /XObject << /F 5 0 R >> >> /Contents 4 0 R >>",
            stream(b"/F Do\n")]
    for k in range(levels):
        if k + 1 < levels:
            body = b"/F Do " * 1000
            res = b"/Resources << /XObject << /F %d 0 R >> >> " % (k + 6)
        else:
            body = b"".join(b"garbage%06d " % i + b"x" * 200 + b" " for i in range(100))
            res = b""
        objs.append(stream(body, b"/Type /XObject /Subtype /Form /BBox [0 0 200 200] " + res))
    return document(objs)


def noisy():
    return endless(1)


def bomb(mib):
    # Objects 2 (page tree) and 3 (the page) live in object stream 5, which
    # goes on with mib MiB of blanks; a cross-reference stream places them.
    inner = [b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
             b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R >>"]
    header = (b"2 0 3 %d " % (len(inner[0]) + 1)).ljust(64)
    z = zlib.compressobj(9)
    packed = [z.compress(header + inner[0] + b"\n" + inner[1] + b"\n")]
    blank = b" " * 1048576
    for _ in range(mib):
        packed.append(z.compress(blank))
    packed.append(z.flush())
    packed = b"".join(packed)
    content = b"0 0 0 rg 20 20 80 40 re f\n"
    out = bytearray(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    offsets[1] = len(out)
    out += b"1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
    offsets[4] = len(out)
    out += b"4 0 obj\n" + stream(content) + b"\nendobj\n"
    offsets[5] = len(out)
    out += (b"5 0 obj\n<< /Type /ObjStm /N 2 /First 64 /Filter /FlateDecode /Length %d >>\nstream\n"
            % len(packed)) + packed + b"\nendstream\nendobj\n"
    offsets[6] = len(out)
    rows = bytearray()
    entries = {0: (0, 0, 255), 1: (1, offsets[1], 0), 2: (2, 5, 0), 3: (2, 5, 1),
               4: (1, offsets[4], 0), 5: (1, offsets[5], 0), 6: (1, offsets[6], 0)}
    for num in range(7):
        kind, f2, f3 = entries[num]
        rows += bytes([kind]) + f2.to_bytes(4, "big") + bytes([f3])
    out += (b"6 0 obj\n<< /Type /XRef /Size 7 /W [1 4 1] /Root 1 0 R /Length %d >>\nstream\n"
            % len(rows)) + bytes(rows) + b"\nendstream\nendobj\n"
    out += b"startxref\n%d\n%%%%EOF\n" % offsets[6]
    return bytes(out)


def pageroot():
    return document([b"<< /Type /Catalog /Pages 2 0 R >>",
                     b"<< /Type /Page /MediaBox [0 0 300 200] /Contents 3 0 R >>",
                     box(0)])


def nopage():
    # nodes 2 -> 3 -> 4 -> 2; page 5 names node 2 its parent, no node lists it
    return document([b"<< /Type /Catalog /Pages 2 0 R >>",
                     b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     b"<< /Type /Pages /Parent 2 0 R /Kids [4 0 R] /Count 1 >>",
                     b"<< /Type /Pages /Parent 3 0 R /Kids [2 0 R] /Count 1 >>",
                     b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 6 0 R >>",
                     box(0)])


def cropout():
    boxes = [b"/MediaBox [0 0 300 200]", b"/MediaBox [0 0 300 200] /CropBox [400 300 500 400]",
             b"/MediaBox [0 0 300 200]", b"/MediaBox [0 0 0 200]"]
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
            b"<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] /Count 4 >>"]
    for i in range(4):
        objs.append(b"<< /Type /Page /Parent 2 0 R %s /Contents %d 0 R >>" % (boxes[i], 7 + i))
    return document(objs + [box(i) for i in range(4)])


def damage(how, data):
    """A document written by document() (one table, startxref at the end)
    damaged as `how` says."""
    at = data.rindex(b"\nxref\n") + 1
    tail = data.rindex(b"trailer")
    if how == "junk":
        return b"leading junk\n" * 3 + data
    if how == "junkline":
        line = b"a line of junk\n"
        table = re.sub(rb"(\d{10}) 00000 n", lambda m: b"%010d 00000 n" % (int(m.group(1)) + len(line)),
                       data[at:])
        table = re.sub(rb"startxref\n(\d+)", lambda m: b"startxref\n%d" % (int(m.group(1)) + len(line)),
                       table)
        return line + data[:at] + table
    if how == "nostartxref":
        return re.sub(rb"startxref\n\d+\n", b"startxref\n", data)
    if how == "badstartxref":
        return re.sub(rb"startxref\n\d+\n", b"startxref\n%d\n" % (at // 2), data)
    if how == "noxref":
        return data[:at] + data[tail:]
    if how == "unlisted":
        rows = data[at:tail].split(b"\n")
        count = int(rows[1].split()[1])
        rows[1] = b"0 %d" % (count - 1)
        del rows[1 + count]
        table = b"\n".join(rows)
        return data[:at] + table + data[tail:].replace(b"/Size %d" % count, b"/Size %d" % (count - 1))
    sys.exit("unknown damage " + how)


def main():
    kind = sys.argv[1]
    if kind == "pages":
        data = pages(int(sys.argv[2]), int(sys.argv[3]), len(sys.argv) > 5 and sys.argv[5] == "nested")
        out = sys.argv[4]
    elif kind == "colour":
        data, out = colour(), sys.argv[2]
    elif kind == "gray":
        data, out = gray(), sys.argv[2]
    elif kind == "deep":
        data, out = deep(int(sys.argv[2])), sys.argv[3]
    elif kind == "damage":
        with open(sys.argv[3], "rb") as f:
            data, out = damage(sys.argv[2], f.read()), sys.argv[4]
    elif kind in ("calgray", "direct", "loop", "calspell", "calcomments", "repeated", "endless",
                  "noisy", "pageroot", "nopage", "cropout"):
        data, out = globals()[kind](), sys.argv[2]
    elif kind == "bomb":
        data, out = bomb(int(sys.argv[2])), sys.argv[3]
    else:
        sys.exit("unknown kind " + kind)
    with open(out, "wb") as f:
        f.write(data)


main()
