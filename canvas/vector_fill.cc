// Solid, LCD and gradient rendering into canvas buffers, and the pattern
// fill's choice of canvas blender.
#include "canvas/VectorFill.hh"

#include <cstdio>

#include <agg_renderer_scanline.h>
#include <agg_span_allocator.h>
#include <agg_span_interpolator_linear.h>

#include "canvas/CompOp.hh"
#include "canvas/Gradient.hh"
#include "canvas/ImagePattern.hh"
#include "canvas/ImageDrawing.hh"
#include "canvas/Lcd.hh"

GradientLut& canvasGradientLut()
{
  static GradientLut lut;
  return lut;
}

agg::rgba8 canvasColor(const double rgba[4])
{
  return agg::rgba8(colorByte(rgba[0]), colorByte(rgba[1]), colorByte(rgba[2]),
                    colorByte(rgba[3]));
}

void setCanvasClipBox(Rasterizer& ras, const agg::rect_i& clip, unsigned factor)
{
  const int f = factor < 1 ? 1 : (int)factor;
  ras.clip_box((double)(clip.x1 - f) * f, clip.y1 - 1, (double)(clip.x2 + f) * f, clip.y2 + 1);
}

namespace {

// Runs f with a renderer_base over the buffer for the operator, clipped
// to clip.
template <class F>
void withCanvasRenderer(agg::rendering_buffer& rbuf, const agg::rect_i& clip, int compOp, F f)
{
  if (compOp == CompSrcOver) {
    PixfmtPlain pixf(rbuf);
    RendererPlain ren(pixf);
    ren.clip_box(clip.x1, clip.y1, clip.x2, clip.y2);
    f(ren);
  } else {
    PixfmtComp pixf(rbuf, compOp);
    RendererComp ren(pixf);
    ren.clip_box(clip.x1, clip.y1, clip.x2, clip.y2);
    f(ren);
  }
}

} // namespace

void render_solid(Rasterizer& ras, agg::rendering_buffer& rbuf, const agg::rect_i& clip,
                  const double rgba[4], int compOp)
{
  const agg::rgba8 c = canvasColor(rgba);
  withCanvasRenderer(rbuf, clip, compOp, [&](auto& ren) {
    agg::renderer_scanline_aa_solid<std::remove_reference_t<decltype(ren)>> solid(ren);
    solid.color(c);
    Scanline sl;
    agg::render_scanlines(ras, sl, solid);
  });
}

void render_solid_lcd(Rasterizer& ras, agg::rendering_buffer& rbuf, const agg::rect_i& clip,
                      const double rgba[4])
{
  pixfmt_rgba32_lcd pixf(rbuf, lcd_subpix_lut);
  agg::renderer_base<pixfmt_rgba32_lcd> ren(pixf);
  ren.clip_box(3 * clip.x1, clip.y1, 3 * clip.x2 + 2, clip.y2);
  agg::renderer_scanline_aa_solid<agg::renderer_base<pixfmt_rgba32_lcd>> solid(ren);
  solid.color(canvasColor(rgba));
  Scanline sl;
  agg::render_scanlines(ras, sl, solid);
}

const gradient_polymorphic_wrapper_base& gradientByType(const std::string& type)
{
  static const gradient_polymorphic_wrapper<agg::gradient_x> x;
  static const gradient_polymorphic_wrapper<agg::gradient_y> y;
  static const gradient_polymorphic_wrapper<agg::gradient_conic> conic;
  static const gradient_polymorphic_wrapper<agg::gradient_diamond> diamond;
  static const gradient_polymorphic_wrapper<agg::gradient_radial> radial;
  static const gradient_polymorphic_wrapper<agg::gradient_sqrt_xy> sqrt;
  static const gradient_polymorphic_wrapper<agg::gradient_xy> xy;
  if (type == "linear" || type == "x") return x;
  if (type == "y") return y;
  if (type == "conic") return conic;
  if (type == "diamond") return diamond;
  if (type == "radial") return radial;
  if (type == "sqrt") return sqrt;
  if (type == "xy") return xy;
  fprintf(stderr, "warning: colorGradient() unknown gradient type \"%s\"\n", type.c_str());
  return x;
}

void render_solid_gradient(Rasterizer& ras, agg::rendering_buffer& rbuf,
                           const agg::rect_i& clip, int compOp, const std::string& type,
                           const std::string& mode, const Transform& g, const GradientLut& lut)
{
  const gradient_polymorphic_wrapper_base& function = gradientByType(type);
  gradient_polymorphic_adaptor<agg::gradient_reflect_adaptor> reflect(function);
  gradient_polymorphic_adaptor<agg::gradient_repeat_adaptor> repeat(function);
  const gradient_polymorphic_wrapper_base* chosen = &function;
  if (mode == "reflect")
    chosen = &reflect;
  else if (mode == "repeat")
    chosen = &repeat;
  else if (!mode.empty())
    fprintf(stderr, "warning: colorGradient() unknown gradient mode \"%s\"\n", mode.c_str());

  typedef agg::span_interpolator_linear<> Interpolator;
  typedef agg::span_gradient<agg::rgba8, Interpolator, const gradient_polymorphic_wrapper_base,
                             const GradientLut>
      SpanGradient;
  Transform mapping(g);
  Interpolator inter(mapping);
  SpanGradient span(inter, *chosen, lut, 0, 256);
  withCanvasRenderer(rbuf, clip, compOp, [&](auto& ren) {
    agg::span_allocator<agg::rgba8> alloc;
    Scanline sl;
    agg::render_scanlines_aa(ras, sl, ren, alloc, span);
  });
}

void render_solid_image(Rasterizer& ras, agg::rendering_buffer& rbuf, const agg::rect_i& clip,
                        int compOp, Image& image, double alpha, const Transform& m, bool smooth)
{
  withCanvasRenderer(rbuf, clip, compOp, [&](auto& ren) {
    render_solid_image_template(ras, ren, image, alpha, m, smooth);
  });
}
