// Fills, strokes and pattern fills into Images through the image renderer.
#include "canvas/ImageDrawing.hh"

#include <cmath>
#include <cstdio>

#include <agg_renderer_scanline.h>

#include "canvas/ImagePattern.hh"
#include "canvas/ImageRenderer.hh"
#include "canvas/Rasterizer.hh"
#include "image/PixelType.hh"

unsigned char colorByte(double c)
{
  if (!(c > 0))
    return 0;
  if (c > 1)
    c = 1;
  return (unsigned char)(int)(c * 255 + 0.5);
}

namespace {

bool drawable(Image& image)
{
  if (image.empty())
    return false;
  if (!isPixelType(image)) {
    fprintf(stderr, "drawing: unsupported image layout: %d x %d bits\n", (int)image.spp,
            (int)image.bps);
    return false;
  }
  return true;
}

void prepare(Rasterizer& ras, const Image& image, bool evenOdd)
{
  ras.clip_box(0, 0, image.w, image.h);
  ras.filling_rule(evenOdd ? agg::fill_even_odd : agg::fill_non_zero);
}

void renderSolid(Rasterizer& ras, Image& image, const ImageColor& color)
{
  renderer_norvel_image ren(image);
  agg::renderer_scanline_aa_solid<renderer_norvel_image> solid(ren);
  solid.color(agg::rgba8(colorByte(color.r), colorByte(color.g), colorByte(color.b),
                         colorByte(color.a)));
  Scanline sl;
  agg::render_scanlines(ras, sl, solid);
}

bool finite(const agg::trans_affine& m)
{
  return std::isfinite(m.sx) && std::isfinite(m.shy) && std::isfinite(m.shx) &&
         std::isfinite(m.sy) && std::isfinite(m.tx) && std::isfinite(m.ty);
}

} // namespace

void imageFillPath(Image& image, XPath& path, const Transform& t, const ImageColor& color,
                   bool evenOdd)
{
  if (!drawable(image))
    return;
  Rasterizer ras;
  prepare(ras, image, evenOdd);
  rasterizePath(ras, path, t, 1);
  renderSolid(ras, image, color);
}

void imageStrokePath(Image& image, XPath& path, const Transform& t, const ImageColor& color,
                     double width, int cap, int join, float miterLimit,
                     const std::vector<float>* dashes, float dashStart)
{
  if (!drawable(image))
    return;
  Rasterizer ras;
  prepare(ras, image, false);
  rasterizeStrokedPath(ras, path, t, width, (agg::line_cap_e)cap, (agg::line_join_e)join,
                       miterLimit, dashes, dashStart);
  renderSolid(ras, image, color);
}

void imageFillPathImage(Image& image, XPath& path, const Transform& t, Image& pattern,
                        double alpha, const Transform* patternTransform, bool smooth,
                        bool evenOdd)
{
  if (!drawable(image))
    return;
  Transform m = patternTransform ? *patternTransform : t;
  if (std::fabs(m.determinant()) < 1e-300 || !finite(m)) {
    fprintf(stderr, "fillPathImage: pattern transform cannot be inverted\n");
    return;
  }
  m.invert();
  if (!finite(m)) {
    fprintf(stderr, "fillPathImage: pattern transform cannot be inverted\n");
    return;
  }
  Rasterizer ras;
  prepare(ras, image, evenOdd);
  rasterizePath(ras, path, t, 1);
  renderer_norvel_image ren(image);
  render_solid_image_template(ras, ren, pattern, alpha, m, smooth);
}
