#!/usr/bin/python3
# The drawing of bench_canvas done by cairo: 1,000 glyphs of DejaVu Sans at
# 40 px filled one by one, and a closed 10,000-segment path, on an A4 page
# at 300 dpi, into ARGB32 and 8-bit alpha (gray) surfaces. One run each,
# surface creation not timed.
import math
import time

import cairo

W, H = 2480, 3508
TEXT = "The quick brown fox jumps over the lazy dog. "


def text(ctx):
    ctx.select_font_face("DejaVu Sans")
    ctx.set_font_size(40)
    ctx.set_source_rgb(0.1, 0.1, 0.1)
    count, line = 0, 0
    while count < 1000:
        x = 150.0
        for i in range(50):
            if count >= 1000:
                break
            ch = TEXT[count % len(TEXT)]
            ctx.move_to(x, 200 + line * 60)
            ctx.show_text(ch)
            x += ctx.text_extents(ch).x_advance
            count += 1
        line += 1


def path(ctx):
    n = 10000
    for i in range(n):
        a = 2 * math.pi * i / n
        r = (1100 if i % 2 else 700) + 300 * math.sin(a * 37)
        x, y = W / 2 + r * math.cos(a * 3), H / 2 + r * 1.3 * math.sin(a * 3)
        if i:
            ctx.line_to(x, y)
        else:
            ctx.move_to(x, y)
    ctx.close_path()
    ctx.set_fill_rule(cairo.FILL_RULE_WINDING)
    ctx.set_source_rgb(0.1, 0.1, 0.1)
    ctx.fill()


def timed(name, fmt, draw):
    surface = cairo.ImageSurface(fmt, W, H)
    ctx = cairo.Context(surface)
    ctx.set_source_rgb(1, 1, 1)
    ctx.paint()
    start = time.perf_counter()
    draw(ctx)
    surface.flush()
    print("%-28s %8.2f ms" % (name, (time.perf_counter() - start) * 1000))


timed("cairo text ARGB32", cairo.FORMAT_ARGB32, text)
timed("cairo text A8", cairo.FORMAT_A8, text)
timed("cairo path ARGB32", cairo.FORMAT_ARGB32, path)
timed("cairo path A8", cairo.FORMAT_A8, path)
