// Dashing and stroking a vertex source with a stroke style; the sink
// receives the outline converter (conv_stroke over the source, or over a
// conv_dash when there is a usable pattern).
#pragma once

#include <cmath>
#include <cstdio>
#include <vector>

#include <agg_conv_dash.h>
#include <agg_conv_stroke.h>
#include <agg_path_length.h>

// A pattern is used in whole pairs (a last odd value is ignored). Patterns
// with a negative or non-finite value, or whose pairs add up to nothing,
// would make the dash generator loop without advancing: they stroke solid.
// The generator keeps the first 16 pairs.
constexpr size_t kMaxDashValues = 32;

inline double dashPeriod(const std::vector<float>& dashes)
{
  double total = 0;
  for (size_t i = 0; i + 1 < dashes.size() && i < kMaxDashValues; i += 2)
    total += (double)dashes[i] + dashes[i + 1];
  return total;
}

inline bool usableDashes(const std::vector<float>* dashes)
{
  if (!dashes || dashes->size() < 2)
    return false;
  double total = 0;
  for (size_t i = 0; i + 1 < dashes->size() && i < kMaxDashValues; i += 2) {
    const float a = (*dashes)[i], b = (*dashes)[i + 1];
    if (!std::isfinite(a) || !std::isfinite(b) || a < 0 || b < 0)
      return false;
    total += (double)a + b;
  }
  if (!(total > 0)) {
    fprintf(stderr, "ignored empty dash pattern\n");
    return false;
  }
  return true;
}

template <class Stroke>
void applyStrokeStyle(Stroke& stroke, double width, int cap, int join, float miterLimit)
{
  stroke.width(width);
  stroke.miter_limit(miterLimit);
  stroke.line_cap((agg::line_cap_e)(cap == 1 || cap == 2 ? cap : 0));
  stroke.line_join((agg::line_join_e)(join == 2 || join == 3 ? join : 0));
}

// More dash periods than this along one path would take memory and time
// without bound (a script can ask for dashes of 1e-9 units): such patterns
// stroke solid, which is what they look like anyway.
constexpr double kMaxDashPeriods = 1e6;

template <class Source, class Sink>
void strokeInto(Source& source, double width, int cap, int join, float miterLimit,
                const std::vector<float>* dashes, float dashStart, Sink sink)
{
  bool dashed = usableDashes(dashes);
  if (dashed && !(agg::path_length(source) / dashPeriod(*dashes) <= kMaxDashPeriods)) {
    fprintf(stderr, "ignored dash pattern too fine for its path\n");
    dashed = false;
  }
  if (dashed) {
    agg::conv_dash<Source> dash(source);
    for (size_t i = 0; i + 1 < dashes->size(); i += 2)
      dash.add_dash((*dashes)[i], (*dashes)[i + 1]);
    // The generator walks the start through the pattern period by period;
    // whole periods change nothing, so a huge start is reduced first.
    if (dashStart != 0) {
      const double period = dashPeriod(*dashes);
      double start = dashStart;
      if (start > period)
        start = std::fmod(start, period);
      dash.dash_start(start);
    }
    agg::conv_stroke<agg::conv_dash<Source>> stroke(dash);
    applyStrokeStyle(stroke, width, cap, join, miterLimit);
    sink(stroke);
  } else {
    agg::conv_stroke<Source> stroke(source);
    applyStrokeStyle(stroke, width, cap, join, miterLimit);
    sink(stroke);
  }
}
