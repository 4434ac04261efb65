// The generic pixel cursor: walks an image of any pixel type, switching on
// the type at every call, and carries one colour value that can be loaded
// from, computed on and stored to pixels. Used where a colour passes between
// operations (backgrounds, fills) and for walks not worth a typed instance.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "image/Samples.hh"
#include "utility/Saturate.hh"

namespace image_iterator_detail {
inline void unhandled(int line)
{
  fprintf(stderr, "unhandled spp/bps in image/ImageIterator.hh:%d\n", line);
}
// Bytes per pixel of the byte-addressed types, 0 for the others.
inline int bytesPerPixel(int type)
{
  switch (type) {
  case Image::GRAY8: return 1;
  case Image::GRAY16: return 2;
  case Image::RGB8: return 3;
  case Image::RGBA8: return 4;
  case Image::RGB16: return 6;
  default: return 0;
  }
}
inline int load16(const uint8_t* p, int i) { return pixel_samples::load16(p + 2 * i); }
inline void store16(uint8_t* p, int i, int v) { pixel_samples::store16(p + 2 * i, (uint16_t)v); }
inline bool isBitType(int type)
{
  return type == Image::GRAY1 || type == Image::GRAY2 || type == Image::GRAY4;
}
inline int bitsOf(int type)
{
  return type == Image::GRAY1 ? 1 : type == Image::GRAY2 ? 2 : 4;
}
} // namespace image_iterator_detail

// Shared body of Image::iterator and Image::const_iterator.
template <typename Self, typename ImagePtr>
class basic_image_iterator {
public:
  ImagePtr image;
  uint32_t type;
  uint32_t stride;
  int32_t width;
  int32_t x;
  int32_t value[4];
  uint8_t* ptr;
  int32_t bitpos;

  basic_image_iterator(ImagePtr _image, bool end)
    : image(_image), type(_image->Type()), stride(0), width(_image->w), x(0),
      value{0, 0, 0, 0}, ptr(nullptr), bitpos(7)
  {
    if (type)
      stride = _image->stride();
    if (end) {
      ptr = _image->getRawDataEnd();
      x = width;
    } else {
      ptr = _image->getRawData();
    }
  }

  Self at(int _x, int _y) const
  {
    using namespace image_iterator_detail;
    Self tmp = static_cast<const Self&>(*this);
    uint8_t* base = image->data + (uint64_t)_y * stride;
    if (int bpp = bytesPerPixel(type)) {
      tmp.ptr = base + (int64_t)_x * bpp;
      tmp.x = _x;
    } else if (isBitType(type)) {
      const int bits = bitsOf(type), per = 8 / bits;
      tmp.ptr = base + _x / per;
      tmp.bitpos = 7 - (_x % per) * bits;
      tmp.x = _x;
    } else {
      unhandled(128);
    }
    return tmp;
  }

  Self& operator*()
  {
    switch (type) {
    case Image::GRAY1: value[0] = (*ptr >> bitpos) & 1 ? 255 : 0; break;
    case Image::GRAY2: value[0] = ((*ptr >> (bitpos - 1)) & 3) * 85; break;
    case Image::GRAY4: value[0] = ((*ptr >> (bitpos - 3)) & 15) * 17; break;
    case Image::GRAY8: value[0] = *ptr; break;
    case Image::GRAY16: value[0] = image_iterator_detail::load16(ptr, 0); break;
    case Image::RGB8:
      value[0] = ptr[0]; value[1] = ptr[1]; value[2] = ptr[2];
      break;
    case Image::RGBA8:
      value[0] = ptr[0]; value[1] = ptr[1]; value[2] = ptr[2]; value[3] = ptr[3];
      break;
    case Image::RGB16:
      value[0] = image_iterator_detail::load16(ptr, 0);
      value[1] = image_iterator_detail::load16(ptr, 1);
      value[2] = image_iterator_detail::load16(ptr, 2);
      break;
    default: image_iterator_detail::unhandled(178);
    }
    return static_cast<Self&>(*this);
  }

  int channels() const
  {
    switch (type) {
    case Image::RGB8: case Image::RGB16: return 3;
    case Image::RGBA8: return 4;
    default: return type ? 1 : 0;
    }
  }

  Self& operator+=(const basic_image_iterator& o) { return channelwise(o, 216, [](int32_t& a, int32_t b) { a += b; }); }
  Self& operator-=(const basic_image_iterator& o) { return channelwise(o, 298, [](int32_t& a, int32_t b) { a -= b; }); }
  Self& operator*=(int f) { return scalarwise(f, 341, [](int32_t& a, int b) { a *= b; }); }
  Self& operator/=(int f) { return scalarwise(f, 384, [](int32_t& a, int b) { a = b ? a / b : 0; }); }

  Self& operator++()
  {
    using namespace image_iterator_detail;
    if (int bpp = bytesPerPixel(type)) {
      ptr += bpp;
    } else if (isBitType(type)) {
      bitpos -= bitsOf(type);
      ++x;
      if (bitpos < 0 || x >= width) {
        bitpos = 7;
        ++ptr;
        if (x >= width)
          x = 0;
      }
    } else {
      unhandled(481);
    }
    return static_cast<Self&>(*this);
  }

  // Equality is byte-pointer equality: a column test as well would keep a
  // walk over 1-bit rows from ever meeting the end iterator.
  bool operator==(const basic_image_iterator& o) const { return ptr == o.ptr; }
  bool operator!=(const basic_image_iterator& o) const { return ptr != o.ptr; }

  uint16_t getL() const
  {
    switch (type) {
    case Image::GRAY1: case Image::GRAY2: case Image::GRAY4:
    case Image::GRAY8: case Image::GRAY16:
      return (uint16_t)value[0];
    case Image::RGB8: case Image::RGBA8: case Image::RGB16:
      return (uint16_t)(int)(0.21267 * value[0] + 0.71516 * value[1] + 0.07217 * value[2]);
    default:
      image_iterator_detail::unhandled(651);
      return 0;
    }
  }

  void getRGB(uint16_t* r, uint16_t* g, uint16_t* b) const
  {
    switch (type) {
    case Image::GRAY1: case Image::GRAY2: case Image::GRAY4:
    case Image::GRAY8: case Image::GRAY16:
      *r = *g = *b = (uint16_t)value[0];
      break;
    case Image::RGB8: case Image::RGBA8: case Image::RGB16:
      *r = (uint16_t)value[0]; *g = (uint16_t)value[1]; *b = (uint16_t)value[2];
      break;
    default: image_iterator_detail::unhandled(679);
    }
  }

  void getRGB(double& r, double& g, double& b) const
  {
    switch (type) {
    case Image::GRAY1: case Image::GRAY2: case Image::GRAY4: case Image::GRAY8:
      r = g = b = value[0] / 255.0;
      break;
    case Image::GRAY16:
      r = g = b = value[0] / 65535.0;
      break;
    case Image::RGB8: case Image::RGBA8:
      r = value[0] / 255.0; g = value[1] / 255.0; b = value[2] / 255.0;
      break;
    case Image::RGB16:
      r = value[0] / 65535.0; g = value[1] / 65535.0; b = value[2] / 65535.0;
      break;
    default: image_iterator_detail::unhandled(710);
    }
  }

  void setRGB(uint16_t r, uint16_t g, uint16_t b)
  {
    switch (type) {
    case Image::GRAY1: case Image::GRAY2: case Image::GRAY4:
    case Image::GRAY8: case Image::GRAY16:
      value[0] = (int)(0.21267 * r + 0.71516 * g + 0.07217 * b);
      break;
    case Image::RGB8: case Image::RGBA8: case Image::RGB16:
      value[0] = r; value[1] = g; value[2] = b;
      break;
    default: image_iterator_detail::unhandled(791);
    }
  }

  // Components 0..1; values outside that range (script input) clamp to the
  // type's range rather than wrapping in the stored sample.
  void setRGB(double r, double g, double b)
  {
    switch (type) {
    case Image::GRAY1: case Image::GRAY2: case Image::GRAY4: case Image::GRAY8:
      value[0] = scaled(0.21267 * r + 0.71516 * g + 0.07217 * b, 255);
      break;
    case Image::GRAY16:
      value[0] = scaled(0.21267 * r + 0.71516 * g + 0.07217 * b, 65535);
      break;
    case Image::RGB8: case Image::RGBA8:
      value[0] = scaled(r, 255); value[1] = scaled(g, 255); value[2] = scaled(b, 255);
      break;
    case Image::RGB16:
      value[0] = scaled(r, 65535); value[1] = scaled(g, 65535); value[2] = scaled(b, 65535);
      break;
    default: image_iterator_detail::unhandled(824);
    }
  }

protected:
  static int32_t scaled(double c, int max)
  {
    return clamp_int<int32_t>(saturate_cast<int32_t>(c * max), 0, max);
  }

  template <typename F>
  Self& channelwise(const basic_image_iterator& o, int line, F f)
  {
    const int n = channels();
    if (!n)
      image_iterator_detail::unhandled(line);
    for (int i = 0; i < n; ++i)
      f(value[i], o.value[i]);
    return static_cast<Self&>(*this);
  }
  template <typename F>
  Self& scalarwise(int v, int line, F f)
  {
    const int n = channels();
    if (!n)
      image_iterator_detail::unhandled(line);
    for (int i = 0; i < n; ++i)
      f(value[i], v);
    return static_cast<Self&>(*this);
  }
};

class Image::iterator : public basic_image_iterator<Image::iterator, Image*> {
public:
  iterator(Image* image, bool end) : basic_image_iterator(image, end) {}

  Image::iterator& operator--()
  {
    using namespace image_iterator_detail;
    if (int bpp = bytesPerPixel(type)) {
      ptr -= bpp;
    } else if (isBitType(type)) {
      const int bits = bitsOf(type);
      bitpos += bits;
      --x;
      if (bitpos >= 8) {
        --ptr;
        bitpos = bits - 1;
      }
    } else {
      unhandled(622);
    }
    return *this;
  }

  // Stores other's value at this position; the caller marks the image
  // changed.
  void set(const basic_image_iterator& other)
  {
    switch (type) {
    case Image::GRAY1: putBits(other.value[0] >> 7, 1); break;
    case Image::GRAY2: putBits(other.value[0] >> 6, 2); break;
    case Image::GRAY4: putBits(other.value[0] >> 4, 4); break;
    case Image::GRAY8: *ptr = (uint8_t)other.value[0]; break;
    case Image::GRAY16: image_iterator_detail::store16(ptr, 0, other.value[0]); break;
    case Image::RGB8:
      ptr[0] = (uint8_t)other.value[0]; ptr[1] = (uint8_t)other.value[1];
      ptr[2] = (uint8_t)other.value[2];
      break;
    case Image::RGBA8:
      ptr[0] = (uint8_t)other.value[0]; ptr[1] = (uint8_t)other.value[1];
      ptr[2] = (uint8_t)other.value[2]; ptr[3] = (uint8_t)other.value[3];
      break;
    case Image::RGB16:
      for (int i = 0; i < 3; ++i)
        image_iterator_detail::store16(ptr, i, other.value[i]);
      break;
    default: image_iterator_detail::unhandled(889);
    }
  }

private:
  void putBits(int v, int bits)
  {
    const int mask = (1 << bits) - 1;
    const int shift = bitpos - bits + 1;
    *ptr = (uint8_t)((*ptr & ~(mask << shift)) | ((v & mask) << shift));
  }
};

class Image::const_iterator : public basic_image_iterator<Image::const_iterator, const Image*> {
public:
  const_iterator(const Image* image, bool end) : basic_image_iterator(image, end) {}

  // One row down in the same column; past the last row, the top of the next
  // column; past the last column, the end iterator.
  const_iterator& down()
  {
    using namespace image_iterator_detail;
    const uint8_t* base = image->data;
    const uint64_t total = (uint64_t)stride * (uint64_t)(image->h > 0 ? image->h : 0);
    if (int bpp = bytesPerPixel(type)) {
      ptr += stride;
      if ((uint64_t)(ptr - base) >= total) {
        const uint64_t col = ((uint64_t)(ptr - base) % stride) / bpp + 1;
        if ((int64_t)col >= width) {
          ptr = const_cast<uint8_t*>(base) + total;
          x = width;
        } else {
          ptr = const_cast<uint8_t*>(base) + col * bpp;
          x = (int32_t)col;
        }
      }
    } else if (isBitType(type)) {
      ptr += stride;
      if ((uint64_t)(ptr - base) >= total) {
        ptr -= total;
        ++x;
        if (x >= width) {
          ptr = const_cast<uint8_t*>(base) + total;
          x = width;
          bitpos = 7;
        } else {
          bitpos -= bitsOf(type);
          if (bitpos < 0) {
            bitpos = 7;
            ++ptr;
          }
        }
      }
    } else {
      unhandled(580);
    }
    return *this;
  }
};
