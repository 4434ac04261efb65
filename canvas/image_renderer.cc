// Span blending into Image pixels of every type: through Image::iterator,
// and in place for the 8-bit byte types.
#include "canvas/ImageRenderer.hh"

namespace {

bool isWide(uint32_t type) { return type == Image::GRAY16 || type == Image::RGB16; }
bool isGray(uint32_t type) { return type >= Image::GRAY1 && type <= Image::GRAY16; }

// Stores r, g, b (in the image's sample range) into the iterator's value.
// Gray targets take a gray colour unchanged: their luminance weights
// would otherwise round some levels one step down on every blend.
void storeRGB(Image::iterator& it, unsigned r, unsigned g, unsigned b)
{
  if (isGray(it.type) && r == g && g == b)
    it.value[0] = (int32_t)r;
  else
    it.setRGB((uint16_t)r, (uint16_t)g, (uint16_t)b);
}

// Effective alpha of a pixel: ((cover + 1) * colour alpha) >> 8.
inline unsigned effective(unsigned cover, unsigned alpha) { return ((cover + 1) * alpha) >> 8; }

// Luminance of an 8-bit colour as the image core stores it in gray pixels,
// a gray colour kept as it is (see storeRGB).
inline unsigned gray8Of(unsigned r, unsigned g, unsigned b)
{
  return r == g && g == b ? r : (unsigned)(int)(0.21267 * r + 0.71516 * g + 0.07217 * b);
}

inline unsigned mix8(unsigned c, unsigned n, int k)
{
  return (unsigned)((((int)c << 8) + ((int)n - (int)c) * k) >> 8) & 255;
}

// Walks one span. 8-bit gray, RGB and RGBA pixels are read and written in
// place with the same arithmetic as the iterator path the other types take.
struct Painter {
  Image* image;
  Image::iterator it;
  bool wide, rgba;
  int bpp = 0;          // bytes per pixel of the direct types, else 0
  uint8_t* p = nullptr;

  explicit Painter(Image* target)
    : image(target), it(target, false), wide(isWide(it.type)), rgba(it.type == Image::RGBA8)
  {
    if (it.type == Image::GRAY8)
      bpp = 1;
    else if (it.type == Image::RGB8)
      bpp = 3;
    else if (it.type == Image::RGBA8)
      bpp = 4;
  }

  void start(int x, int y)
  {
    if (bpp)
      p = image->data + (uint64_t)y * image->stride() + (int64_t)x * bpp;
    else
      it = it.at(x, y);
  }
  void next()
  {
    if (bpp)
      p += bpp;
    else
      ++it;
  }

  void opaque(const agg::rgba8& c)
  {
    if (bpp == 1) {
      *p = (uint8_t)gray8Of(c.r, c.g, c.b);
    } else if (bpp) {
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
      if (bpp == 4)
        p[3] = 255;
    } else {
      const unsigned m = wide ? 257 : 1;
      storeRGB(it, c.r * m, c.g * m, c.b * m);
      if (rgba)
        it.value[3] = 255;
      it.set(it);
    }
  }
  void blend(const agg::rgba8& c, unsigned k, unsigned cover)
  {
    if (bpp == 1) {
      const unsigned v = *p;
      *p = (uint8_t)gray8Of(mix8(v, c.r, (int)k), mix8(v, c.g, (int)k), mix8(v, c.b, (int)k));
    } else if (bpp) {
      p[0] = (uint8_t)mix8(p[0], c.r, (int)k);
      p[1] = (uint8_t)mix8(p[1], c.g, (int)k);
      p[2] = (uint8_t)mix8(p[2], c.b, (int)k);
      if (bpp == 4) {
        const unsigned a = p[3];
        p[3] = (uint8_t)((a + k - ((a * k + 255) >> 8)) & 255);
      }
    } else {
      renderer_norvel_image::blender_norvel_image::blend_pix(it, c.r, c.g, c.b, k, cover);
    }
  }
  void pixel(const agg::rgba8& c, unsigned cover)
  {
    const unsigned k = effective(cover, c.a);
    if (k >= 255)
      opaque(c);
    else if (k)
      blend(c, k, cover);
  }
};

} // namespace

void renderer_norvel_image::blender_norvel_image::blend_pix(Image::iterator& it, unsigned r,
                                                            unsigned g, unsigned b,
                                                            unsigned alpha, unsigned)
{
  *it;
  uint16_t cr = 0, cg = 0, cb = 0;
  it.getRGB(&cr, &cg, &cb);
  const int k = (int)alpha;
  if (isWide(it.type)) {
    auto mix = [k](int c, int n) { return (unsigned)(((c << 8) + (n * 257 - c) * k) >> 8); };
    storeRGB(it, mix(cr, (int)r), mix(cg, (int)g), mix(cb, (int)b));
  } else {
    auto mix = [k](int c, int n) { return (unsigned)(((c << 8) + (n - c) * k) >> 8) & 255; };
    storeRGB(it, mix(cr, (int)r), mix(cg, (int)g), mix(cb, (int)b));
  }
  if (it.type == Image::RGBA8) {
    const int a = it.value[3];
    it.value[3] = (a + k - ((a * k + 255) >> 8)) & 255;
  }
  it.set(it);
}

renderer_norvel_image::renderer_norvel_image(Image& target)
  : image(&target), clip(0, 0, target.w - 1, target.h - 1)
{
}

void renderer_norvel_image::blend_solid_hspan(int x, int y, int len, const color_type& c,
                                              const agg::int8u* covers)
{
  if (!c.a || y < clip.y1 || y > clip.y2 || len <= 0)
    return;
  if (x < clip.x1) {
    const int d = clip.x1 - x;
    len -= d;
    if (len <= 0)
      return;
    covers += d;
    x = clip.x1;
  }
  if (x + len - 1 > clip.x2) {
    len = clip.x2 - x + 1;
    if (len <= 0)
      return;
  }
  Painter p(image);
  p.start(x, y);
  for (int i = 0; i < len; ++i, p.next())
    p.pixel(c, covers[i]);
  image->setRawData();
}

void renderer_norvel_image::blend_hline(int x1, int y, int x2, const color_type& c,
                                        agg::int8u cover)
{
  if (x1 > x2) {
    const int t = x1; x1 = x2; x2 = t;
  }
  if (!c.a || y < clip.y1 || y > clip.y2 || x2 < clip.x1 || x1 > clip.x2)
    return;
  if (x1 < clip.x1) x1 = clip.x1;
  if (x2 > clip.x2) x2 = clip.x2;
  Painter p(image);
  p.start(x1, y);
  const unsigned k = effective(cover, c.a);
  if (k >= 255 && !p.bpp) {
    // One colour value stored into every pixel of the run.
    const unsigned m = p.wide ? 257 : 1;
    storeRGB(p.it, c.r * m, c.g * m, c.b * m);
    if (p.rgba)
      p.it.value[3] = 255;
    for (int x = x1; x <= x2; ++x, ++p.it)
      p.it.set(p.it);
  } else if (k >= 255) {
    for (int x = x1; x <= x2; ++x, p.next())
      p.opaque(c);
  } else if (k) {
    for (int x = x1; x <= x2; ++x, p.next())
      p.blend(c, k, cover);
  }
  image->setRawData();
}

void renderer_norvel_image::blend_color_hspan(int x, int y, int len, const color_type* colors,
                                              const agg::int8u* covers, agg::int8u cover)
{
  if (y < clip.y1 || y > clip.y2 || len <= 0)
    return;
  if (x < clip.x1) {
    const int d = clip.x1 - x;
    len -= d;
    if (len <= 0)
      return;
    if (covers)
      covers += d;
    colors += d;
    x = clip.x1;
  }
  if (x + len - 1 > clip.x2) {
    len = clip.x2 - x + 1;
    if (len <= 0)
      return;
  }
  Painter p(image);
  p.start(x, y);
  for (int i = 0; i < len; ++i, p.next())
    p.pixel(colors[i], covers ? covers[i] : cover);
  image->setRawData();
}
