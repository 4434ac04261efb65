// Glyph outlines into coverage: the cache's path adaptor, flattened, then
// stroked and transformed as paths are.
#include "canvas/GlyphRaster.hh"

#include <agg_conv_curve.h>
#include <agg_conv_transform.h>

#include "canvas/Stroke.hh"
#include "canvas/Text.hh"

namespace {

typedef font_manager_type::path_adaptor_type GlyphPath;

// Null (after the diagnostic) when there is nothing to draw; otherwise the
// cache's adaptor placed at (x, y).
GlyphPath* placedGlyph(const Text& text, double x, double y)
{
  const agg::glyph_cache* g = text.outlineGlyph();
  if (!g || !m_fman)
    return nullptr;
  m_fman->init_embedded_adaptors(g, x, y, 1.0);
  return &m_fman->path_adaptor();
}

template <class Source>
void addMaybeTransformed(Rasterizer& ras, Source& source, const Transform& t)
{
  if (isIdentity(t)) {
    ras.add_path(source, 0);
  } else {
    Transform mapping(t);
    agg::conv_transform<Source> mapped(source, mapping);
    ras.add_path(mapped, 0);
  }
}

} // namespace

void rasterizeGlyph(Rasterizer& ras, double x, double y, const Text& text, Transform t,
                    unsigned factor)
{
  GlyphPath* glyph = placedGlyph(text, x, y);
  if (!glyph)
    return;
  agg::conv_curve<GlyphPath> curve(*glyph);
  if (factor >= 2) {
    t.sx *= factor;
    t.shx *= factor;
    t.tx *= factor;
  }
  addMaybeTransformed(ras, curve, t);
}

void rasterizeStrokedGlyph(Rasterizer& ras, double x, double y, const Text& text,
                           const Transform& t, double width, agg::line_cap_e cap,
                           agg::line_join_e join, float miterLimit,
                           const std::vector<float>* dashes, float dashStart)
{
  GlyphPath* glyph = placedGlyph(text, x, y);
  if (!glyph)
    return;
  agg::conv_curve<GlyphPath> curve(*glyph);
  strokeInto(curve, width, cap, join, miterLimit, dashes, dashStart,
             [&](auto& stroke) { addMaybeTransformed(ras, stroke, t); });
}
