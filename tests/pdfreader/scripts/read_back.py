"""Pages for the read-back tests, and their comparison.

  read_back.py page KIND W H OUT   a W x H px scan at 300 dpi (KIND gray or rgb): white with
                                   rectangles of other shades, their edges on any pixel
  read_back.py same A B            exit 0 when the images A and B have the same size and
                                   pixels; else says how many pixels differ
"""
import random
import sys

import numpy
from PIL import Image


def page(kind, w, h, out):
    rnd = random.Random(52)
    mode = "L" if kind == "gray" else "RGB"
    a = numpy.full((h, w) if mode == "L" else (h, w, 3), 255, numpy.uint8)
    for _ in range(60):
        x0, y0 = rnd.randrange(w), rnd.randrange(h)
        x1 = min(w, x0 + rnd.randrange(1, w // 3 + 2))
        y1 = min(h, y0 + rnd.randrange(1, h // 3 + 2))
        shade = rnd.randrange(256) if mode == "L" else [rnd.randrange(256) for _ in range(3)]
        a[y0:y1, x0:x1] = shade
    Image.fromarray(a, mode).save(out, dpi=(300, 300))


def same(a, b):
    x = numpy.asarray(Image.open(a))
    y = numpy.asarray(Image.open(b))
    if x.shape != y.shape:
        print("sizes differ: %s and %s" % (x.shape, y.shape))
        return 1
    n = int(numpy.any((x != y).reshape(x.shape[0], x.shape[1], -1), axis=2).sum())
    if n:
        print("%d pixels differ" % n)
    return 1 if n else 0


def main():
    if sys.argv[1] == "page":
        page(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5])
        return 0
    return same(sys.argv[2], sys.argv[3])


if __name__ == "__main__":
    sys.exit(main())
