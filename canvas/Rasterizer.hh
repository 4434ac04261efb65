// The scanline rasteriser every fill uses: AGG's anti-aliased rasteriser
// in 24.8 fixed point with integer clipping, behind a guard that keeps
// NaN, infinite and too-large coordinates away from the integer
// conversion, and the functions that turn paths into its coverage.
#pragma once

#include <cmath>
#include <cstdio>
#include <vector>

#include <agg_math_stroke.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_scanline_p.h>

#include "canvas/Transform.hh"
#include "utility/Saturate.hh"

class XPath;

// Vertices reach the clipper in pixel units; each is checked before it is
// scaled to 24.8. An unusable vertex is skipped with a "line" diagnostic:
// the lines to and from it are dropped and the contour continues from the
// last usable vertex, so the coverage stays closed.
struct ras_conv_checked {
  typedef double coord_type;
  static double upscale(double v) { return v; }
  static double downscale(int v) { return v / (double)agg::poly_subpixel_scale; }
};

class rasterizer_sl_clip_checked {
public:
  typedef ras_conv_checked conv_type;
  typedef double coord_type;

  // Largest magnitude of a 24.8 coordinate the cell rasteriser accepts.
  static constexpr double kLimit = (double)0x3FFFFFFF / agg::poly_subpixel_scale;

  void reset_clipping() { m_clip.reset_clipping(); }
  void clip_box(double x1, double y1, double x2, double y2)
  {
    m_clip.clip_box(fix(x1), fix(y1), fix(x2), fix(y2));
  }
  void move_to(double x, double y)
  {
    m_x = x;
    m_y = y;
    m_sx = x;
    m_sy = y;
    m_valid = m_started = usable(x, y);
    if (m_valid) {
      m_clip.move_to(fix(x), fix(y));
      m_fx = x;
      m_fy = y;
    }
  }
  template <class Rasterizer>
  void line_to(Rasterizer& ras, double x, double y)
  {
    if (!usable(x, y)) {
      report(m_x, m_y, x, y);
      m_x = x;
      m_y = y;
      m_valid = false;
      // Closing back to an unusable start closes to the first usable
      // vertex instead.
      if (m_started && same(x, m_sx) && same(y, m_sy))
        m_clip.line_to(ras, fix(m_fx), fix(m_fy));
      return;
    }
    if (!m_valid) {
      report(m_x, m_y, x, y);
      // First usable vertex after unusable ones of a contour that never
      // had a usable one: start there.
      if (!m_started) {
        m_clip.move_to(fix(x), fix(y));
        m_fx = x;
        m_fy = y;
      }
    }
    m_valid = m_started = true;
    m_x = x;
    m_y = y;
    m_clip.line_to(ras, fix(x), fix(y));
  }

private:
  static bool usable(double x, double y)
  {
    return std::fabs(x) <= kLimit && std::fabs(y) <= kLimit; // false for NaN
  }
  static bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }
  static int fix(double v) { return saturate_cast<int>(std::round(v * agg::poly_subpixel_scale)); }
  static void report(double x1, double y1, double x2, double y2)
  {
    fprintf(stderr, "line %d %d %d %d\n", fix(x1), fix(y1), fix(x2), fix(y2));
  }

  agg::rasterizer_sl_clip<agg::ras_conv_int> m_clip;
  double m_x = 0, m_y = 0;   // last vertex given
  double m_sx = 0, m_sy = 0; // contour start as given
  double m_fx = 0, m_fy = 0; // first usable vertex of the contour
  bool m_valid = false;
  bool m_started = false;
};

typedef agg::rasterizer_scanline_aa<rasterizer_sl_clip_checked> Rasterizer;
typedef agg::scanline32_p8 Scanline;

// Coverage of a path's fill: curves flattened, then mapped through t with
// its horizontal scale multiplied by factor when factor >= 2 (3 makes
// LCD sub-pixel columns).
void rasterizePath(Rasterizer& ras, XPath& path, Transform t, unsigned factor);

// Coverage of a path's stroke: flattened, dashed, stroked in path units,
// then mapped through t (widths and dashes scale with it).
void rasterizeStrokedPath(Rasterizer& ras, XPath& path, const Transform& t, double width,
                          agg::line_cap_e cap, agg::line_join_e join, float miterLimit,
                          const std::vector<float>* dashes, float dashStart);

// Identity within 1e-14: such transforms skip the transform converter.
inline bool isIdentity(const agg::trans_affine& t) { return t.is_identity(1e-14); }
