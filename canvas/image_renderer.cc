// Span blending into Image pixels of every type through Image::iterator.
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

struct Painter {
  Image::iterator it;
  bool wide, rgba;
  explicit Painter(Image* image) : it(image, false), wide(isWide(it.type)), rgba(it.type == Image::RGBA8) {}

  void opaque(const agg::rgba8& c)
  {
    const unsigned m = wide ? 257 : 1;
    storeRGB(it, c.r * m, c.g * m, c.b * m);
    if (rgba)
      it.value[3] = 255;
    it.set(it);
  }
  void pixel(const agg::rgba8& c, unsigned cover)
  {
    const unsigned k = effective(cover, c.a);
    if (k >= 255)
      opaque(c);
    else if (k)
      renderer_norvel_image::blender_norvel_image::blend_pix(it, c.r, c.g, c.b, k, cover);
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
  p.it = p.it.at(x, y);
  for (int i = 0; i < len; ++i, ++p.it)
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
  p.it = p.it.at(x1, y);
  const unsigned k = effective(cover, c.a);
  if (k >= 255) {
    // One colour value stored into every pixel of the run.
    const unsigned m = p.wide ? 257 : 1;
    storeRGB(p.it, c.r * m, c.g * m, c.b * m);
    if (p.rgba)
      p.it.value[3] = 255;
    for (int x = x1; x <= x2; ++x, ++p.it)
      p.it.set(p.it);
  } else if (k) {
    for (int x = x1; x <= x2; ++x, ++p.it)
      blender_norvel_image::blend_pix(p.it, c.r, c.g, c.b, k, cover);
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
  p.it = p.it.at(x, y);
  for (int i = 0; i < len; ++i, ++p.it)
    p.pixel(colors[i], covers ? covers[i] : cover);
  image->setRawData();
}
