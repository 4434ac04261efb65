#!/usr/bin/python3
"""Scans that --deskew meets, and measurements of what it made of them.

  deskew_cases.py make CASE OUT        the scan of CASE (150 dpi; PNG or TIFF)
  deskew_cases.py check CASE PAGE.png  measures the page as written and prints
                                       what is wrong with it (exit status 1)
  deskew_cases.py check sheet|blank PAGE.png REF.png
                                       the same for a page whose sheet, as
                                       scanned straight without background,
                                       is REF
  deskew_cases.py list                 the case names

Text lines are counted on the sheet before it was laid on the scanner;
measured on the output: text lines (runs of rows holding print), dark rows
or columns at each edge, residual skew by projection profile.
"""
import os
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import job_fixtures as jf  # noqa: E402

DPI = jf.DPI
BG = 35

# name: (sheet seed or None for a blank sheet, angle, how the scan frames it,
#        what must come out)
CASES = {
    "white-page": (21, 0.0, "none", "kept"),
    "off-bottom": (22, 0.0, "bottom", "sheet"),
    "off-bottom-right": (23, 0.0, "bottom-right", "sheet"),
    "off-bottom-2": (24, 2.0, "bottom", "sheet"),
    "off-bottom-right-2": (25, -2.0, "bottom-right", "sheet"),
    "framed-minus-3": (26, -3.0, "framed", "sheet"),
    "blank": (None, 1.0, "framed", "blank"),
}


def sheet(seed):
    return jf.text_page(seed if seed is not None else 0, lines=seed is not None)


def scan(name):
    seed, angle, frame, _ = CASES[name]
    page = sheet(seed)
    if frame == "none":
        return page
    out = jf.on_background(page, angle, BG)
    if frame == "framed":
        return out
    # the scan window ends inside the sheet's bottom margin (and its right
    # margin): the sheet runs off there
    m = DPI // 4
    w, h = out.size
    cut_y = h - m - int(0.45 * DPI)
    cut_x = w - m - int(0.45 * DPI) if "right" in frame else w
    return out.crop((0, 0, cut_x, cut_y))


def text_lines(gray):
    """Runs of at least 3 rows of which more than 2% of the pixels are print,
    between the white margins (the outermost 3% of rows and columns left
    out, where background would stand)."""
    h, w = gray.shape
    inner = gray[:, int(0.03 * w):w - int(0.03 * w)]
    rows = (inner < 100).mean(axis=1) > 0.02
    rows[:int(0.03 * h)] = False
    rows[h - int(0.03 * h):] = False
    runs, n = 0, 0
    for r in rows:
        n = n + 1 if r else 0
        if n == 3:
            runs += 1
    return runs


def dark_edges(gray):
    """Rows or columns from each edge inwards in which more than 5% of the
    pixels are dark: background left on the page."""
    dark = gray < 100
    out = {}
    for name, lines in (("top", dark), ("bottom", dark[::-1]), ("left", dark.T),
                        ("right", dark.T[::-1])):
        n = 0
        while n < len(lines) and lines[n].mean() > 0.05:
            n += 1
        out[name] = n
    return out


def skew(gray):
    """The angle (degrees) whose projection profile of the print is most
    concentrated, to 0.01 degree."""
    h, w = gray.shape
    m = int(0.05 * min(w, h))
    ys, xs = np.nonzero(gray[m:h - m, m:w - m] < 100)
    ys, xs = ys[::5], xs[::5]  # a fifth of the print tells the angle as well
    if len(xs) == 0:
        return 0.0
    xs = xs - w / 2.0

    def score(a):
        pos = ys + xs * np.tan(np.radians(a))
        pos -= pos.min()
        low = np.floor(pos).astype(np.int64)
        frac = pos - low
        n = int(low.max()) + 2
        p = np.bincount(low, 1.0 - frac, n) + np.bincount(low + 1, frac, n)
        return float(np.sum(p ** 2))

    best = max(np.arange(-3.0, 3.0001, 0.1), key=score)
    return float(max(np.arange(best - 0.1, best + 0.1001, 0.01), key=score))


def check(name, path, ref_path=None):
    seed, _, frame, expect = CASES[name] if name in CASES else (None, 0, "", name)
    out = np.asarray(Image.open(path).convert("L"))
    h, w = out.shape
    problems = []
    facts = "%dx%d" % (w, h)
    if expect == "kept":
        src = np.asarray(scan(name).convert("L"))
        if out.shape != src.shape:
            problems.append("size %s, not %dx%d" % (facts, src.shape[1], src.shape[0]))
        elif np.abs(out.astype(int) - src).max() > 16:
            # the page as it was, bar the PDF's lossy storage
            problems.append("pixels changed")
        if text_lines(out) != text_lines(src):
            problems.append("%d text lines, not %d" % (text_lines(out), text_lines(src)))
    else:
        edges = dark_edges(out)
        facts += " dark edges %s" % edges
        for side, n in edges.items():
            if n > 3:
                problems.append("%d dark lines at the %s" % (n, side))
        ref = np.asarray(Image.open(ref_path).convert("L") if ref_path else sheet(seed))
        if expect == "blank":
            # the sheet's size, within a few pixels
            if abs(w - ref.shape[1]) > 6 or abs(h - ref.shape[0]) > 6:
                problems.append("size %dx%d, not the sheet's %dx%d" % (w, h, ref.shape[1],
                                                                      ref.shape[0]))
        else:
            lines, want = text_lines(out), text_lines(ref)
            a = skew(out)
            facts += " %d lines, skew %.2f" % (lines, a)
            if lines != want:
                problems.append("%d text lines, not %d" % (lines, want))
            if abs(a) > 0.15:
                problems.append("residual skew %.2f degrees" % a)
            # no print lost: as much print as on the sheet, give or take
            # what the turn blurs
            ink, want_ink = int((out < 100).sum()), int((ref < 100).sum())
            if abs(ink - want_ink) > 0.03 * want_ink:
                problems.append("%d dark pixels, the sheet has %d" % (ink, want_ink))
    print(name + ": " + facts)
    for p in problems:
        print(name + ": " + p)
    return not problems


def main():
    cmd = sys.argv[1]
    if cmd == "list":
        print(" ".join(CASES))
    elif cmd == "make":
        scan(sys.argv[2]).save(sys.argv[3], dpi=(DPI, DPI))
    elif cmd == "check":
        sys.exit(0 if check(*sys.argv[2:5]) else 1)
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
