// Resampling: every method is a functor over the typed iterators that reads
// the source image and writes a freshly allocated result, which then replaces
// the source's pixels (so an allocation failure leaves the source intact).
#include "image/Scale.hh"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "image/Colorspace.hh"
#include "image/PixelType.hh"
#include "image/TypedIterators.hh"
#include "utility/Saturate.hh"

namespace {

// The new size from factors or absolute sizes; false, with a diagnostic,
// for sizes that are not finite, negative or do not fit an int.
bool newSize(const Image& image, double sx, double sy, bool fixed, int& nw, int& nh)
{
  const double w = fixed ? sx : image.w * sx;
  const double h = fixed ? sy : image.h * sy;
  if (!std::isfinite(w) || !std::isfinite(h) || w < 0 || h < 0 || w >= (double)INT_MAX + 1.0 ||
      h >= (double)INT_MAX + 1.0) {
    fprintf(stderr, "scale: invalid size %g x %g\n", w, h);
    return false;
  }
  nw = (int)w;
  nh = (int)h;
  return true;
}

bool identity(double sx, double sy, bool fixed)
{
  return sx == 1.0 && sy == 1.0 && !fixed;
}

// Scaled resolution, product first, truncating.
int scaledRes(int res, int newSize, int oldSize)
{
  return oldSize > 0 ? (int)((int64_t)res * newSize / oldSize) : res;
}

void storeResolution(Image& image, int rx, int ry)
{
  if (rx != image.resX || ry != image.resY)
    image.metaDirty = true;
  image.resX = rx;
  image.resY = ry;
}

// Everything a method needs before resampling: a usable source, a valid
// size and an allocated result. Returns false when there is nothing to do.
// A result of zero width or height changes the geometry only: the old buffer
// stays attached, so an attached codec is not asked to decode again.
bool prepare(Image& image, double sx, double sy, bool fixed, int outBps, Image& dst)
{
  if (identity(sx, sy, fixed))
    return false;
  if (image.w <= 0 || image.h <= 0 || !image.getRawData() || !isPixelType(image))
    return false;
  int nw, nh;
  if (!newSize(image, sx, sy, fixed, nw, nh))
    return false;
  const int rx = scaledRes(image.resX, nw, image.w), ry = scaledRes(image.resY, nh, image.h);
  if (nw == 0 || nh == 0) {
    image.bps = (uint8_t)outBps;
    image.resize(nw, nh);
    storeResolution(image, rx, ry);
    image.setRawData();
    return false;
  }
  dst.spp = image.spp;
  dst.bps = (uint8_t)outBps;
  dst.resize(nw, nh); // throws before the source is touched
  dst.resX = rx;
  dst.resY = ry;
  return true;
}

void commit(Image& image, Image& dst)
{
  const int rx = dst.resX, ry = dst.resY;
  dst.resX = image.resX;
  dst.resY = image.resY;
  image.copyTransferOwnership(dst);
  storeResolution(image, rx, ry);
}

// Corner-aligned source coordinate of destination index d; a single
// destination column or row maps to 0.
inline float mapCoord(int d, int srcSize, int dstSize)
{
  if (dstSize <= 1)
    return 0.f;
  return (float)d * (float)(srcSize - 1) / (float)(dstSize - 1);
}

template <typename T>
struct nearest_scale_template {
  void operator()(Image& src, Image& dst)
  {
    std::vector<int> map(dst.w);
    for (int dx = 0; dx < dst.w; ++dx) {
      const int x = (int)((double)mapCoord(dx, src.w, dst.w) + 0.5);
      map[dx] = clamp_int(x, 0, src.w - 1);
    }
    T s(src), d(dst);
    for (int dy = 0; dy < dst.h; ++dy) {
      const float fy = dst.h > 1 ? (float)(src.h - 1) * (float)dy / (float)(dst.h - 1) : 0.f;
      const int sy = clamp_int((int)((double)fy + 0.5), 0, src.h - 1);
      T out = d.at(0, dy);
      for (int dx = 0; dx < dst.w; ++dx, ++out)
        out.set(*s.at(map[dx], sy));
    }
  }
};

// Box average from TIn pixels into TOut pixels (the same type, or GRAY8 for
// the sub-byte gray reduction). Source column x joins destination column
// x * nw / w, source row y joins row y * nh / h; a destination column or row
// that no source column or row reaches (enlargement) takes the nearest one.
template <typename TIn, typename TOut>
void box_scale_impl(Image& src, Image& dst)
{
  const int C = TIn::accu::samples;
  const int W = src.w, H = src.h, NW = dst.w, NH = dst.h;
  std::vector<int> bucket(W);
  std::vector<char> reached(NW, 0);
  for (int x = 0; x < W; ++x) {
    bucket[x] = (int)((int64_t)x * NW / W);
    reached[bucket[x]] = 1;
  }
  std::vector<std::pair<int, int>> unreached; // destination column, source column
  for (int dx = 0; dx < NW; ++dx)
    if (!reached[dx])
      unreached.emplace_back(dx, std::min(W - 1, (int)((2 * (int64_t)dx + 1) * W / (2 * (int64_t)NW))));

  std::vector<int64_t> sum((size_t)NW * C);
  std::vector<int64_t> count(NW);
  TIn s(src);
  TOut d(dst);

  auto addRow = [&](int y) {
    TIn p = s.at(0, y);
    for (int x = 0; x < W; ++x, ++p) {
      const typename TIn::accu a = *p;
      int64_t* out = &sum[(size_t)bucket[x] * C];
      for (int c = 0; c < C; ++c)
        out[c] += a.v[c];
      ++count[bucket[x]];
    }
    for (const auto& u : unreached) {
      const typename TIn::accu a = *s.at(u.second, y);
      for (int c = 0; c < C; ++c)
        sum[(size_t)u.first * C + c] += a.v[c];
      ++count[u.first];
    }
  };

  int sy = 0;
  for (int dy = 0; dy < NH; ++dy) {
    std::fill(sum.begin(), sum.end(), 0);
    std::fill(count.begin(), count.end(), 0);
    bool any = false;
    while (sy < H && (int64_t)sy * NH / H < dy + 1) {
      addRow(sy++);
      any = true;
    }
    if (!any)
      addRow(std::min(H - 1, (int)((2 * (int64_t)dy + 1) * H / (2 * (int64_t)NH))));
    TOut out = d.at(0, dy);
    for (int dx = 0; dx < NW; ++dx, ++out) {
      typename TOut::accu a;
      for (int c = 0; c < C; ++c)
        a.v[c] = (typename TOut::accu::vtype)(sum[(size_t)dx * C + c] / count[dx]);
      out.set(a);
    }
  }
}

template <typename T>
struct box_scale_template {
  void operator()(Image& src, Image& dst) { box_scale_impl<T, T>(src, dst); }
};

template <typename T>
struct box_to_gray8_template {
  void operator()(Image& src, Image& dst) { box_scale_impl<T, gray_iterator>(src, dst); }
};

// Fixed-point weights on the scale 256, corner-aligned grid.
template <typename T>
struct bilinear_scale_template {
  void operator()(Image& src, Image& dst)
  {
    typedef typename T::accu accu;
    typedef typename accu::vtype V;
    const int C = accu::samples;
    const int W = src.w, H = src.h;
    std::vector<int> x0(dst.w), x1(dst.w), wx(dst.w);
    for (int dx = 0; dx < dst.w; ++dx) {
      const float fx = mapCoord(dx, W, dst.w);
      const int x = clamp_int((int)std::floor(fx), 0, W - 1);
      x0[dx] = x;
      x1[dx] = x < W - 1 ? x + 1 : x;
      wx[dx] = clamp_int((int)((fx - (float)x) * 256.f), 0, 256);
    }
    T s(src), d(dst);
    for (int dy = 0; dy < dst.h; ++dy) {
      const float fy = dst.h > 1 ? (float)(H - 1) * (float)dy / (float)(dst.h - 1) : 0.f;
      const int y0 = clamp_int((int)std::floor(fy), 0, H - 1);
      const int y1 = y0 < H - 1 ? y0 + 1 : y0;
      const V wy = clamp_int((int)((fy - (float)y0) * 256.f), 0, 256);
      const T r0 = s.at(0, y0), r1 = s.at(0, y1);
      T out = d.at(0, dy);
      for (int dx = 0; dx < dst.w; ++dx, ++out) {
        const accu p00 = *r0.at(x0[dx], y0), p10 = *r0.at(x1[dx], y0);
        const accu p01 = *r1.at(x0[dx], y1), p11 = *r1.at(x1[dx], y1);
        const V w = wx[dx];
        accu a;
        for (int c = 0; c < C; ++c) {
          const V top = (p00.v[c] * (256 - w) + p10.v[c] * w) / 256;
          const V bottom = (p01.v[c] * (256 - w) + p11.v[c] * w) / 256;
          a.v[c] = (top * (256 - wy) + bottom * wy) / 256;
        }
        out.set(a);
      }
    }
  }
};

// Catmull-Rom weights for the four taps around t in [0, 1].
inline void cubicWeights(double t, double w[4])
{
  const double t2 = t * t, t3 = t2 * t;
  w[0] = -0.5 * t3 + t2 - 0.5 * t;
  w[1] = 1.5 * t3 - 2.5 * t2 + 1.0;
  w[2] = -1.5 * t3 + 2.0 * t2 + 0.5 * t;
  w[3] = 0.5 * t3 - 0.5 * t2;
}

template <typename T>
struct bicubic_scale_template {
  void operator()(Image& src, Image& dst)
  {
    typedef typename T::accu accu;
    const int C = accu::samples;
    const int W = src.w, H = src.h;
    std::vector<int> xs((size_t)dst.w * 4);
    std::vector<double> wxs((size_t)dst.w * 4);
    for (int dx = 0; dx < dst.w; ++dx) {
      const float fx = mapCoord(dx, W, dst.w);
      const int x = clamp_int((int)std::floor(fx), 0, W - 1);
      cubicWeights((double)(fx - (float)x), &wxs[(size_t)dx * 4]);
      for (int k = 0; k < 4; ++k)
        xs[(size_t)dx * 4 + k] = clamp_int(x - 1 + k, 0, W - 1);
    }
    T s(src), d(dst);
    std::vector<double> acc(C);
    for (int dy = 0; dy < dst.h; ++dy) {
      const float fy = dst.h > 1 ? (float)(H - 1) * (float)dy / (float)(dst.h - 1) : 0.f;
      const int y = clamp_int((int)std::floor(fy), 0, H - 1);
      double wy[4];
      cubicWeights((double)(fy - (float)y), wy);
      T out = d.at(0, dy);
      for (int dx = 0; dx < dst.w; ++dx, ++out) {
        std::fill(acc.begin(), acc.end(), 0.0);
        for (int j = 0; j < 4; ++j) {
          const int sy = clamp_int(y - 1 + j, 0, H - 1);
          for (int i = 0; i < 4; ++i) {
            const accu p = *s.at(xs[(size_t)dx * 4 + i], sy);
            const double w = wy[j] * wxs[(size_t)dx * 4 + i];
            for (int c = 0; c < C; ++c)
              acc[c] += w * (double)p.v[c];
          }
        }
        accu a;
        for (int c = 0; c < C; ++c)
          a.v[c] = (typename accu::vtype)saturate_cast<int64_t>(std::floor(acc[c] + 0.5));
        a.saturate();
        out.set(a);
      }
    }
  }
};

} // namespace

// Triangle interpolation inside one cell, weights on the scale 256.
template <typename A>
A interp(float a, float b, const A& p0, const A& p1, const A& p2, const A& p3)
{
  A r;
  typedef typename A::vtype V;
  if (a >= b) {
    const V w3 = (V)((a - b) * 256), w2 = (V)(b * 256), w0 = (V)((1 - a) * 256);
    for (int c = 0; c < A::samples; ++c)
      r.v[c] = (w3 * p3.v[c] + w2 * p2.v[c] + w0 * p0.v[c]) / 256;
  } else {
    const V w2 = (V)(a * 256), w1 = (V)((b - a) * 256), w0 = (V)((1 - b) * 256);
    for (int c = 0; c < A::samples; ++c)
      r.v[c] = (w2 * p2.v[c] + w1 * p1.v[c] + w0 * p0.v[c]) / 256;
  }
  return r;
}

namespace {

// Data-dependent triangulation: each source cell is split along the diagonal
// whose ends differ less (colour compared by luminance), and the point is
// interpolated on its triangle.
template <typename T>
struct ddt_scale_template {
  void operator()(Image& src, Image& dst, bool smooth)
  {
    typedef typename T::accu accu;
    const int W = src.w, H = src.h, MW = W - 1, MH = H - 1;
    T s(src), d(dst);
    std::vector<char> map((size_t)MW * MH);
    for (int y = 0; y < MH; ++y)
      for (int x = 0; x < MW; ++x) {
        const int64_t a = (*s.at(x, y)).getL(), b = (*s.at(x + 1, y + 1)).getL();
        const int64_t c = (*s.at(x, y + 1)).getL(), e = (*s.at(x + 1, y)).getL();
        map[(size_t)y * MW + x] = std::llabs(a - b) >= std::llabs(c - e) ? '/' : '\\';
      }
    if (smooth && MW > 2 && MH > 2) {
      std::vector<char> next = map;
      for (int y = 1; y < MH - 1; ++y)
        for (int x = 1; x < MW - 1; ++x) {
          int slash = 0;
          for (int j = -1; j <= 1; ++j)
            for (int i = -1; i <= 1; ++i)
              slash += map[(size_t)(y + j) * MW + x + i] == '/';
          if (slash >= 6)
            next[(size_t)y * MW + x] = '/';
          else if (9 - slash >= 6)
            next[(size_t)y * MW + x] = '\\';
        }
      map.swap(next);
    }
    std::vector<int> x0(dst.w);
    std::vector<float> wx(dst.w);
    for (int dx = 0; dx < dst.w; ++dx) {
      const float fx = mapCoord(dx, W, dst.w);
      x0[dx] = std::min(W - 2, (int)std::floor(fx));
      wx[dx] = fx - (float)x0[dx];
    }
    for (int dy = 0; dy < dst.h; ++dy) {
      const float fy = dst.h > 1 ? (float)(H - 1) * (float)dy / (float)(dst.h - 1) : 0.f;
      const int y0 = std::min(H - 2, (int)std::floor(fy));
      const float wy = fy - (float)y0;
      T out = d.at(0, dy);
      for (int dx = 0; dx < dst.w; ++dx, ++out) {
        const int x = x0[dx];
        const accu p00 = *s.at(x, y0), p10 = *s.at(x + 1, y0);
        const accu p01 = *s.at(x, y0 + 1), p11 = *s.at(x + 1, y0 + 1);
        accu a;
        if (map[(size_t)y0 * MW + x] == '\\')
          a = interp(wx[dx], wy, p00, p01, p11, p10);
        else
          a = interp(1.f - wx[dx], wy, p10, p11, p01, p00);
        out.set(a);
      }
    }
  }
};

template <template <typename> class ALGO, typename... A>
void resample(Image& image, double sx, double sy, bool fixed, A&&... extra)
{
  Image dst;
  if (!prepare(image, sx, sy, fixed, image.bps, dst))
    return;
  codegen<ALGO>(image, dst, extra...);
  commit(image, dst);
}

} // namespace

void nearest_scale(Image& image, double sx, double sy, bool fixed)
{
  resample<nearest_scale_template>(image, sx, sy, fixed);
}

void box_scale(Image& image, double sx, double sy, bool fixed)
{
  resample<box_scale_template>(image, sx, sy, fixed);
}

void bilinear_scale(Image& image, double sx, double sy, bool fixed)
{
  resample<bilinear_scale_template>(image, sx, sy, fixed);
}

void bicubic_scale(Image& image, double sx, double sy, bool fixed)
{
  resample<bicubic_scale_template>(image, sx, sy, fixed);
}

void ddt_scale(Image& image, double sx, double sy, bool fixed, bool smooth)
{
  if (image.w < 2 || image.h < 2) {
    bilinear_scale(image, sx, sy, fixed);
    return;
  }
  resample<ddt_scale_template>(image, sx, sy, fixed, smooth);
}

void box_scale_grayX_to_gray8(Image& image, double sx, double sy, bool fixed)
{
  if (image.spp != 1 || image.bps > 8) {
    fprintf(stderr, "box_scale_grayX_to_gray8: unsupported spp/bps %d/%d\n", image.spp, image.bps);
    return;
  }
  Image dst;
  if (!prepare(image, sx, sy, fixed, 8, dst))
    return;
  codegen<box_to_gray8_template>(image, dst);
  commit(image, dst);
}

void scale(Image& image, double sx, double sy, bool fixed)
{
  if (identity(sx, sy, fixed))
    return;
  int nw, nh;
  if (!newSize(image, sx, sy, fixed, nw, nh))
    return;
  if (!image.pixelsDirty && image.codec && image.codec->scale(image, sx, sy, fixed))
    return;
  if (sx <= 0.5 && !fixed)
    box_scale(image, sx, sy, fixed);
  else
    bilinear_scale(image, sx, sy, fixed);
}

void thumbnail_scale(Image& image, double sx, double sy, bool fixed)
{
  // With fixed sizes sx is a width, so nearly every fixed request goes to
  // scale(); kept as the callers know it.
  if (sx > 1.0 || (sy > 1.0 && !fixed)) {
    scale(image, sx, sy, fixed);
    return;
  }
  if (identity(sx, sy, fixed))
    return;
  int nw, nh;
  if (!newSize(image, sx, sy, fixed, nw, nh))
    return;
  if (!image.pixelsDirty && image.codec && image.codec->scale(image, sx, sy, fixed))
    return;
  if (image.w <= 0 || image.h <= 0 || !image.getRawData())
    return;
  if (image.spp == 1 && image.bps <= 8) {
    box_scale_grayX_to_gray8(image, sx, sy, fixed);
    return;
  }
  if (image.spp == 1)
    colorspace_by_name(image, "gray", 127);
  else if (image.spp > 3 || image.bps > 8)
    colorspace_by_name(image, "rgb", 127);
  box_scale(image, sx, sy, fixed);
}
