// Paths into rasteriser coverage: flattening, dashing, stroking and
// transformation in that order.
#include "canvas/Rasterizer.hh"

#include <agg_conv_curve.h>
#include <agg_conv_transform.h>

#include "canvas/Stroke.hh"
#include "canvas/XPath.hh"

void rasterizePath(Rasterizer& ras, XPath& path, Transform t, unsigned factor)
{
  agg::conv_curve<agg::path_storage> curve(path.path);
  if (factor >= 2) {
    t.sx *= factor;
    t.shx *= factor;
    t.tx *= factor;
  }
  if (isIdentity(t)) {
    ras.add_path(curve, 0);
  } else {
    agg::conv_transform<agg::conv_curve<agg::path_storage>> mapped(curve, t);
    ras.add_path(mapped, 0);
  }
}

void rasterizeStrokedPath(Rasterizer& ras, XPath& path, const Transform& t, double width,
                          agg::line_cap_e cap, agg::line_join_e join, float miterLimit,
                          const std::vector<float>* dashes, float dashStart)
{
  agg::conv_curve<agg::path_storage> curve(path.path);
  Transform mapping(t); // the converter holds a mutable reference
  strokeInto(curve, width, cap, join, miterLimit, dashes, dashStart, [&](auto& stroke) {
    agg::conv_transform<std::remove_reference_t<decltype(stroke)>> mapped(stroke, mapping);
    ras.add_path(mapped, 0);
  });
}
