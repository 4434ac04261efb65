// Image-to-image compositing: rectangle copies, joins and border mirroring.
#include "image/Composite.hh"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "image/Colorspace.hh"
#include "image/TypedIterators.hh"
#include "image/PixelType.hh"

namespace {

// Gives `image` the pixel type of `like`; false when that is impossible.
bool sameType(Image& image, const Image& like)
{
  if (image.spp == like.spp && image.bps == like.bps)
    return true;
  return colorspace_by_name(image, colorspace_name(like), 127) && image.spp == like.spp &&
         image.bps == like.bps;
}

// Padded rows would be scrambled by a resize that changes the row count or
// width in place.
void makeTight(Image& image)
{
  if (image.rowStride && image.rowStride != image.stridefill())
    image.restride(image.stridefill());
  image.rowStride = 0;
}

template <typename T>
struct copy_template {
  void operator()(Image& dst, int x, int y, int w, int h, Image& src, int sx, int sy)
  {
    const T d(dst), s(src);
    const bool backward = y > sy || (y == sy && x > sx);
    for (int i = 0; i < h; ++i) {
      const int r = backward ? h - 1 - i : i;
      T o = d.at(backward ? x + w - 1 : x, y + r);
      T in = s.at(backward ? sx + w - 1 : sx, sy + r);
      for (int c = 0; c < w; ++c) {
        o.set(*in);
        if (c + 1 == w)
          break; // never step before the row's first pixel
        if (backward) {
          --o;
          --in;
        } else {
          ++o;
          ++in;
        }
      }
    }
  }
};

// Whole-byte pixels move as bytes; memmove keeps a copy inside one row safe
// and the row order above keeps it safe across rows.
template <typename S, int N, typename A, int M>
struct copy_template<byte_iterator<S, N, A, M>> {
  void operator()(Image& dst, int x, int y, int w, int h, Image& src, int sx, int sy)
  {
    typedef byte_iterator<S, N, A, M> T;
    const T d(dst), s(src);
    const bool backward = y > sy || (y == sy && x > sx);
    for (int i = 0; i < h; ++i) {
      const int r = backward ? h - 1 - i : i;
      memmove(d.at(x, y + r).ptr, s.at(sx, sy + r).ptr, (size_t)w * T::bytes);
    }
  }
};

template <typename T>
struct copy2_template {
  void operator()(Image& dst, Image& src, const int* px, const int* py)
  {
    typedef typename T::accu accu;
    const T s(src);
    T d(dst);
    const int W = src.w, H = src.h;
    auto pixel = [&](int x, int y) {
      // The neighbour of a sample on the last column or row stays inside.
      return *s.at(std::min(std::max(x, 0), W - 1), std::min(std::max(y, 0), H - 1));
    };
    for (int j = 0; j < dst.h; ++j) {
      const float fy = (float)j / dst.h;
      const float lx = px[0] + (px[2] - px[0]) * fy, ly = py[0] + (py[2] - py[0]) * fy;
      const float rx = px[1] + (px[3] - px[1]) * fy, ry = py[1] + (py[3] - py[1]) * fy;
      T o = d.at(0, j);
      for (int i = 0; i < dst.w; ++i, ++o) {
        const float fx = (float)i / dst.w;
        const float sxf = lx + (rx - lx) * fx, syf = ly + (ry - ly) * fx;
        const int ix = (int)std::floor(sxf), iy = (int)std::floor(syf);
        const int64_t ax = (int)((sxf - ix) * 256), ay = (int)((syf - iy) * 256);
        const accu p00 = pixel(ix, iy), p10 = pixel(ix + 1, iy), p01 = pixel(ix, iy + 1),
                   p11 = pixel(ix + 1, iy + 1);
        accu v;
        for (int k = 0; k < accu::samples; ++k)
          v.v[k] = (typename accu::vtype)((p00.v[k] * (256 - ax) * (256 - ay) +
                                           p10.v[k] * ax * (256 - ay) +
                                           p01.v[k] * (256 - ax) * ay + p11.v[k] * ax * ay) /
                                          65536);
        o.set(v);
      }
    }
  }
};

template <typename T>
struct borderfill_template {
  void operator()(Image& img, int bx, int by)
  {
    const int w = img.w, h = img.h;
    const T it(img);
    // One block: destination left to right, top to bottom; the source
    // column and row come from the mirror maps.
    auto block = [&](int x0, int x1, int y0, int y1, int mx, int my) {
      for (int r = y0; r < y1; ++r) {
        const int sr = my < 0 ? r : my - r;
        T o = it.at(x0, r);
        for (int c = x0; c < x1; ++c, ++o)
          o.set(*it.at(mx < 0 ? c : mx - c, sr));
      }
    };
    const int left = 2 * bx, right = 2 * (w - 1 - bx), top = 2 * by, bottom = 2 * (h - 1 - by);
    block(0, bx, 0, by, left, top);
    block(w - bx, w, 0, by, right, top);
    block(0, bx, h - by, h, left, bottom);
    block(w - bx, w, h - by, h, right, bottom);
    block(bx, w - bx, 0, by, -1, top);
    block(0, bx, by, h - by, left, -1);
    block(w - bx, w, by, h - by, right, -1);
    block(bx, w - bx, h - by, h, -1, bottom);
  }
};

// White in every pixel type is all sample bits set.
void fillWhite(Image& img, int x0, int x1, int y0, int y1)
{
  if (x0 >= x1 || y0 >= y1)
    return;
  const unsigned stride = img.stride();
  const int bpp = img.spp * img.bps;
  for (int y = y0; y < y1; ++y) {
    uint8_t* row = img.data + (uint64_t)y * stride;
    if (bpp % 8 == 0) {
      memset(row + (uint64_t)x0 * (bpp / 8), 0xff, (uint64_t)(x1 - x0) * (bpp / 8));
      continue;
    }
    for (int64_t bit = (int64_t)x0 * bpp; bit < (int64_t)x1 * bpp; ++bit)
      row[bit / 8] |= (uint8_t)(0x80 >> (bit % 8));
  }
}

// Copies `n` pixels from src row (at pixel 0) to dst row at pixel `at`,
// any bit alignment.
void putPixels(Image& dst, int at, int y, const Image& src, int sy, int n)
{
  const int bpp = dst.spp * dst.bps;
  uint8_t* d = dst.data + (uint64_t)y * dst.stride();
  const uint8_t* s = src.data + (uint64_t)sy * src.stride();
  if (bpp % 8 == 0) {
    memcpy(d + (uint64_t)at * (bpp / 8), s, (uint64_t)n * (bpp / 8));
    return;
  }
  for (int64_t i = 0; i < (int64_t)n * bpp; ++i) {
    const int64_t o = (int64_t)at * bpp + i;
    const uint8_t m = (uint8_t)(0x80 >> (o % 8));
    if (s[i / 8] & (0x80 >> (i % 8)))
      d[o / 8] |= m;
    else
      d[o / 8] &= (uint8_t)~m;
  }
}

} // namespace

void copy(Image& dst, int x, int y, int w, int h, Image& src, int sx, int sy)
{
  // 64-bit: hostile rectangles must not overflow while being clipped.
  int64_t X = x, Y = y, Wd = w, Ht = h, SX = sx, SY = sy;
  if (X < 0) { SX -= X; Wd += X; X = 0; }
  if (Y < 0) { SY -= Y; Ht += Y; Y = 0; }
  if (SX < 0) { X -= SX; Wd += SX; SX = 0; }
  if (SY < 0) { Y -= SY; Ht += SY; SY = 0; }
  if (X + Wd > dst.w) Wd = dst.w - X;
  if (Y + Ht > dst.h) Ht = dst.h - Y;
  if (SX + Wd > src.w) Wd = src.w - SX;
  if (SY + Ht > src.h) Ht = src.h - SY;
  if (Wd < 1 || Ht < 1)
    return;
  if (!isPixelType(src) || !src.getRawData() || !dst.getRawData())
    return;
  if (!sameType(dst, src))
    return;
  codegen<copy_template>(dst, (int)X, (int)Y, (int)Wd, (int)Ht, src, (int)SX, (int)SY);
  dst.setRawData();
}

void copy2(Image& dst, Image& src, int x1, int y1, int x2, int y2, int x3, int y3, int x4,
           int y4)
{
  if (dst.empty() || src.empty() || !isPixelType(dst))
    return;
  std::unique_ptr<Image> converted;
  Image* s = &src;
  if (src.spp != dst.spp || src.bps != dst.bps) {
    converted.reset(new Image(src));
    if (!sameType(*converted, dst)) {
      fprintf(stderr, "copy2: cannot read a %s source into a %s image\n", colorspace_name(src),
              colorspace_name(dst));
      return;
    }
    s = converted.get();
  }
  int px[4] = {x1, x2, x3, x4}, py[4] = {y1, y2, y3, y4};
  for (int i = 0; i < 4; ++i) {
    px[i] = std::max(std::min(px[i], s->w - 1), 1);
    py[i] = std::max(std::min(py[i], s->h - 1), 1);
  }
  codegen<copy2_template>(dst, *s, (const int*)px, (const int*)py);
  dst.setRawData();
}

void append2(Image& a, Image& b)
{
  if (&a == &b) {
    Image other(b);
    append2(a, other);
    return;
  }
  if (a.w <= 0 || a.h < 0 || !isPixelType(a) || b.empty())
    return;
  a.getRawData();
  if ((int64_t)a.h + b.h > INT_MAX || !sameType(b, a))
    return;
  makeTight(a);
  const int h0 = a.h;
  a.resize(a.w, h0 + b.h, 0);
  a.setRawData();
  const uint64_t afill = a.stridefill(), bfill = b.stridefill();
  const int n = std::min(a.w, b.w);
  for (int r = 0; r < b.h; ++r) {
    uint8_t* row = a.data + (uint64_t)(h0 + r) * afill;
    memcpy(row, b.data + (uint64_t)r * b.stride(), std::min(afill, bfill));
  }
  // The last partial byte of a narrower b carries its padding bits: white.
  fillWhite(a, n, a.w, h0, h0 + b.h);
}

void aside(Image& a, Image& b)
{
  if (&a == &b) {
    Image other(b);
    aside(a, other);
    return;
  }
  if (a.empty() || b.empty() || !isPixelType(a) || (int64_t)a.w + b.w > INT_MAX)
    return;
  if (!sameType(b, a))
    return;
  makeTight(a);
  const int oldW = a.w;
  const uint64_t oldFill = a.stridefill();
  a.resize(oldW + b.w, a.h, 0);
  a.setRawData();
  const uint64_t newFill = a.stridefill();
  // Bottom up: every new row starts at or after its old place, so a row is
  // moved before anything lands on it.
  for (int y = a.h - 1; y >= 0; --y) {
    memmove(a.data + (uint64_t)y * newFill, a.data + (uint64_t)y * oldFill, oldFill);
    if (y < b.h) {
      putPixels(a, oldW, y, b, y, b.w);
    } else {
      fillWhite(a, oldW, a.w, y, y + 1);
    }
  }
}

void borderfill(Image& img, int bx, int by)
{
  if (img.empty() || !isPixelType(img))
    return;
  // Mirroring about the first inner column needs 2 bx < w.
  bx = std::max(0, std::min(bx, (img.w - 1) / 2));
  by = std::max(0, std::min(by, (img.h - 1) / 2));
  if (!bx && !by)
    return;
  codegen<borderfill_template>(img, bx, by);
  img.setRawData();
}

Image* splitBook(Image& img)
{
  Image* right = new Image;
  if (img.empty() || !isPixelType(img))
    return right;
  const int half = img.w / 2;
  right->copyMeta(img);
  right->rowStride = 0;
  right->resize(half, img.h, 0);
  if (half > 0)
    copy(*right, 0, 0, half, img.h, img, img.w - half, 0);
  right->setRawData();
  // Keep the stride so the buffer and its rows stay where they are.
  img.resize(half, img.h, img.stride());
  img.setRawData();
  return right;
}
