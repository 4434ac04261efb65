#!/usr/bin/python3
"""Scans that --deskew meets, and measurements of what it made of them.

  deskew_cases.py make CASE OUT        the scan of CASE (PNG or TIFF)
  deskew_cases.py check CASE PAGE.png  measures the page as written and prints
                                       what is wrong with it (exit status 1)
  deskew_cases.py check sheet|whole|blank PAGE.png REF.png
                                       the same for a page whose sheet, as
                                       scanned straight without background,
                                       is REF (whole: the sheet lay whole on
                                       the background, cut at its edges)
  deskew_cases.py list                 the case names
  deskew_cases.py note CASE            what the progress line says of its page
  deskew_cases.py scanner              the cases also fed through the virtual
                                       scanner (its window is 150 dpi and the
                                       size of the sheet)

Text lines are counted on the sheet before it was laid on the scanner;
measured on the output: text lines (runs of rows holding print), dark rows
or columns at each edge, residual skew by projection profile.
"""
import os
import sys

import numpy as np
from PIL import Image, ImageDraw

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

# Sheets whose own print is about as dark as the background and reaches one
# of their edges, and sheets on a light-gray background turned by a hair:
# name: (seed, angle, background, print level, what reaches an edge, dpi)
DARK = {
    "picture-left-20": (41, 2.0, 20, 30, "picture-left", 150),
    "picture-right-20": (42, -4.0, 20, 25, "picture-right", 150),
    "picture-left-10": (43, -0.5, 10, 20, "picture-left", 300),
    "picture-right-20-300": (44, 0.5, 20, 35, "picture-right", 300),
    "band-top-20": (45, 2.0, 20, 30, "band-top", 150),
    "band-bottom-20": (46, -4.0, 20, 35, "band-bottom", 150),
    "band-top-10": (47, 0.5, 10, 20, "band-top", 300),
    "band-bottom-20-300": (48, -2.0, 20, 25, "band-bottom", 300),
    "picture-left-22-0.1": (52, 0.1, 20, 22, "picture-left", 150),
    "light-gray-0.05": (49, 0.05, 200, 0, "none", 150),
    "light-gray-minus-0.08": (50, -0.08, 200, 0, "none", 150),
    "light-gray-minus-0.30": (51, -0.3, 200, 0, "none", 150),
}


# Sheets under a full-width band of print at about the background's own
# level, its edge lost in the background, light marks in the band (a title
# in white letters, white rings in a photograph over the lower half): the
# page comes out whole, either cut at the sheet's edges or kept as scanned.
# name: (seed, angle, background, band level, band, dpi)
LEVEL = {
    "level-header-minus-4": (61, 0.3, 20, 16, "band-top", 150),
    "level-header-0": (62, -2.0, 20, 20, "band-top", 150),
    "level-header-plus-3": (63, 1.0, 20, 23, "band-top", 150),
    "level-footer-minus-2": (64, -0.5, 20, 18, "band-bottom", 150),
    "level-footer-plus-1": (65, 2.0, 20, 21, "band-bottom", 150),
    "level-lower-half-0": (66, 0.3, 20, 20, "lower-half", 150),
    "level-lower-half-plus-2": (67, 0.0, 20, 22, "lower-half", 150),
    "level-lower-half-minus-4": (68, -1.0, 20, 16, "lower-half", 150),
}

# Scanner backgrounds whose level drifts from the top of the scan to its
# bottom, with the sensor's noise: name: (seed, angle, top level, bottom
# level, noise seed)
DRIFT = {
    "drift-16-24": (71, 0.0, 16, 24, 1),
    "drift-24-16": (72, 1.0, 24, 16, 2),
    "drift-15-27": (73, -1.0, 15, 27, 3),
    "drift-27-15": (74, 0.0, 27, 15, 4),
    "drift-15-35": (75, 2.0, 15, 35, 5),
    "drift-35-15": (76, -1.5, 35, 15, 6),
    "drift-16-24-seed-7": (77, 0.4, 16, 24, 7),
    "drift-35-15-seed-8": (78, 0.0, 35, 15, 8),
}

# Sheets turned by a hair, their edges blurred as a scanner's sensor
# blurs them (or hard, drawn without blur: under a pixel's shift along a
# side the angle cannot be told, and the line must not call the sheet
# straight), and what the progress line must say:
# name: (seed, angle, dpi[, "hard"])
TINY = {
    "tiny-0.03": (81, 0.03, 150),
    "tiny-minus-0.04": (82, -0.04, 150),
    "tiny-0.08": (83, 0.08, 150),
    "tiny-0.30": (84, 0.3, 150),
    "tiny-0.03-300": (85, 0.03, 300),
    "tiny-minus-0.08-300": (86, -0.08, 300),
    "hard-0.04": (87, 0.04, 150, "hard"),
    "hard-minus-0.02-200": (88, -0.02, 200, "hard"),
}


# Sheets on gray and light backgrounds (a sheet-fed scanner's gray backing,
# a lid that is not white), their edges soft as a sensor blurs them: plain
# sheets, and sheets under full-width print within 8 levels of the
# background carrying light marks (a title in a header or footer band, rings
# in a photograph over the lower half); photographs within the tolerance of
# a dark background (hard-edged, as drawn) over sheets turned by a hair,
# whose sides show only above the photograph.
# name: (seed, angle, background, band level or None, band, dpi)
GRAY = {
    "gray-100": (91, 1.5, 100, None, "none", 150),
    "gray-130": (92, -1.5, 130, None, "none", 150),
    "gray-160": (93, 1.5, 160, None, "none", 150),
    "gray-200": (94, -0.7, 200, None, "none", 150),
    "gray-225": (95, 1.5, 225, None, "none", 150),
    "level-gray-100-footer-plus-8": (96, 1.5, 100, 108, "band-bottom", 150),
    "level-gray-130-header-minus-8": (97, -1.5, 130, 122, "band-top", 150),
    "level-gray-160-lower-half-plus-8": (98, 1.5, 160, 168, "lower-half", 150),
    "level-gray-200-both-minus-8": (99, 1.5, 200, 192, "band-both", 150),
    "level-gray-225-footer-minus-8": (100, -1.5, 225, 217, "band-bottom", 150),
    "level-gray-200-lower-half-plus-8-300": (101, 1.5, 200, 208, "lower-half", 300),
    # the band's light marks found as a side at an angle of their own
    "level-gray-100-header-plus-8-minus-0.5": (507, -0.5, 100, 108, "band-top", 150),
    "level-gray-225-header-plus-8-minus-0.5": (583, -0.5, 225, 233, "band-top", 150),
    "level-gray-130-lower-half-plus-8-minus-0.5": (538, -0.5, 130, 138, "lower-half", 150),
    "lower-half-0.08": (102, 0.08, 20, 18, "lower-half", 150),
    "lower-half-minus-0.12-200": (103, -0.12, 20, 22, "lower-half", 200),
    "lower-half-0.15": (104, 0.15, 20, 16, "lower-half", 150),
}


def angle_note(angle):
    """The progress line's words for a sheet cut out at `angle` degrees."""
    text = "%.2f degrees" % angle
    if abs(angle) <= 0.05:
        return "cut out; " + text + " left as it is"
    if abs(angle) <= 0.1:
        return "sheared by " + text
    return "straightened by " + text


def note(name):
    """What the progress line says of the page (empty: not checked). A sheet
    under a band that differs from the background may also be kept."""
    if name in GRAY and (GRAY[name][3] is None or GRAY[name][2] == 20):
        return angle_note(GRAY[name][1])
    if name in TINY and len(TINY[name]) > 3:
        # the angle told to the hundredth, or said to be too small to tell
        return "cut out; "
    if name in TINY or name.startswith("light-gray-"):
        return angle_note(TINY[name][1] if name in TINY else DARK[name][1])
    return ""


def on_scanner(page, angle, top, bottom, noise_seed=None, soft=False):
    """The page turned by `angle` degrees on a background a quarter inch
    wider on every side whose level runs from `top` to `bottom` down the
    scan. Pixels on the sheet's edge take the share of paper that they
    cover, as a sensor averages what it sees; `soft` blurs every edge over
    a further pixel or two, as a sensor out of focus does; with a noise
    seed, every sample gets the sensor's noise (1.5 levels)."""
    m = jf.DPI // 4
    turned = page.convert("L").rotate(angle, resample=Image.BILINEAR, expand=True,
                                      fillcolor=int(np.asarray(page)[0, 0]))
    w, h = page.size
    H, W = turned.height + 2 * m, turned.width + 2 * m
    a = np.radians(angle)
    ys, xs = np.mgrid[0:H, 0:W].astype(np.float64)
    X, Y = xs + 0.5 - W / 2.0, ys + 0.5 - H / 2.0
    u, v = X * np.cos(a) - Y * np.sin(a), X * np.sin(a) + Y * np.cos(a)
    cover = np.clip(w / 2.0 - np.abs(u) + 0.5, 0, 1) * np.clip(h / 2.0 - np.abs(v) + 0.5, 0, 1)
    paper = np.zeros((H, W))
    paper[m:m + turned.height, m:m + turned.width] = np.asarray(turned)
    back = np.repeat((top + (bottom - top) * np.arange(H) / (H - 1.0))[:, None], W, axis=1)
    out = paper * cover + back * (1 - cover)
    if soft:
        for axis in (0, 1):
            out = (np.roll(out, 1, axis) + 2 * out + np.roll(out, -1, axis)) / 4
    if noise_seed is not None:
        out += np.random.RandomState(noise_seed).normal(0, 1.5, out.shape)
    return Image.fromarray(np.clip(np.rint(out), 0, 255).astype(np.uint8))


class at_dpi:
    """Pages of the fixtures drawn at another resolution for a while."""

    def __init__(self, dpi):
        self.dpi = dpi

    def __enter__(self):
        self.saved = jf.DPI, jf.A4
        jf.DPI, jf.A4 = self.dpi, (int(8.27 * self.dpi), int(11.69 * self.dpi))

    def __exit__(self, *_):
        jf.DPI, jf.A4 = self.saved


def dark_sheet(name):
    """A text page with a dark picture reaching its left or right edge (light
    shapes in it) or a dark band across its top or bottom (or both) holding
    light text, or a photograph over its lower half with light rings."""
    seed, _, _, level, feature, dpi = DARK.get(name) or LEVEL.get(name) or GRAY[name]
    # marks lighter than the band: paper's level on a light band
    mark = 250 if level is not None and level > 180 else 235
    with at_dpi(dpi):
        page = jf.text_page(seed)
        if feature == "none":
            return page
        d = ImageDraw.Draw(page)
        w, h = page.size
        if feature == "lower-half":
            d.rectangle([0, h // 2, w - 1, h - 1], fill=level)
            for k in range(3):
                cx, cy, r = w * (k + 1) // 4, h * 3 // 4, dpi // 3
                d.ellipse([cx - r, cy - r, cx + r, cy + r], outline=mark + 5, width=dpi // 50)
        elif feature.startswith("picture"):
            x0, x1 = (0, int(0.45 * w)) if feature.endswith("left") else (int(0.55 * w), w - 1)
            y0, y1 = int(0.35 * h), int(0.65 * h)
            for y in range(y0, y1 + 1):
                d.line([x0, y, x1, y], fill=level + (y * 7 // (y1 - y0 + 1)) % 4 * 3 - 4)
            d.ellipse([x0 + (x1 - x0) // 3, y0 + dpi // 3, x0 + (x1 - x0) // 3 + dpi,
                       y0 + dpi // 3 + dpi], fill=150)
            d.rectangle([x0 + (x1 - x0) // 2, y1 - dpi, x1 - dpi // 2, y1 - dpi // 2], fill=90)
        else:
            bh = int(0.8 * dpi)
            for y0 in [0] * (feature != "band-bottom") + [h - bh] * (feature != "band-top"):
                d.rectangle([0, y0, w - 1, y0 + bh - 1], fill=level)
                # two lines of light letters, words of five
                for ty in (y0 + bh // 5, y0 + bh * 3 // 5):
                    x, n = dpi // 2, 0
                    while x + dpi // 20 < w - dpi // 2:
                        d.rectangle([x, ty, x + dpi // 20, ty + dpi // 8], fill=mark)
                        n += 1
                        x += dpi // 20 + (dpi // 40 if n % 5 else dpi // 8)
        return page


def sheet(seed):
    if seed in DARK or seed in GRAY:
        return dark_sheet(seed)
    return jf.text_page(seed if seed is not None else 0, lines=seed is not None)


def plain_sheet(name):
    """The text page of a DRIFT or TINY case."""
    seed = (DRIFT[name] if name in DRIFT else TINY[name])[0]
    with at_dpi(TINY[name][2] if name in TINY else DPI):
        return jf.text_page(seed)


def scan(name):
    if name in GRAY:
        seed, angle, bg, _, _, dpi = GRAY[name]
        with at_dpi(dpi):
            if bg == 20:
                return jf.on_background(dark_sheet(name), angle, bg)
            return on_scanner(dark_sheet(name), angle, bg, bg, seed, soft=True)
    if name in LEVEL:
        _, angle, bg, _, _, dpi = LEVEL[name]
        with at_dpi(dpi):
            return on_scanner(dark_sheet(name), angle, bg, bg, LEVEL[name][0])
    if name in DRIFT:
        _, angle, top, bottom, seed = DRIFT[name]
        return on_scanner(plain_sheet(name), angle, top, bottom, seed)
    if name in TINY:
        _, angle, dpi = TINY[name][:3]
        with at_dpi(dpi):
            if len(TINY[name]) > 3:
                return jf.on_background(plain_sheet(name), angle, 20)
            return on_scanner(plain_sheet(name), angle, 20, 20, TINY[name][0])
    if name in DARK:
        _, angle, bg, _, _, dpi = DARK[name]
        with at_dpi(dpi):
            return jf.on_background(dark_sheet(name), angle, bg)
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


def skew(gray, ink=100):
    """The angle (degrees) whose projection profile of the print (darker
    than `ink`) is most concentrated, to 0.01 degree."""
    h, w = gray.shape
    m = int(0.05 * min(w, h))
    ys, xs = np.nonzero(gray[m:h - m, m:w - m] < ink)
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


def check_dark(name, out):
    """A sheet of DARK, LEVEL, DRIFT or TINY: cut at its edges (on the side of
    a band, as far out as the band reaches), every line of it kept, level
    (a sheet turned by less than 0.1 degree is left at its angle); a sheet
    of LEVEL may also be kept as scanned."""
    if name in DARK or name in LEVEL:
        _, angle, _, _, feature, dpi = DARK[name] if name in DARK else LEVEL[name]
        ref = np.asarray(dark_sheet(name))
    else:
        angle, dpi = (DRIFT[name][1], DPI) if name in DRIFT else TINY[name][1:3]
        feature, ref = "none", np.asarray(plain_sheet(name))
    if name in LEVEL:
        src = np.asarray(scan(name).convert("L"))
        if out.shape == src.shape:
            # kept: the page as it was, bar the PDF's lossy storage
            changed = np.abs(out.astype(int) - src).max() > 16
            return "kept as scanned", ["pixels changed"] if changed else []
    if feature == "lower-half":
        feature = "band-bottom"
        band_rows = ref.shape[0] - ref.shape[0] // 2
    else:
        band_rows = int(0.8 * dpi)
    h, w = out.shape
    rh, rw = ref.shape
    problems = []
    a = skew(out)
    facts = "%dx%d (sheet %dx%d), skew %.2f" % (w, h, rw, rh, a)
    band = feature.startswith("band")
    # the cut runs along the visible edges; beyond a band no further out
    # than the background margin around the sheet
    if abs(w - rw) > 6 or h < rh - 6 or h > rh + (dpi // 4 if band else 6):
        problems.append("size %dx%d, the sheet is %dx%d" % (w, h, rw, rh))
    bh = band_rows
    if band:
        # the band is dark across the whole width: the sides are measured
        # below (above) it, and how far it goes is measured by the size
        cut, rcut = bh + max(0, h - rh), bh
        if feature == "band-top":
            edges, want = dark_edges(out[cut:]), dark_edges(ref[rcut:])
        else:
            edges, want = dark_edges(out[:h - cut]), dark_edges(ref[:rh - rcut])
        del edges[feature[5:]], want[feature[5:]]
    else:
        edges, want = dark_edges(out), dark_edges(ref)
    for side, n in edges.items():
        # dark beyond what the sheet's own print makes dark: background
        if n - want[side] > 3:
            problems.append("%d dark lines at the %s, the sheet has %d" % (n, side, want[side]))
    if text_lines(out) != text_lines(ref):
        problems.append("%d text lines, not %d" % (text_lines(out), text_lines(ref)))
    if abs(a) > (0.02 + (abs(angle) if abs(angle) <= 0.1 else 0) if feature == "none" else 0.15):
        problems.append("residual skew %.2f degrees" % a)
    # print and paper are far apart: half way between them, what the turn
    # blurs counts the same on the sheet and on the page
    ink, want_ink = int((out < 128).sum()), int((ref < 128).sum())
    if band:
        # background merged with the band counts as print there
        ink -= max(0, h - rh) * w
    if abs(ink - want_ink) > 0.03 * want_ink:
        problems.append("%d dark pixels, the sheet has %d" % (ink, want_ink))
    if band:
        # the band's light text, all of it (central columns: the turn may
        # bring white into the corners)
        bh += max(0, h - rh)
        cols = slice(int(0.05 * w), int(0.95 * w))
        rows = slice(0, bh) if feature == "band-top" else slice(h - bh, h)
        rrows = slice(0, band_rows) if feature == "band-top" else slice(rh - band_rows, rh)
        text = int((out[rows, cols] > 128).sum())
        want_text = int((ref[rrows, slice(int(0.05 * rw), int(0.95 * rw))] > 128).sum())
        facts += ", band text %d px (sheet %d)" % (text, want_text)
        # the scan's turn and the straightening blur about a pixel off each
        # letter 8 pixels wide
        if text < 0.85 * want_text:
            problems.append("band text %d px, the sheet's has %d" % (text, want_text))
    return facts, problems


def margins(gray, ink):
    """Rows and columns from each edge to the first that holds print (darker
    than `ink`): where the sheet's print lies on the page."""
    dark = gray < ink
    rows = np.nonzero(dark.sum(axis=1) > 2)[0]
    cols = np.nonzero(dark.sum(axis=0) > 2)[0]
    h, w = gray.shape
    return {"top": int(rows[0]), "bottom": int(h - 1 - rows[-1]), "left": int(cols[0]),
            "right": int(w - 1 - cols[-1])}


def check_gray(name, out):
    """A sheet of GRAY: cut at each of its edges within 3 pixels (measured by
    where its print lies; a side where print reaches the sheet's edge by the
    page's size), level to the hundredth, every mark of its band kept; or,
    under a band on a gray or light background, kept exactly as
    scanned."""
    _, angle, bg, level, feature, dpi = GRAY[name]
    ref = np.asarray(dark_sheet(name))
    src = np.asarray(scan(name).convert("L"))
    if out.shape == src.shape and level is not None and bg != 20:
        # kept: the page as it was, bar the PDF's lossy storage
        changed = np.abs(out.astype(int) - src).max() > 16
        return "kept as scanned", ["pixels changed"] if changed else []
    h, w = out.shape
    rh, rw = ref.shape
    ink = 80  # the text's blocks; bands and backgrounds of 92 and more are paper
    a = skew(out, ink)
    got, want = margins(out, ink), margins(ref, ink)
    # positive: background left at that side; negative: paper lost
    off = {side: got[side] - want[side] for side in got}
    for first, second, size in (("top", "bottom", h - rh), ("left", "right", w - rw)):
        if want[second] == 0:
            off[second] = size - off[first]
        elif want[first] == 0:
            off[first] = size - off[second]
    facts = "%dx%d (sheet %dx%d), cut %s, skew %.2f" % (
        w, h, rw, rh, " ".join("%s %+d" % kv for kv in sorted(off.items())), a)
    problems = []
    for side, n in sorted(off.items()):
        if abs(n) > 3:
            problems.append("%s %d px %s" % (side, abs(n), "of background left" if n > 0
                                                else "of paper lost"))
    if abs(w - rw) > 5 or abs(h - rh) > 5:
        problems.append("size %dx%d, the sheet is %dx%d" % (w, h, rw, rh))
    if abs(a) > 0.02 + (abs(angle) if abs(angle) <= 0.1 else 0):
        problems.append("residual skew %.2f degrees" % a)
    # the text between the bands, all of it: print and paper are far apart,
    # half way between them what the turns blur counts the same on the sheet
    # and on the page
    bh = rh - rh // 2 if feature == "lower-half" else int(0.8 * dpi)
    r0 = bh if feature in ("band-top", "band-both") else 0
    r1 = rh - bh if feature in ("band-bottom", "band-both", "lower-half") else rh
    o0 = max(0, r0 + off["top"])
    have = int((out[o0:o0 + r1 - r0] < 140).sum())
    sheet_ink = int((ref[r0:r1] < 140).sum())
    if abs(have - sheet_ink) > 0.03 * sheet_ink:
        problems.append("%d dark pixels, the sheet has %d" % (have, sheet_ink))
    if level is not None:
        # the band's light marks, all of them, in the same rows (central
        # columns: the turn may bring white into the corners)
        cut = (level + (250 if level > 180 else 235)) // 2
        spans = [(0, bh)] * (feature in ("band-top", "band-both"))
        spans += [(rh - bh, rh)] * (feature in ("band-bottom", "band-both", "lower-half"))
        for r0, r1 in spans:
            o0 = max(0, r0 + off["top"])
            marks = int((out[o0:o0 + r1 - r0, int(0.05 * w):int(0.95 * w)] > cut).sum())
            sheet_marks = int((ref[r0:r1, int(0.05 * rw):int(0.95 * rw)] > cut).sum())
            facts += ", marks %d px (sheet %d)" % (marks, sheet_marks)
            if marks < 0.85 * sheet_marks:
                problems.append("marks %d px, the sheet's band has %d" % (marks, sheet_marks))
    return facts, problems


def check(name, path, ref_path=None):
    if name in GRAY:
        facts, problems = check_gray(name, np.asarray(Image.open(path).convert("L")))
        print(name + ": " + facts)
        for p in problems:
            print(name + ": " + p)
        return not problems
    if name in DARK or name in LEVEL or name in DRIFT or name in TINY:
        facts, problems = check_dark(name, np.asarray(Image.open(path).convert("L")))
        print(name + ": " + facts)
        for p in problems:
            print(name + ": " + p)
        return not problems
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
            # what the turn blurs (half way between print and paper, the
            # blur counts the same on the sheet and on the page)
            ink, want_ink = int((out < 136).sum()), int((ref < 136).sum())
            if abs(ink - want_ink) > 0.03 * want_ink:
                problems.append("%d dark pixels, the sheet has %d" % (ink, want_ink))
            if expect == "whole":
                # a sheet lying whole on the background: cut at each of its
                # edges within 3 pixels, measured by where its print lies
                got, at = margins(out, 136), margins(ref, 136)
                facts += ", cut " + " ".join("%s %+d" % (k, got[k] - at[k]) for k in sorted(got))
                for side in sorted(got):
                    if abs(got[side] - at[side]) > 3:
                        problems.append("cut %+d px at the %s" % (got[side] - at[side], side))
    print(name + ": " + facts)
    for p in problems:
        print(name + ": " + p)
    return not problems


def main():
    cmd = sys.argv[1]
    if cmd == "list":
        print(" ".join(list(CASES) + list(DARK) + list(LEVEL) + list(DRIFT) + list(TINY) +
                       list(GRAY)))
    elif cmd == "note":
        print(note(sys.argv[2]))
    elif cmd == "scanner":
        # the cases whose sheet the virtual scanner's window holds
        print(" ".join(n for n in CASES if n != "blank"))
    elif cmd == "make":
        name = sys.argv[2]
        dpi = (DARK.get(name) or LEVEL.get(name) or GRAY.get(name) or (0, 0, 0, 0, 0, DPI))[5]
        dpi = TINY[name][2] if name in TINY else dpi
        scan(name).save(sys.argv[3], dpi=(dpi, dpi))
    elif cmd == "check":
        sys.exit(0 if check(*sys.argv[2:5]) else 1)
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
