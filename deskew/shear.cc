// Horizontal shear: each row shifted by row * tan(angle) columns, the
// fractional part blended from two neighbours in 1/256 steps. Cheap enough
// to replace a rotation for skews too small to see.
#include "deskew/Shear.hh"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "image/TypedIterators.hh"
#include "image/PixelType.hh"
#include "utility/Saturate.hh"

namespace {

const double pi = 3.141592653589793;

// Past 90 degrees the shear flips; at 90 its tangent is astronomically large
// and the offsets overflow. NaN fails the test as well.
bool angleTooHigh(double xAngle, double yAngle)
{
  if (std::fabs(xAngle) < 90 && std::fabs(yAngle) < 90)
    return false;
  fprintf(stderr, "shaer: angle too high\n");
  return true;
}

// The fill colour as the body's accumulator: gray bodies take the
// luminance, colour bodies the scaled components (and alpha).
template <typename T>
struct bg_sample {
  static typename T::accu get(const Image::iterator& background)
  {
    typename T::accu a;
    a = background;
    return a;
  }
};
template <>
struct bg_sample<gray_iterator> {
  static gray_iterator::accu get(const Image::iterator& background)
  {
    gray_iterator::accu a;
    a.v[0] = background.getL() & 0xff;
    return a;
  }
};
template <>
struct bg_sample<gray16_iterator> {
  static gray16_iterator::accu get(const Image::iterator& background)
  {
    gray16_iterator::accu a;
    a.v[0] = background.getL();
    return a;
  }
};
template <unsigned N>
struct bg_sample<bit_iterator<N>> {
  static typename bit_iterator<N>::accu get(const Image::iterator& background)
  {
    typename bit_iterator<N>::accu a;
    // On the 0..255 scale of the bit bodies; a wider value would spill
    // into the neighbouring samples of the byte.
    a.v[0] = background.getL() > 255 ? 255 : background.getL();
    return a;
  }
};

// Sub-byte bodies write sample by sample: give the row padding a defined
// value.
void clearBitRows(Image& image)
{
  if (image.bps < 8 && image.data)
    memset(image.data, 0, (size_t)image.stride() * (size_t)image.h);
}

// One sheared row: dst[c] blends source columns base + c and base + c + 1
// of row `sy`, anything outside the source being `bg`.
template <typename T>
void shearRow(const T& src, int W, int sy, int64_t base, int f, T dst, int64_t w,
              const typename T::accu& bg)
{
  typedef typename T::accu accu;
  for (int64_t c = 0; c < w; ++c, ++dst) {
    const int64_t i = base + c;
    const accu a = (i >= 0 && i < W) ? *src.at((int)i, sy) : bg;
    const accu b = (i + 1 >= 0 && i + 1 < W) ? *src.at((int)(i + 1), sy) : bg;
    accu v;
    for (int k = 0; k < accu::samples; ++k)
      v.v[k] = (a.v[k] * (256 - f) + b.v[k] * f) / 256;
    dst.set(v);
  }
}

// Integer start column and 1/256 weight of a row starting at `sx`. The
// 0.0001 lets a position a hair below a whole column count as that column.
void splitPosition(double sx, int64_t& base, int& f)
{
  base = saturate_cast<int64_t>(std::floor(sx + 0.0001));
  f = saturate_cast<int>((sx - (double)base) * 256);
  f = f < 0 ? 0 : f > 255 ? 255 : f;
}

template <typename T>
struct copy_crop_shear_template {
  Image* operator()(Image& image, int x, int y, unsigned int w, unsigned int h, double xAngle,
                    double, const Image::iterator& background)
  {
    const int W = image.w, H = image.h;
    const double t = std::tan(xAngle / 180.0 * pi);
    std::unique_ptr<Image> result(new Image);
    result->copyMeta(image);
    result->rowStride = 0;
    result->resize((int)w, (int)h, 0);
    clearBitRows(*result);
    const typename T::accu bg = bg_sample<T>::get(background);
    if (h == 0) {
      result->setRawData();
      return result.release();
    }
    const double off =
      t > 0 ? (double)(W - saturate_cast<int64_t>(W + std::fabs(t) * H)) : 0.0;
    const T src(image);
    const T dst(*result);
    for (unsigned r = 0; r < h; ++r) {
      const int64_t sy = (int64_t)y + r;
      T out = dst.at(0, (int)r);
      if (sy < 0 || sy >= H) {
        for (unsigned c = 0; c < w; ++c, ++out)
          out.set(bg);
        continue;
      }
      int64_t base;
      int f;
      splitPosition((double)sy * t + off + x, base, f);
      shearRow(src, W, (int)sy, base, f, out, w, bg);
    }
    result->setRawData();
    return result.release();
  }
};

template <typename T>
struct shear_template {
  void operator()(Image& image, double xAngle, double, const Image::iterator& background)
  {
    const int W = image.w, H = image.h;
    const double t = std::tan(xAngle / 180.0 * pi);
    const int W2 = saturate_cast<int>(W + H * std::fabs(t));
    // The new pixels are built beside the old ones, so running out of memory
    // leaves the image as it was.
    Image out;
    out.copyMeta(image);
    out.rowStride = 0;
    out.resize(W2, H, 0);
    clearBitRows(out);
    const typename T::accu bg = bg_sample<T>::get(background);
    const T src(image);
    const T dst(out);
    for (int r = 0; r < H; ++r) {
      int64_t base;
      int f;
      splitPosition((double)r * t + (t > 0 ? (double)(W - W2) : 0.0), base, f);
      shearRow(src, W, r, base, f, dst.at(0, r), W2, bg);
    }
    image.copyTransferOwnership(out);
  }
};

} // namespace

Image* copy_crop_shear(Image& image, int x, int y, unsigned int w, unsigned int h,
                       double xAngle, double yAngle, const Image::iterator& background)
{
  if (angleTooHigh(xAngle, yAngle))
    xAngle = yAngle = 0.0;
  if (!isPixelType(image))
    return nullptr;
  return codegen_return<Image*, copy_crop_shear_template>(image, x, y, w, h, xAngle, yAngle,
                                                           background);
}

void shear(Image& image, double xAngle, double yAngle, const Image::iterator& background)
{
  if (xAngle == 0.0 && yAngle == 0.0)
    return;
  if (angleTooHigh(xAngle, yAngle) || !isPixelType(image))
    return;
  codegen<shear_template>(image, xAngle, yAngle, background);
}
