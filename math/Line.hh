// A straight line through two points, in image coordinates (x right, y
// down): where two lines cross, and which way a line points.
#pragma once

#include <utility>

struct Line {
  double x1, y1, x2, y2;

  // Crossing of the two infinite lines. False for parallel or coincident
  // lines, `point` then untouched. No segment test: a crossing far outside
  // both segments is a crossing.
  bool intersection(const Line& other, std::pair<double, double>& point) const;

  // Direction from the first point to the second, radians in [0, 2 pi).
  // Two equal points give NaN.
  double angle() const;
};
