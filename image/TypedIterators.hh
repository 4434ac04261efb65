// Typed pixel iterators and the dispatch by pixel type. A per-pixel
// algorithm is a functor template over one of these iterators; codegen picks
// the instantiation from spp and bps once per call, so inner loops run on a
// cursor whose layout is fixed at compile time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "image/Image.hh"
#include "image/PixelType.hh"

// Channel values of one pixel as integers, for arithmetic; `MAX` is the
// type's full scale, `N` the channel count (alpha included).
template <typename T, int N, int MAX>
class pixel_accu {
public:
  typedef T vtype;
  enum { samples = N, maxval = MAX };
  T v[N];

  pixel_accu() { for (int i = 0; i < N; ++i) v[i] = 0; }

  T& operator[](int i) { return v[i]; }
  const T& operator[](int i) const { return v[i]; }

  pixel_accu& operator+=(const pixel_accu& o) { for (int i = 0; i < N; ++i) v[i] += o.v[i]; return *this; }
  pixel_accu& operator-=(const pixel_accu& o) { for (int i = 0; i < N; ++i) v[i] -= o.v[i]; return *this; }
  pixel_accu& operator*=(int f) { for (int i = 0; i < N; ++i) v[i] *= f; return *this; }
  pixel_accu& operator/=(int f) { for (int i = 0; i < N; ++i) v[i] /= f; return *this; }
  pixel_accu operator+(const pixel_accu& o) const { pixel_accu r = *this; return r += o; }
  pixel_accu operator-(const pixel_accu& o) const { pixel_accu r = *this; return r -= o; }
  pixel_accu operator*(int f) const { pixel_accu r = *this; return r *= f; }
  pixel_accu operator/(int f) const { pixel_accu r = *this; return r /= f; }

  pixel_accu& saturate()
  {
    for (int i = 0; i < N; ++i)
      v[i] = v[i] < 0 ? 0 : (v[i] > MAX ? MAX : v[i]);
    return *this;
  }

  // Luminance: the gray value, or (11 R + 16 G + 5 B) / 32 for colour.
  T getL() const
  {
    if (N < 3)
      return v[0];
    return (11 * v[0] + 16 * v[1] + 5 * v[2]) / 32;
  }

  // Sets the colour channels from red, green, blue on the type's scale;
  // gray types reduce to luminance, alpha is left alone.
  void setRGB(T r, T g, T b)
  {
    if (N < 3) {
      v[0] = (11 * r + 16 * g + 5 * b) / 32;
    } else {
      v[0] = r; v[1] = g; v[2] = b;
    }
  }

  void getRGB(T& r, T& g, T& b) const
  {
    if (N < 3) {
      r = g = b = v[0];
    } else {
      r = v[0]; g = v[1]; b = v[2];
    }
  }

  // Takes the colour of a generic iterator: channels are its components in
  // 0..1 scaled to the type and truncated; alpha is the source's alpha when
  // it is RGBA8, else opaque.
  template <typename It>
  pixel_accu& operator=(const It& it)
  {
    double r = 0, g = 0, b = 0;
    it.getRGB(r, g, b);
    if (N < 3) {
      const bool gray = it.type <= Image::GRAY16;
      const double c = gray ? r : 0.21267 * r + 0.71516 * g + 0.07217 * b;
      v[0] = (T)(int64_t)(c * MAX);
    } else {
      v[0] = (T)(int64_t)(r * MAX);
      v[1] = (T)(int64_t)(g * MAX);
      v[2] = (T)(int64_t)(b * MAX);
    }
    if (N == 4)
      v[3] = it.type == Image::RGBA8 ? (T)it.value[3] : (T)MAX;
    return *this;
  }
};

// Byte-addressed iterator over pixels of `N` samples of type `S`.
template <typename S, int N, typename AccuT, int MAX>
class byte_iterator {
public:
  typedef pixel_accu<AccuT, N, MAX> accu;
  enum { bytes = N * sizeof(S) };

  uint8_t* ptr;
  uint8_t* begin;
  const Image* image;
  uint32_t stride;

  explicit byte_iterator(const Image& _image)
    : ptr(_image.getRawData()), begin(ptr), image(&_image),
      stride(_image.getRawData() ? _image.stride() : 0)
  {
  }

  byte_iterator at(int x, int y) const
  {
    byte_iterator tmp = *this;
    tmp.ptr = begin + (uint64_t)y * stride + (int64_t)x * bytes;
    return tmp;
  }

  // Samples are copied bytewise: rows of 16-bit images need not be aligned
  // (any stride is allowed); compilers turn this into plain loads.
  accu operator*() const
  {
    accu a;
    S s[N];
    memcpy(s, ptr, sizeof s);
    for (int i = 0; i < N; ++i)
      a.v[i] = s[i];
    return a;
  }

  byte_iterator& set(const accu& a)
  {
    S s[N];
    for (int i = 0; i < N; ++i)
      s[i] = (S)a.v[i];
    memcpy(ptr, s, sizeof s);
    return *this;
  }

  // Stores a colour given as red, green, blue on the type's scale: gray
  // reduces to (11 R + 16 G + 5 B) / 32, RGBA keeps its alpha.
  byte_iterator& setRGB(AccuT r, AccuT g, AccuT b)
  {
    if (N < 3) {
      const S v = (S)((11 * r + 16 * g + 5 * b) / 32);
      memcpy(ptr, &v, sizeof v);
    } else {
      const S v[3] = {(S)r, (S)g, (S)b};
      memcpy(ptr, v, sizeof v);
    }
    return *this;
  }

  byte_iterator& operator++() { ptr += bytes; return *this; }
  byte_iterator& operator--() { ptr -= bytes; return *this; }
  bool operator==(const byte_iterator& o) const { return ptr == o.ptr; }
  bool operator!=(const byte_iterator& o) const { return ptr != o.ptr; }
};

typedef byte_iterator<uint8_t, 1, int32_t, 255> gray_iterator;
typedef byte_iterator<uint16_t, 1, int32_t, 65535> gray16_iterator;
typedef byte_iterator<uint8_t, 3, int32_t, 255> rgb_iterator;
typedef byte_iterator<uint16_t, 3, int64_t, 65535> rgb16_iterator;
typedef byte_iterator<uint8_t, 4, int32_t, 255> rgba_iterator;
typedef byte_iterator<uint16_t, 4, int64_t, 65535> rgba16_iterator;

// Sub-byte gray samples of N bits, packed most significant bits first; rows
// start on a byte boundary. Values read and written on the 0..255 scale.
template <unsigned N>
class bit_iterator {
public:
  typedef pixel_accu<int32_t, 1, 255> accu;
  enum { bits = N };

  uint8_t* ptr;
  uint8_t* begin;
  int32_t x;
  const Image* image;
  int32_t width;
  uint32_t stride;
  int32_t bitpos;
  int32_t mask;

  explicit bit_iterator(const Image& _image)
    : ptr(_image.getRawData()), begin(ptr), x(0), image(&_image), width(_image.w),
      stride(_image.getRawData() ? _image.stride() : 0), bitpos(7), mask((1 << N) - 1)
  {
  }

  bit_iterator at(int _x, int y) const
  {
    bit_iterator tmp = *this;
    tmp.ptr = begin + (uint64_t)y * stride + ((int64_t)_x * N) / 8;
    tmp.bitpos = 7 - (_x % (8 / N)) * N;
    tmp.x = _x;
    return tmp;
  }

  accu operator*() const
  {
    accu a;
    a.v[0] = ((*ptr >> (bitpos - (int)N + 1)) & mask) * 255 / mask;
    return a;
  }

  bit_iterator& set(const accu& a)
  {
    const int shift = bitpos - (int)N + 1;
    const int v = (a.v[0] >> (8 - N)) & mask;
    *ptr = (uint8_t)((*ptr & ~(mask << shift)) | (v << shift));
    return *this;
  }

  bit_iterator& setRGB(int32_t r, int32_t g, int32_t b)
  {
    accu a;
    a.v[0] = (11 * r + 16 * g + 5 * b) / 32;
    return set(a);
  }

  bit_iterator& operator++()
  {
    ++x;
    bitpos -= N;
    if (bitpos < 0 || x == width) {
      bitpos = 7;
      ++ptr;
      if (x == width)
        x = 0;
    }
    return *this;
  }

  bit_iterator& operator--()
  {
    --x;
    bitpos += N;
    if (bitpos > 7) {
      --ptr;
      bitpos = N - 1;
    }
    return *this;
  }

  bool operator==(const bit_iterator& o) const { return ptr == o.ptr && bitpos == o.bitpos; }
  bool operator!=(const bit_iterator& o) const { return !(*this == o); }
};

namespace image_dispatch_detail {
inline void unhandled(const Image& image, int line)
{
  fprintf(stderr, "unhandled spp/bps in image/TypedIterators.hh:%d (spp %d, bps %d)\n",
          line, image.spp, image.bps);
}
} // namespace image_dispatch_detail

// Runs ALGO<iterator>()(image, args...) for the image's pixel type and
// returns its result; R() when nothing runs (R may be void). Samples that
// form none of the eight pixel types get one line on stderr and are left
// alone, as is an image without pixels or with an empty size.
template <typename R, template <typename> class ALGO, typename... T>
R codegen_return(Image& image, T&&... args)
{
  if (image.w <= 0 || image.h <= 0 || image.spp < 1 || image.spp > 4 || !image.getRawData()) {
    if (image.spp < 1 || image.spp > 4)
      image_dispatch_detail::unhandled(image, __LINE__);
    return R();
  }
  if (!isPixelType(image)) {
    image_dispatch_detail::unhandled(image, __LINE__);
    return R();
  }
  switch (image.spp * image.bps) {
  case 32: { ALGO<rgba_iterator> a; return a(image, args...); }
  case 24: { ALGO<rgb_iterator> a; return a(image, args...); }
  case 48: { ALGO<rgb16_iterator> a; return a(image, args...); }
  case 16: { ALGO<gray16_iterator> a; return a(image, args...); }
  case 8: { ALGO<gray_iterator> a; return a(image, args...); }
  case 4: { ALGO<bit_iterator<4>> a; return a(image, args...); }
  case 2: { ALGO<bit_iterator<2>> a; return a(image, args...); }
  default: { ALGO<bit_iterator<1>> a; return a(image, args...); }
  }
}

// codegen_return for functors without a result.
template <template <typename> class ALGO, typename... T>
void codegen(Image& image, T&&... args)
{
  codegen_return<void, ALGO>(image, args...);
}
