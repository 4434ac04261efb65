#include "canvas/XPath.hh"

#include <cmath>
#include <stdexcept>

#include <agg_conv_curve.h>
#include <gtest/gtest.h>
#include <polyclipping/clipper.hpp>

namespace {

struct Bounds {
  double x1, y1, x2, y2;
};

Bounds bounds(XPath& p)
{
  Bounds b;
  p.getBounds(b.x1, b.y1, b.x2, b.y2);
  return b;
}

// Vertices with their commands, in order.
struct Vertex {
  double x, y;
  unsigned cmd;
};
std::vector<Vertex> vertices(const XPath& p)
{
  std::vector<Vertex> v;
  for (unsigned i = 0; i < p.path.total_vertices(); ++i) {
    Vertex e;
    e.cmd = p.path.vertex(i, &e.x, &e.y);
    v.push_back(e);
  }
  return v;
}

// Polygons of a path (move-to starts one), for area comparisons.
std::vector<std::vector<std::pair<double, double>>> polygons(XPath& p)
{
  std::vector<std::vector<std::pair<double, double>>> polys;
  agg::conv_curve<agg::path_storage> curve(p.path);
  curve.rewind(0);
  double x, y;
  unsigned cmd;
  while (!agg::is_stop(cmd = curve.vertex(&x, &y))) {
    if (agg::is_move_to(cmd))
      polys.emplace_back();
    if (agg::is_vertex(cmd))
      polys.back().emplace_back(x, y);
  }
  return polys;
}

double area(XPath& p)
{
  double total = 0;
  for (auto& poly : polygons(p)) {
    double a = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
      auto& q = poly[i];
      auto& r = poly[(i + 1) % poly.size()];
      a += q.first * r.second - r.first * q.second;
    }
    total += std::fabs(a) / 2;
  }
  return total;
}

// A self-overlapping outline: two squares wound the same way, overlapping
// in 5..10 x 5..10, drawn as one contour so the fill rules differ there.
void overlapping(XPath& p)
{
  p.moveTo(0, 0);
  p.lineTo(10, 0);
  p.lineTo(10, 10);
  p.lineTo(0, 10);
  p.close();
  p.moveTo(5, 5);
  p.lineTo(15, 5);
  p.lineTo(15, 15);
  p.lineTo(5, 15);
  p.close();
}

} // namespace

TEST(XPath, BoundsOfLinesArcsAndCurves)
{
  struct Case {
    const char* name;
    void (*build)(XPath&);
    Bounds expect;
    double tolerance;
  } cases[] = {
    {"empty", [](XPath&) {}, {0, 0, 0, 0}, 0},
    {"rect", [](XPath& p) { p.rect(0, 0, 10, 5); }, {0, 0, 10, 5}, 0},
    {"line", [](XPath& p) { p.moveTo(3, -2); p.lineTo(-1, 7); }, {-1, -2, 3, 7}, 0},
    // A half circle of radius 5 from (0,0) to (10,0) bulging to y = -5.
    {"arc", [](XPath& p) { p.moveTo(0, 0); p.arcTo(5, 5, 0, false, true, 10, 0); }, {0, -5, 10, 0}, 0.05},
    // Quadratic with control (5,10): the apex is at y = 5.
    {"curve3", [](XPath& p) { p.moveTo(0, 0); p.curve3(5, 10, 10, 0); }, {0, 0, 10, 5}, 0.1},
    // Cubic with controls at y = 8: the apex is at y = 6.
    {"curve4", [](XPath& p) { p.moveTo(0, 0); p.curve4(0, 8, 10, 8, 10, 0); }, {0, 0, 10, 6}, 0.1},
  };
  for (const Case& c : cases) {
    XPath p;
    c.build(p);
    Bounds b = bounds(p);
    EXPECT_NEAR(b.x1, c.expect.x1, c.tolerance) << c.name;
    EXPECT_NEAR(b.y1, c.expect.y1, c.tolerance) << c.name;
    EXPECT_NEAR(b.x2, c.expect.x2, c.tolerance) << c.name;
    EXPECT_NEAR(b.y2, c.expect.y2, c.tolerance) << c.name;
  }
}

TEST(XPath, RelativeCommandsCloseAndReset)
{
  XPath p;
  p.lineRel(5, 5); // no last vertex: absolute
  auto v = vertices(p);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].cmd, (unsigned)agg::path_cmd_line_to);
  EXPECT_EQ(v[0].x, 5);
  EXPECT_EQ(v[0].y, 5);
  p.lineRel(1, 2);
  double x, y;
  p.getLast(x, y);
  EXPECT_EQ(x, 6);
  EXPECT_EQ(y, 7);
  p.curve3Rel(1, 0, 2, 2); // both points relative to (6, 7)
  p.getLast(x, y);
  EXPECT_EQ(x, 8);
  EXPECT_EQ(y, 9);

  XPath empty;
  empty.close();
  EXPECT_TRUE(empty.isEmpty());
  p.close();
  p.close();
  v = vertices(p);
  EXPECT_EQ(v.size(), 5u); // one end-of-polygon
  EXPECT_TRUE(agg::is_end_poly(v.back().cmd));
  EXPECT_TRUE(agg::is_closed(v.back().cmd));

  p.lineCap = 2;
  p.reset();
  EXPECT_TRUE(p.isEmpty());
  p.getLast(x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(p.lineCap, 2); // style survives reset
}

TEST(XPath, RoundedRectCornerRadii)
{
  // Where the straight part of each edge starts and ends shows the radius
  // of the corners at its ends.
  auto edgeSpans = [](XPath& p) {
    double top1 = 1e9, top2 = -1e9, bottom1 = 1e9, bottom2 = -1e9;
    double left1 = 1e9, left2 = -1e9, right1 = 1e9, right2 = -1e9;
    for (const Vertex& v : vertices(p)) {
      if (!agg::is_vertex(v.cmd))
        continue;
      if (v.y == 0) { top1 = std::min(top1, v.x); top2 = std::max(top2, v.x); }
      if (v.y == 100) { bottom1 = std::min(bottom1, v.x); bottom2 = std::max(bottom2, v.x); }
      if (v.x == 0) { left1 = std::min(left1, v.y); left2 = std::max(left2, v.y); }
      if (v.x == 100) { right1 = std::min(right1, v.y); right2 = std::max(right2, v.y); }
    }
    return std::vector<double>{top1, 100 - top2, 100 - bottom2, bottom1,
                               left1, 100 - left2, right1, 100 - right2};
  };
  // radii of corners: (x1,y1) b=10, (x2,y1) c=20, (x2,y2) a=30, (x1,y2) r=5.
  XPath p;
  double a = 30, b = 10, c = 20;
  p.roundedRect(0, 0, 100, 100, 5, &a, &b, &c);
  auto s = edgeSpans(p);
  // top: (x1,y1) then (x2,y1); bottom: (x2,y2) then (x1,y2); left: (x1,y1)
  // then (x1,y2); right: (x2,y1) then (x2,y2).
  std::vector<double> expect = {10, 20, 30, 5, 10, 5, 20, 30};
  for (size_t i = 0; i < expect.size(); ++i)
    EXPECT_NEAR(s[i], expect[i], 1e-9) << i;

  XPath q; // only one extra radius: r everywhere
  q.roundedRect(0, 0, 100, 100, 2, &a);
  for (double v : edgeSpans(q))
    EXPECT_NEAR(v, 2, 1e-9);
  EXPECT_TRUE(agg::is_closed(vertices(q).back().cmd));
}

TEST(XPath, ClipMatchesClipperUnderBothRules)
{
  for (bool evenOdd : {false, true}) {
    XPath subject, window;
    overlapping(subject);
    window.rect(2, 2, 13, 13);

    ClipperLib::Paths subj, clip, expect;
    for (auto& poly : polygons(subject)) {
      subj.emplace_back();
      for (auto& pt : poly)
        subj.back().emplace_back((ClipperLib::cInt)std::round(pt.first * 100),
                                 (ClipperLib::cInt)std::round(pt.second * 100));
    }
    clip.push_back({{200, 200}, {1300, 200}, {1300, 1300}, {200, 1300}});
    ClipperLib::Clipper c;
    c.AddPaths(subj, ClipperLib::ptSubject, true);
    c.AddPaths(clip, ClipperLib::ptClip, true);
    const auto rule = evenOdd ? ClipperLib::pftEvenOdd : ClipperLib::pftNonZero;
    c.Execute(ClipperLib::ctIntersection, expect, rule, rule);
    double expectArea = 0;
    for (auto& poly : expect)
      expectArea += std::fabs(ClipperLib::Area(poly)) / 10000.0;

    subject.clip(window, evenOdd);
    EXPECT_NEAR(area(subject), expectArea, 1e-9) << evenOdd;
    // Non-zero keeps the overlap, even-odd cuts it out: 8x8 + 8x8 - 5x5
    // with or without the 5x5 square counted.
    EXPECT_NEAR(area(subject), evenOdd ? 103 - 25 : 103, 1e-9) << evenOdd;
    Bounds b = bounds(subject);
    EXPECT_EQ(b.x1, 2);
    EXPECT_EQ(b.y2, 13);
  }
}

TEST(XPath, ClipOutOfRangeIsAnError)
{
  XPath subject, window;
  subject.rect(0, 0, NAN, 1e300);
  window.rect(0, 0, 1, 1);
  EXPECT_THROW(subject.clip(window, false), std::range_error);
}

TEST(XPath, DashedStrokeOutlines)
{
  XPath p;
  p.moveTo(0, 0);
  p.lineTo(15, 0);
  p.setLineDash({3, 1});
  p.strokePath(2);
  auto polys = polygons(p);
  ASSERT_EQ(polys.size(), 4u);
  for (size_t i = 0; i < polys.size(); ++i) {
    double x1 = 1e9, x2 = -1e9, y1 = 1e9, y2 = -1e9;
    for (auto& pt : polys[i]) {
      x1 = std::min(x1, pt.first); x2 = std::max(x2, pt.first);
      y1 = std::min(y1, pt.second); y2 = std::max(y2, pt.second);
    }
    EXPECT_NEAR(x1, 4.0 * i, 1e-9);
    EXPECT_NEAR(x2, 4.0 * i + 3, 1e-9);
    EXPECT_NEAR(y1, -1, 1e-9);
    EXPECT_NEAR(y2, 1, 1e-9);
  }

  XPath solid; // empty pattern strokes solid
  solid.moveTo(0, 0);
  solid.lineTo(15, 0);
  solid.strokePath(2);
  EXPECT_EQ(polygons(solid).size(), 1u);
  EXPECT_NEAR(area(solid), 30, 1e-9);
}

TEST(XPath, DegenerateDashPatternsStrokeSolidAndEnd)
{
  // Patterns the dash generator cannot advance through, and a start far
  // beyond the pattern, must end promptly.
  std::vector<std::vector<double>> patterns = {{0, 0}, {-1, 2}, {NAN, 1}, {2, 2, 1e30}, {1e-9, 1e-9}};
  for (auto& d : patterns) {
    XPath p;
    p.moveTo(0, 0);
    p.lineTo(16, 0);
    p.setLineDash(d);
    p.strokePath(2);
    EXPECT_FALSE(p.isEmpty());
    EXPECT_LT(p.path.total_vertices(), 1000u);
  }
}

TEST(XPath, StyleWordsAndDashValues)
{
  XPath p;
  EXPECT_TRUE(p.setLineCap("round"));
  EXPECT_FALSE(p.setLineJoin("pointy"));
  EXPECT_EQ(p.lineCap, 2);
  EXPECT_EQ(p.lineJoin, 0);
  p.setLineDash({4, 2, 1});
  EXPECT_EQ(p.dashes, (std::vector<float>{4, 2}));
  EXPECT_EQ(p.dashStart, 1);
  p.setLineDash({});
  EXPECT_TRUE(p.dashes.empty());
  EXPECT_EQ(p.dashStart, 0);
}

TEST(XPath, AddToPathCopiesCommands)
{
  XPath p, q;
  p.rect(0, 0, 1, 1);
  q.moveTo(5, 5);
  p.addToPath(q);
  EXPECT_EQ(vertices(p).size(), 5u);
  auto v = vertices(q);
  ASSERT_EQ(v.size(), 6u);
  EXPECT_EQ(v[1].cmd, (unsigned)agg::path_cmd_move_to);
  p.addToPath(p); // onto itself: doubles once
  EXPECT_EQ(vertices(p).size(), 10u);

  Transform t;
  t.translate(1, 2);
  q.transform(t);
  double x, y;
  q.getLast(x, y);
  EXPECT_EQ(x, 0); // the close command's coordinates stay 0
  Bounds b = bounds(q);
  EXPECT_EQ(b.x1, 1);
  EXPECT_EQ(b.y2, 7);
}
