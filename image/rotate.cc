// Rotation: exact quarter turns on the raw rows, bilinear turns by any angle
// through the typed iterators, and the rotated-window copy used by deskew.
#include "image/Rotate.hh"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>

#include "image/Flip.hh"
#include "image/PixelType.hh"
#include "image/Samples.hh"
#include "image/TypedIterators.hh"

namespace {

const double kPi = 3.141592653589793;

// fmod 360, negatives made positive; -0 and a tiny negative that rounds up
// to 360 both become 0.
double normalizeAngle(double angle)
{
  double a = fmod(angle, 360.0);
  if (a < 0)
    a += 360.0;
  if (a >= 360.0 || a == 0)
    a = 0;
  return a;
}

// Byte pixels of B bytes, in tiles so that both buffers are walked within
// the cache.
template <int B>
void turnBytes(const uint8_t* src, uint64_t sstride, uint8_t* dst, uint64_t dstride, int w, int h,
               bool cw)
{
  const int T = 64;
  for (int by = 0; by < h; by += T) {
    const int ey = by + T < h ? by + T : h;
    for (int bx = 0; bx < w; bx += T) {
      const int ex = bx + T < w ? bx + T : w;
      // Walk the destination rows of the tile in order (gathering from the
      // source column): stores stay sequential.
      for (int x = bx; x < ex; ++x) {
        const uint8_t* s = src + (uint64_t)by * sstride + (uint64_t)x * B;
        // Source (x, y) goes to new row x, column h-1-y (clockwise) or to
        // new row w-1-x, column y (counter-clockwise).
        if (cw) {
          uint8_t* d = dst + (uint64_t)x * dstride + (uint64_t)(h - 1 - by) * B;
          for (int y = by; y < ey; ++y, s += sstride, d -= B)
            memcpy(d, s, B);
        } else {
          uint8_t* d = dst + (uint64_t)(w - 1 - x) * dstride + (uint64_t)by * B;
          for (int y = by; y < ey; ++y, s += sstride, d += B)
            memcpy(d, s, B);
        }
      }
    }
  }
}

void turnBits(const uint8_t* src, uint64_t sstride, uint8_t* dst, uint64_t dstride, int w, int h,
              bool cw, int bps)
{
  memset(dst, 0, dstride * (uint64_t)w);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = src + (uint64_t)y * sstride;
    const int64_t col = cw ? h - 1 - y : y;
    const int64_t bit = col * bps;
    const int shift = 8 - bps - (int)(bit & 7);
    for (int x = 0; x < w; ++x) {
      const int v = pixel_samples::packed(s, x, bps);
      const int64_t row = cw ? x : w - 1 - x;
      dst[(uint64_t)row * dstride + (bit >> 3)] |= (uint8_t)(v << shift);
    }
  }
}

template <typename T>
struct accu_sum {
  typedef typename std::conditional<(T::accu::maxval > 255), int64_t, int32_t>::type type;
};

// The background colour for the typed accumulator of iterator T.
template <typename T>
typename T::accu backgroundAccu(const Image::iterator& background)
{
  typedef typename T::accu A;
  A a;
  if (A::samples < 3) {
    // getL is on the scale of the image the background walks: bring a
    // colour taken from an 8-bit image onto 16 bits and back.
    const bool wide = background.type == Image::GRAY16 || background.type == Image::RGB16;
    int64_t l = background.getL();
    if (A::maxval > 255 && !wide)
      l = l * 257;
    else if (A::maxval <= 255 && wide)
      l = l >> 8;
    const int64_t max = A::maxval;
    a.v[0] = (typename A::vtype)(l > max ? max : l);
  } else {
    a = background;
  }
  return a;
}

// The 8-bit byte types (gray, RGB, RGBA) on raw pointers with the channel
// count fixed: the same arithmetic as the general body, bit for bit.
template <typename T>
struct is_byte8 : std::false_type {};
template <> struct is_byte8<gray_iterator> : std::true_type {};
template <> struct is_byte8<rgb_iterator> : std::true_type {};
template <> struct is_byte8<rgba_iterator> : std::true_type {};

template <int N>
void rotateBytes(const Image& image, Image& out, float c, float s, const uint8_t* bg)
{
  const int w = image.w, h = image.h;
  const int cx = w / 2, cy = h / 2;
  const float fw = (float)w, fh = (float)h;
  const uint8_t* src = image.data;
  const uint64_t ss = image.stride();
  for (int y = 0; y < h; ++y) {
    uint8_t* o = out.data + (uint64_t)y * (uint64_t)w * N;
    const int dy = y - cy;
    for (int x = 0; x < w; ++x, o += N) {
      const int dx = x - cx;
      const float sx = (float)dx * c + (float)dy * s + (float)cx;
      const float sy = -(float)dx * s + (float)dy * c + (float)cy;
      if (!(sx >= 0 && sy >= 0 && sx < fw && sy < fh)) {
        for (int i = 0; i < N; ++i)
          o[i] = bg[i];
        continue;
      }
      const int x0 = (int)sx, y0 = (int)sy;
      const int x1 = x0 + 1 < w ? x0 + 1 : w - 1;
      const int y1 = y0 + 1 < h ? y0 + 1 : h - 1;
      const int32_t fx = (int32_t)((sx - (float)x0) * 256), fy = (int32_t)((sy - (float)y0) * 256);
      const int32_t w00 = (256 - fx) * (256 - fy), w01 = fx * (256 - fy);
      const int32_t w10 = (256 - fx) * fy, w11 = fx * fy;
      const uint8_t* p00 = src + (uint64_t)y0 * ss + (uint64_t)x0 * N;
      const uint8_t* p01 = src + (uint64_t)y0 * ss + (uint64_t)x1 * N;
      const uint8_t* p10 = src + (uint64_t)y1 * ss + (uint64_t)x0 * N;
      const uint8_t* p11 = src + (uint64_t)y1 * ss + (uint64_t)x1 * N;
      for (int i = 0; i < N; ++i)
        o[i] = (uint8_t)((p00[i] * w00 + p01[i] * w01 + p10[i] * w10 + p11[i] * w11) >> 16);
    }
  }
}

// `general` forces the iterator body also where a fast path exists (the
// fast paths are tested against it).
template <typename T>
struct rotate_template {
  void operator()(Image& image, double angle, const Image::iterator& background, bool general)
  {
    typedef typename T::accu A;
    typedef typename accu_sum<T>::type S;
    const int w = image.w, h = image.h;
    Image out;
    out.copyMeta(image);
    out.rowStride = 0;
    out.resize(w, h, 0); // throws with the image untouched

    const double r = angle / 180.0 * kPi;
    const float c = (float)cos(r), s = (float)sin(r);
    const int cx = w / 2, cy = h / 2;
    const float fw = (float)w, fh = (float)h;
    const A bg = backgroundAccu<T>(background);

    if (is_byte8<T>::value && !general) {
      uint8_t b[4];
      for (int i = 0; i < A::samples; ++i)
        b[i] = (uint8_t)bg.v[i];
      rotateBytes<A::samples>(image, out, c, s, b);
      image.copyTransferOwnership(out);
      return;
    }

    T src(image);
    T dst(out);
    for (int y = 0; y < h; ++y) {
      T o = dst.at(0, y);
      const int dy = y - cy;
      for (int x = 0; x < w; ++x, ++o) {
        const int dx = x - cx;
        const float sx = (float)dx * c + (float)dy * s + (float)cx;
        const float sy = -(float)dx * s + (float)dy * c + (float)cy;
        if (!(sx >= 0 && sy >= 0 && sx < fw && sy < fh)) {
          o.set(bg);
          continue;
        }
        const int x0 = (int)sx, y0 = (int)sy;
        const int x1 = x0 + 1 < w ? x0 + 1 : w - 1;
        const int y1 = y0 + 1 < h ? y0 + 1 : h - 1;
        const S fx = (S)((sx - (float)x0) * 256), fy = (S)((sy - (float)y0) * 256);
        // p * (256 - fx) * (256 - fy) and so on, with the weight products
        // formed once; all terms are non-negative, so >> 16 is the division.
        const S w00 = (256 - fx) * (256 - fy), w01 = fx * (256 - fy);
        const S w10 = (256 - fx) * fy, w11 = fx * fy;
        const T q0 = src.at(x0, y0), q1 = src.at(x0, y1);
        T q01 = q0, q11 = q1;
        if (x1 != x0) {
          ++q01;
          ++q11;
        }
        const A p00 = *q0, p01 = *q01, p10 = *q1, p11 = *q11;
        A v;
        for (int i = 0; i < A::samples; ++i)
          v.v[i] = (typename A::vtype)(((S)p00.v[i] * w00 + (S)p01.v[i] * w01 +
                                        (S)p10.v[i] * w10 + (S)p11.v[i] * w11) >> 16);
        o.set(v);
      }
    }
    image.copyTransferOwnership(out);
  }
};

template <typename T>
struct copy_crop_rotate_template {
  Image* operator()(Image& image, int x, int y, unsigned int w, unsigned int h, double angle,
                    const Image::iterator& background, bool nearest)
  {
    typedef typename T::accu A;
    typedef typename accu_sum<T>::type S;
    std::unique_ptr<Image> out(new Image);
    out->copyMeta(image);
    out->rowStride = 0;
    out->resize((int)w, (int)h, 0);
    if (!w || !h)
      return out.release();

    const double r = normalizeAngle(angle) / 180.0 * kPi;
    const float c = (float)cos(r), s = (float)sin(r);
    const int W = image.w, H = image.h;
    const float fW = (float)W, fH = (float)H, fx0 = (float)x, fy0 = (float)y;
    const A bg = backgroundAccu<T>(background);

    T src(image);
    T dst(*out);
    for (int ty = 0; ty < (int)h; ++ty) {
      T o = dst.at(0, ty);
      for (int tx = 0; tx < (int)w; ++tx, ++o) {
        const float sx = fx0 + (float)tx * c + (float)ty * s;
        const float sy = fy0 - (float)tx * s + (float)ty * c;
        if (nearest) {
          const int ix = saturate_cast<int>(sx), iy = saturate_cast<int>(sy);
          if (ix >= 0 && iy >= 0 && ix < W && iy < H)
            o.set(*src.at(ix, iy));
          else
            o.set(bg);
          continue;
        }
        if (!(sx >= 0 && sy >= 0 && sx < fW && sy < fH)) {
          o.set(bg);
          continue;
        }
        const int x0 = (int)sx, y0 = (int)sy;
        const int x1 = x0 + 1 < W ? x0 + 1 : W - 1;
        const int y1 = y0 + 1 < H ? y0 + 1 : H - 1;
        const S fx = (S)((sx - (float)x0) * 256), fy = (S)((sy - (float)y0) * 256);
        const A p00 = *src.at(x0, y0), p01 = *src.at(x1, y0);
        const A p10 = *src.at(x0, y1), p11 = *src.at(x1, y1);
        A v;
        for (int i = 0; i < A::samples; ++i) {
          const S top = ((S)p00.v[i] * (256 - fx) + (S)p01.v[i] * fx) / 256;
          const S bottom = ((S)p10.v[i] * (256 - fx) + (S)p11.v[i] * fx) / 256;
          v.v[i] = (typename A::vtype)((bottom * fy + top * (256 - fy)) / 256);
        }
        o.set(v);
      }
    }
    return out.release();
  }
};

Image* cropRotate(Image& image, int x, int y, unsigned int w, unsigned int h, double angle,
                  const Image::iterator& background, bool nearest)
{
  if (!std::isfinite(angle)) {
    fprintf(stderr, "copy_crop_rotate: invalid angle\n");
    return nullptr;
  }
  if (w > 0x7fffffffu || h > 0x7fffffffu) {
    fprintf(stderr, "copy_crop_rotate: size %ux%u too large\n", w, h);
    return nullptr;
  }
  // Four 16-bit samples and the like would run through a gray body and
  // leave most of the new buffer unwritten.
  if (image.w > 0 && image.h > 0 && !image.Type())
    return nullptr;
  return codegen_return<Image*, copy_crop_rotate_template>(image, x, y, w, h, angle, background,
                                                           nearest);
}

} // namespace

void rot90(Image& image, int angle)
{
  if (image.w <= 0 || image.h <= 0)
    return;
  uint8_t* data = image.getRawData();
  if (!data)
    return;
  const int bpp = image.spp * image.bps;
  if (!isMovableDepth(bpp)) {
    fprintf(stderr, "rot90: unsupported depth. spp: %d, bpp:%d\n", (int)image.spp, (int)image.bps);
    return;
  }
  const int w = image.w, h = image.h;
  const uint64_t sstride = image.stride();
  const uint64_t nfill = ((uint64_t)bpp * (uint64_t)h + 7) / 8;
  if (nfill > 0xffffffffull)
    throw std::overflow_error("stride overflow");
  uint8_t* p = (uint8_t*)malloc(nfill * (uint64_t)w);
  if (!p)
    throw std::bad_alloc();
  const bool cw = angle == 90;
  switch (bpp) {
  case 8: turnBytes<1>(data, sstride, p, nfill, w, h, cw); break;
  case 16: turnBytes<2>(data, sstride, p, nfill, w, h, cw); break;
  case 24: turnBytes<3>(data, sstride, p, nfill, w, h, cw); break;
  case 32: turnBytes<4>(data, sstride, p, nfill, w, h, cw); break;
  case 48: turnBytes<6>(data, sstride, p, nfill, w, h, cw); break;
  default: turnBits(data, sstride, p, nfill, w, h, cw, bpp); break;
  }
  image.w = h;
  image.h = w;
  if (image.resX != image.resY) {
    std::swap(image.resX, image.resY);
    image.metaDirty = true;
  }
  image.rowStride = 0;
  image.setRawData(p);
}

void rotate(Image& image, double angle, const Image::iterator& background)
{
  if (!std::isfinite(angle)) {
    fprintf(stderr, "rotate: invalid angle\n");
    return;
  }
  const double a = normalizeAngle(angle);
  if (a == 0 || image.w <= 0 || image.h <= 0)
    return;
  if (!image.pixelsDirty && image.codec && image.codec->rotate(image, a))
    return;
  if (a == 180) {
    flipX(image);
    flipY(image);
  } else if (a == 90) {
    rot90(image, 90);
  } else if (a == 270) {
    rot90(image, 270);
  } else if (image.Type()) {
    codegen<rotate_template>(image, a, background, false);
  }
}

Image* copy_crop_rotate(Image& image, int x, int y, unsigned int w, unsigned int h, double angle,
                        const Image::iterator& background)
{
  return cropRotate(image, x, y, w, h, angle, background, false);
}

Image* copy_crop_rotate_nn(Image& image, int x, int y, unsigned int w, unsigned int h,
                           double angle, const Image::iterator& background)
{
  return cropRotate(image, x, y, w, h, angle, background, true);
}

namespace rotate_detail {
// The interpolating rotation through the iterator bodies only, for tests.
void rotateGeneral(Image& image, double angle, const Image::iterator& background)
{
  if (image.w > 0 && image.h > 0 && image.Type())
    codegen<rotate_template>(image, normalizeAngle(angle), background, true);
}
} // namespace rotate_detail

void exif_rotate(Image& image, unsigned int orientation)
{
  if (orientation > 8) {
    fprintf(stderr, "unknown exif orientation: %u\n", orientation);
    return;
  }
  if (image.w <= 0 || image.h <= 0)
    return;
  // The quarter and half turns never read the background.
  Image::iterator background(&image, false);
  switch (orientation) {
  case 2: flipX(image); break;
  case 3: rotate(image, 180, background); break;
  case 4: flipY(image); break;
  case 5: rotate(image, 90, background); flipX(image); break;
  case 6: rotate(image, 90, background); break;
  case 7: rotate(image, 270, background); flipX(image); break;
  case 8: rotate(image, -90, background); break;
  default: break;
  }
}
