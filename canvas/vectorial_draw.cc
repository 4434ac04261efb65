// Vectorial drawing: paths, glyphs, gradients, image patterns, blending,
// blurring. Each call takes the canvas's pixels as they are now (View).
// GCC sees a use after free in the stack blur's buffer growth that the
// growth never makes (the old block is copied before it is freed).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif

#include <cmath>
#include <cstdint>

#include <agg_pixfmt_rgba.h>
#include <agg_renderer_base.h>
// after the renderer it refers to
#include <agg_blur.h>


#include "canvas/CompOp.hh"
#include "canvas/GlyphRaster.hh"
#include "canvas/Vectorial.hh"
#include "image/Image.hh"

namespace {

// Canvas device pixels to buffer pixels.
Transform toBuffer(const Vectorial::View& v)
{
  return Transform(agg::trans_affine_translation(v.shiftX, v.shiftY));
}

// Buffer pixels to canvas device pixels.
Transform fromBuffer(const Vectorial::View& v)
{
  return Transform(agg::trans_affine_translation(-v.shiftX, -v.shiftY));
}

// A mapping back from device pixels exists only for a regular transform.
bool invertible(const agg::trans_affine& t)
{
  const double d = t.determinant();
  return std::isfinite(d) && d != 0 && std::isfinite(1.0 / d);
}

} // namespace

Transform Vectorial::drawTransform(const View& v) const
{
  if (v.shiftX == 0 && v.shiftY == 0)
    return transform;
  Transform t(transform);
  t.multiply(toBuffer(v));
  return t;
}

template <class Fill>
void Vectorial::draw(unsigned factor, Fill fill)
{
  View v = view();
  if (v.empty())
    return;
  Rasterizer ras;
  setCanvasClipBox(ras, v.clip, factor);
  fill(ras, v);
}

void Vectorial::fillPath(XPath& path, int rule, bool lcd)
{
  const unsigned f = lcd && scale() <= 1 ? 3 : 1;
  draw(f, [&](Rasterizer& ras, View& v) {
    ras.filling_rule(rule == 1 ? agg::fill_even_odd : agg::fill_non_zero);
    rasterizePath(ras, path, drawTransform(v), f);
    if (f == 3)
      render_solid_lcd(ras, v.rbuf, v.clip, rgba);
    else
      render_solid(ras, v.rbuf, v.clip, rgba, compOp);
  });
}

void Vectorial::strokePath(XPath& path, double width)
{
  draw(1, [&](Rasterizer& ras, View& v) {
    rasterizeStrokedPath(ras, path, drawTransform(v), width, (agg::line_cap_e)lineCap,
                         (agg::line_join_e)lineJoin, miterLimit, &dashes, dashStart);
    render_solid(ras, v.rbuf, v.clip, rgba, compOp);
  });
}

void Vectorial::fillText(double x, double y, const Text& text, bool lcd)
{
  const unsigned f = lcd && scale() <= 1 ? 3 : 1;
  draw(f, [&](Rasterizer& ras, View& v) {
    rasterizeGlyph(ras, x, y, text, drawTransform(v), f);
    if (f == 3)
      render_solid_lcd(ras, v.rbuf, v.clip, rgba);
    else
      render_solid(ras, v.rbuf, v.clip, rgba, compOp);
  });
}

void Vectorial::strokeText(double x, double y, const Text& text, double width)
{
  draw(1, [&](Rasterizer& ras, View& v) {
    rasterizeStrokedGlyph(ras, x, y, text, drawTransform(v), width, (agg::line_cap_e)lineCap,
                          (agg::line_join_e)lineJoin, miterLimit, &dashes, dashStart);
    render_solid(ras, v.rbuf, v.clip, rgba, compOp);
  });
}

void Vectorial::fillPathGradient(XPath& path, const Transform* t)
{
  if (!invertible(transform))
    return;
  draw(1, [&](Rasterizer& ras, View& v) {
    rasterizePath(ras, path, drawTransform(v), 1);
    // Buffer pixels to user coordinates, then into gradient space.
    Transform g = fromBuffer(v);
    Transform inverse(transform);
    inverse.invert();
    g.multiply(inverse);
    if (t)
      g.multiply(*t);
    render_solid_gradient(ras, v.rbuf, v.clip, compOp, gradientType, gradientMode, g,
                          canvasGradientLut());
  });
}

void Vectorial::strokePathGradient(XPath& path, double width, const Transform* t)
{
  if (!invertible(transform))
    return;
  draw(1, [&](Rasterizer& ras, View& v) {
    rasterizeStrokedPath(ras, path, drawTransform(v), width, (agg::line_cap_e)lineCap,
                         (agg::line_join_e)lineJoin, miterLimit, &dashes, dashStart);
    Transform g = fromBuffer(v);
    Transform inverse(transform);
    inverse.invert();
    g.multiply(inverse);
    if (t)
      g.multiply(*t);
    render_solid_gradient(ras, v.rbuf, v.clip, compOp, gradientType, gradientMode, g,
                          canvasGradientLut());
  });
}

void Vectorial::fillTextGradient(double x, double y, const Text& text, const Transform* t)
{
  draw(1, [&](Rasterizer& ras, View& v) {
    rasterizeGlyph(ras, x, y, text, drawTransform(v), 1);
    // The gradient lies in device pixels.
    Transform g = fromBuffer(v);
    if (t)
      g.multiply(*t);
    render_solid_gradient(ras, v.rbuf, v.clip, compOp, gradientType, gradientMode, g,
                          canvasGradientLut());
  });
}

void Vectorial::fillPathImage(XPath& path, Image& image, double alpha, const Transform* t,
                              bool smooth)
{
  // Without t one image pixel is one user unit; t places the image in
  // canvas units, whatever the user transform.
  Transform placed(transform);
  if (t) {
    placed = *t;
    placed.multiply(baseTransform);
  }
  if (!invertible(placed))
    return;
  placed.invert();
  draw(1, [&](Rasterizer& ras, View& v) {
    rasterizePath(ras, path, drawTransform(v), 1);
    Transform m = fromBuffer(v);
    m.multiply(placed);
    render_solid_image(ras, v.rbuf, v.clip, compOp, image, alpha, m, smooth);
  });
}

void Vectorial::fillTextImage(double x, double y, const Text& text, Image& image)
{
  draw(1, [&](Rasterizer& ras, View& v) {
    rasterizeGlyph(ras, x, y, text, drawTransform(v), 1);
    render_solid_image(ras, v.rbuf, v.clip, compOp, image, 1.0, fromBuffer(v), true);
  });
}

void Vectorial::blend(Vectorial& source, int dx, int dy, double alpha)
{
  View v = view();
  View sv = source.view();
  if (v.empty() || sv.rbuf.width() == 0 || sv.rbuf.height() == 0)
    return;
  const double a = alpha > 0 ? (alpha < 1 ? alpha : 1) : 0; // NaN: 0
  const agg::cover_type cover = (agg::cover_type)((int)(a * 255) & 255);
  if (cover == 0)
    return;
  PixfmtPlain dst(v.rbuf);
  RendererPlain ren(dst);
  ren.clip_box(v.clip.x1, v.clip.y1, v.clip.x2, v.clip.y2);
  PixfmtPlain src(sv.rbuf);
  agg::rect_i whole(0, 0, (int)sv.rbuf.width() - 1, (int)sv.rbuf.height() - 1);
  // Source buffer pixel i is source canvas pixel i - shift.
  const int64_t ox = (int64_t)dx - sv.shiftX + v.shiftX;
  const int64_t oy = (int64_t)dy - sv.shiftY + v.shiftY;
  if (ox > INT32_MAX / 2 || ox < INT32_MIN / 2 || oy > INT32_MAX / 2 || oy < INT32_MIN / 2)
    return;
  ren.blend_from(src, &whole, (int)ox, (int)oy, cover);
}

void Vectorial::blur(double radius)
{
  double sx, sy;
  transform.scaling(sx, sy);
  const double r = radius * sy;
  if (!std::isfinite(r) || r <= 0)
    return;
  View v = view();
  if (v.rbuf.width() == 0 || v.rbuf.height() == 0)
    return;
  PixfmtPlain pixf(v.rbuf);
  if (r <= 254 && r == (int)r) {
    agg::stack_blur_rgba32(pixf, (unsigned)r, (unsigned)r);
  } else {
    agg::recursive_blur<agg::rgba8, agg::recursive_blur_calc_rgba<double>> rb;
    rb.blur_x(pixf, r);
    agg::pixfmt_transposer<PixfmtPlain> transposed(pixf);
    rb.blur_x(transposed, r);
  }
}
