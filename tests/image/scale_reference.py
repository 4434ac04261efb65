#!/usr/bin/python3
# Independent reference for the box and bilinear scalers, in numpy.
# usage: scale_reference.py (box|bilinear IN.pnm OUT.pnm NEW_W NEW_H)...
import sys
import numpy as np


def read_pnm(path):
    data = open(path, 'rb').read()
    tokens, pos = [], 2
    while len(tokens) < 3:
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        tokens.append(int(data[start:pos]))
    pos += 1
    w, h, maxval = tokens
    ch = 3 if data[1:2] == b'6' else 1
    dt = np.dtype('>u2') if maxval > 255 else np.uint8
    a = np.frombuffer(data, dtype=dt, count=w * h * ch, offset=pos).astype(np.int64)
    return a.reshape(h, w, ch), maxval


def write_pnm(path, a, maxval):
    h, w, ch = a.shape
    head = b'P6' if ch == 3 else b'P5'
    dt = np.dtype('>u2') if maxval > 255 else np.uint8
    with open(path, 'wb') as f:
        f.write(head + b'\n%d %d\n%d\n' % (w, h, maxval))
        f.write(a.astype(dt).tobytes())


def box(src, nw, nh):
    h, w, ch = src.shape
    bx = (np.arange(w, dtype=np.int64) * nw) // w
    by = (np.arange(h, dtype=np.int64) * nh) // h
    out = np.zeros((nh, nw, ch), dtype=np.int64)
    for dy in range(nh):
        rows = src[by == dy]
        for dx in range(nw):
            block = rows[:, bx == dx]
            out[dy, dx] = block.reshape(-1, ch).sum(axis=0) // block.shape[0] // block.shape[1]
    return out


def coords(n_src, n_dst):
    d = np.arange(n_dst, dtype=np.float32)
    f = d * np.float32(n_src - 1) / np.float32(n_dst - 1)
    i0 = np.floor(f).astype(np.int64)
    i1 = np.where(i0 < n_src - 1, i0 + 1, i0)
    wgt = ((f - i0.astype(np.float32)) * np.float32(256)).astype(np.int64)
    return i0, i1, wgt


def bilinear(src, nw, nh):
    h, w, ch = src.shape
    x0, x1, wx = coords(w, nw)
    # rows map as (h - 1) * dy / (nh - 1)
    d = np.arange(nh, dtype=np.float32)
    fy = np.float32(h - 1) * d / np.float32(nh - 1)
    y0 = np.floor(fy).astype(np.int64)
    y1 = np.where(y0 < h - 1, y0 + 1, y0)
    wy = ((fy - y0.astype(np.float32)) * np.float32(256)).astype(np.int64)
    wx = wx[None, :, None]
    wy = wy[:, None, None]
    # all terms are non-negative: floor division truncates
    top = (src[y0][:, x0] * (256 - wx) + src[y0][:, x1] * wx) // 256
    bottom = (src[y1][:, x0] * (256 - wx) + src[y1][:, x1] * wx) // 256
    return (top * (256 - wy) + bottom * wy) // 256


args = sys.argv[1:]
for i in range(0, len(args), 5):
    method, inp, outp, nw, nh = args[i], args[i + 1], args[i + 2], int(args[i + 3]), int(args[i + 4])
    src, maxval = read_pnm(inp)
    out = box(src, nw, nh) if method == 'box' else bilinear(src, nw, nh)
    write_pnm(outp, out, maxval)
