// Body of the image-pattern renderer, included only by the translation
// units that instantiate it for one target renderer each.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <agg_image_accessors.h>
#include <agg_image_filters.h>
#include <agg_pixfmt_gray.h>
#include <agg_pixfmt_rgb.h>
#include <agg_renderer_scanline.h>
#include <agg_span_allocator.h>
#include <agg_span_converter.h>
#include <agg_span_image_filter_gray.h>
#include <agg_span_image_filter_rgb.h>
#include <agg_span_image_filter_rgba.h>
#include <agg_span_interpolator_linear.h>

#include "canvas/ImagePattern.hh"
#include "image/PixelType.hh"

// Rows of a gray image as 8-bit values: 8-bit rows are the image's own;
// 1-, 2- and 4-bit rows are expanded to full levels, 16-bit rows narrowed
// to each sample's high byte, each on first access.
template <class T>
class row_accessor_grayX {
public:
  typedef agg::const_row_info<T> row_data;

  row_accessor_grayX() {}
  row_accessor_grayX(T* buf, unsigned width, unsigned height, int stride, unsigned bps)
  {
    attach(buf, width, height, stride, bps);
  }
  ~row_accessor_grayX() { release(); }
  row_accessor_grayX(const row_accessor_grayX&) = delete;
  row_accessor_grayX& operator=(const row_accessor_grayX&) = delete;

  void attach(T* buf, unsigned width, unsigned height, int stride, unsigned bps)
  {
    release();
    m_buf = buf;
    m_start = stride < 0 ? buf - (int64_t)(height - 1) * stride : buf;
    m_width = width;
    m_height = height;
    m_stride = stride;
    m_bps = bps;
    m_rows.assign(m_bps == 8 ? 0 : height, nullptr);
  }

  unsigned width() const { return m_width; }
  unsigned height() const { return m_height; }
  int stride() const { return m_stride; }

  T* row_ptr(int y)
  {
    T* row = m_start + (int64_t)y * m_stride;
    if (m_bps == 8)
      return row;
    T*& cached = m_rows[y];
    if (!cached) {
      cached = (T*)malloc(m_width ? m_width : 1);
      if (!cached)
        throw std::bad_alloc();
      expand(row, cached);
    }
    return cached;
  }
  T* row_ptr(int, int y, unsigned) { return row_ptr(y); }
  row_data row(int y) { return row_data(0, m_width - 1, row_ptr(y)); }

private:
  void expand(const T* src, T* dst) const
  {
    if (m_bps == 16) {
      for (unsigned x = 0; x < m_width; ++x) {
        uint16_t v;
        memcpy(&v, src + 2 * x, 2);
        dst[x] = (T)(v >> 8);
      }
      return;
    }
    const unsigned max = (1u << m_bps) - 1, per = 8 / m_bps;
    for (unsigned x = 0; x < m_width; ++x) {
      const unsigned shift = 8 - m_bps * (x % per + 1);
      dst[x] = (T)(((src[x / per] >> shift) & max) * 255 / max);
    }
  }
  void release()
  {
    for (T* r : m_rows)
      free(r);
    m_rows.clear();
  }

  T* m_buf = nullptr;
  T* m_start = nullptr;
  unsigned m_width = 0, m_height = 0;
  int m_stride = 0;
  unsigned m_bps = 8;
  std::vector<T*> m_rows;
};

// Span generators over gray8 or 16-bit RGB(A) sources, delivering rgba8.
template <class Gen>
class span_adapt_gray8_rgba8 {
public:
  typedef agg::rgba8 color_type;
  explicit span_adapt_gray8_rgba8(Gen& gen) : m_gen(gen) {}
  void prepare() { m_gen.prepare(); }
  void generate(color_type* span, int x, int y, unsigned len)
  {
    grow(m_buf, len);
    m_gen.generate(m_buf.data(), x, y, len);
    for (unsigned i = 0; i < len; ++i) {
      const agg::int8u v = m_buf[i].v;
      span[i] = color_type(v, v, v, 255);
    }
  }

private:
  template <class V>
  static void grow(V& buf, unsigned len)
  {
    if (buf.size() < len)
      buf.resize((len + 255) / 256 * 256);
  }
  Gen& m_gen;
  std::vector<agg::gray8> m_buf;
};

template <class Gen>
class span_adapt_rgba16_rgba8 {
public:
  typedef agg::rgba8 color_type;
  explicit span_adapt_rgba16_rgba8(Gen& gen) : m_gen(gen) {}
  void prepare() { m_gen.prepare(); }
  void generate(color_type* span, int x, int y, unsigned len)
  {
    if (m_buf.size() < len)
      m_buf.resize((len + 255) / 256 * 256);
    m_gen.generate(m_buf.data(), x, y, len);
    for (unsigned i = 0; i < len; ++i) {
      const agg::rgba16& c = m_buf[i];
      span[i] = color_type(c.r >> 8, c.g >> 8, c.b >> 8, c.a >> 8);
    }
  }

private:
  Gen& m_gen;
  std::vector<agg::rgba16> m_buf;
};

// Scales every generated pixel's alpha by a constant byte.
class span_conv_alpha_rgb8 {
public:
  explicit span_conv_alpha_rgb8(agg::int8u alpha) : m_alpha(alpha) {}
  void prepare() {}
  void generate(agg::rgba8* span, int, int, unsigned len) const
  {
    for (unsigned i = 0; i < len; ++i)
      span[i].a = (agg::int8u)(span[i].a * m_alpha / 255);
  }

private:
  unsigned m_alpha;
};

template <class Renderer, class Span>
void render_solid_image_template_int(Rasterizer& ras, Renderer& ren, Span& span, double alpha)
{
  const unsigned a = patternAlphaByte(alpha);
  Scanline sl;
  agg::span_allocator<agg::rgba8> alloc;
  if (a == 255) {
    agg::render_scanlines_aa(ras, sl, ren, alloc, span);
  } else {
    span_conv_alpha_rgb8 conv((agg::int8u)a);
    agg::span_converter<Span, span_conv_alpha_rgb8> converted(span, conv);
    agg::render_scanlines_aa(ras, sl, ren, alloc, converted);
  }
}

namespace image_pattern_detail {

typedef agg::span_interpolator_linear<agg::trans_affine, 8u> Interpolator;

// Nearest or bilinear sampling of one source pixel format, with the
// adapter that brings its colours to rgba8.
template <class Renderer, class Pixfmt, template <class, class> class Nearest,
          template <class, class> class Bilinear, template <class> class Adapt>
void sample(Rasterizer& ras, Renderer& ren, Pixfmt& pixf, double alpha, Interpolator& inter,
            agg::image_filter_lut& lut, bool bilinear)
{
  typedef agg::image_accessor_clone<Pixfmt> Accessor;
  Accessor source(pixf);
  if (bilinear) {
    Bilinear<Accessor, Interpolator> gen(source, inter, lut);
    Adapt<Bilinear<Accessor, Interpolator>> span(gen);
    render_solid_image_template_int(ras, ren, span, alpha);
  } else {
    Nearest<Accessor, Interpolator> gen(source, inter);
    Adapt<Nearest<Accessor, Interpolator>> span(gen);
    render_solid_image_template_int(ras, ren, span, alpha);
  }
}

// No adapter: the generator already gives rgba8.
template <class Gen>
class span_direct {
public:
  typedef agg::rgba8 color_type;
  explicit span_direct(Gen& gen) : m_gen(gen) {}
  void prepare() { m_gen.prepare(); }
  void generate(color_type* span, int x, int y, unsigned len) { m_gen.generate(span, x, y, len); }

private:
  Gen& m_gen;
};

} // namespace image_pattern_detail

template <class Renderer>
void render_solid_image_template(Rasterizer& ras, Renderer& ren, Image& image, double alpha,
                                 const Transform& m, bool smooth)
{
  using namespace image_pattern_detail;
  uint8_t* pixels = image.getRawData();
  if (!pixels || image.w <= 0 || image.h <= 0) {
    fprintf(stderr, "render_solid_image: no image data!\n");
    return;
  }
  const bool rgba64 = image.spp == 4 && image.bps == 16;
  if (!isPixelType(image) && !rgba64) {
    fprintf(stderr, "render_solid_image: unsupported pattern layout: %d x %d bits\n",
            (int)image.spp, (int)image.bps);
    return;
  }
  agg::image_filter_lut lut(agg::image_filter_bilinear(), true);
  const int stride = (int)image.stride();
  agg::rendering_buffer rbuf(pixels, image.w, image.h, stride);
  const bool bilinear = smooth && !isIdentity(m);
  Transform mapping(m); // the interpolator holds a mutable reference
  Interpolator inter(mapping);

  if (image.spp == 1) {
    row_accessor_grayX<agg::int8u> rows(pixels, image.w, image.h, stride, image.bps);
    typedef agg::pixfmt_alpha_blend_gray<agg::blender_gray8, row_accessor_grayX<agg::int8u>>
        PixfmtGray;
    PixfmtGray pixf(rows);
    sample<Renderer, PixfmtGray, agg::span_image_filter_gray_nn, agg::span_image_filter_gray,
           span_adapt_gray8_rgba8>(ras, ren, pixf, alpha, inter, lut, bilinear);
  } else if (image.spp == 4 && image.bps == 8) {
    agg::pixfmt_rgba32 pixf(rbuf);
    sample<Renderer, agg::pixfmt_rgba32, agg::span_image_filter_rgba_nn,
           agg::span_image_filter_rgba, span_direct>(ras, ren, pixf, alpha, inter, lut,
                                                     bilinear);
  } else if (rgba64) {
    agg::pixfmt_rgba64 pixf(rbuf);
    sample<Renderer, agg::pixfmt_rgba64, agg::span_image_filter_rgb_nn,
           agg::span_image_filter_rgb, span_adapt_rgba16_rgba8>(ras, ren, pixf, alpha, inter,
                                                                lut, bilinear);
  } else if (image.bps == 8) {
    agg::pixfmt_rgb24 pixf(rbuf);
    sample<Renderer, agg::pixfmt_rgb24, agg::span_image_filter_rgb_nn,
           agg::span_image_filter_rgb, span_direct>(ras, ren, pixf, alpha, inter, lut,
                                                    bilinear);
  } else {
    agg::pixfmt_rgb48 pixf(rbuf);
    sample<Renderer, agg::pixfmt_rgb48, agg::span_image_filter_rgb_nn,
           agg::span_image_filter_rgb, span_adapt_rgba16_rgba8>(ras, ren, pixf, alpha, inter,
                                                                lut, bilinear);
  }
}
