// Boolean intersection of two paths over Clipper: curves flattened,
// coordinates scaled by 100 and rounded, results emitted as closed
// polygons.
#include <cmath>
#include <stdexcept>

#include <agg_conv_curve.h>
#include <polyclipping/clipper.hpp>

#include "canvas/XPath.hh"
#include "utility/Saturate.hh"

namespace {

constexpr double kScale = 100.0;

ClipperLib::Paths toPolygons(agg::path_storage& path)
{
  ClipperLib::Paths polys;
  agg::conv_curve<agg::path_storage> curve(path);
  curve.rewind(0);
  double x, y;
  unsigned cmd;
  while (!agg::is_stop(cmd = curve.vertex(&x, &y))) {
    if (agg::is_move_to(cmd)) {
      polys.emplace_back();
    } else if (!agg::is_vertex(cmd)) {
      continue;
    } else if (polys.empty()) {
      polys.emplace_back(); // a path that starts with line-to
    }
    // Out-of-range and NaN values saturate to the 64-bit limits, which the
    // clipper rejects with its range error.
    polys.back().emplace_back(saturate_cast<ClipperLib::cInt>(std::round(x * kScale)),
                              saturate_cast<ClipperLib::cInt>(std::round(y * kScale)));
  }
  return polys;
}

} // namespace

void XPath::clip(XPath& other, bool evenOdd)
{
  const ClipperLib::PolyFillType fill = evenOdd ? ClipperLib::pftEvenOdd : ClipperLib::pftNonZero;
  ClipperLib::Paths result;
  try {
    ClipperLib::Clipper clipper;
    clipper.AddPaths(toPolygons(path), ClipperLib::ptSubject, true);
    clipper.AddPaths(toPolygons(other.path), ClipperLib::ptClip, true);
    clipper.Execute(ClipperLib::ctIntersection, result, fill, fill);
  } catch (const ClipperLib::clipperException& e) {
    throw std::range_error(std::string("Path.clip: ") + e.what());
  }
  agg::path_storage out;
  for (const ClipperLib::Path& poly : result) {
    if (poly.empty())
      continue;
    out.move_to(poly[0].X / kScale, poly[0].Y / kScale);
    for (size_t i = 1; i < poly.size(); ++i)
      out.line_to(poly[i].X / kScale, poly[i].Y / kScale);
    out.close_polygon();
  }
  path = out;
}
