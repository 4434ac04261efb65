// Line crossing and direction.
#include "math/Line.hh"

#include <cmath>

bool Line::intersection(const Line& other, std::pair<double, double>& point) const
{
  const double x3 = other.x1, y3 = other.y1, x4 = other.x2, y4 = other.y2;
  const double d = (y4 - y3) * (x2 - x1) - (x4 - x3) * (y2 - y1);
  // Only an exact zero means parallel; a NaN goes on and yields NaN, which
  // callers must check.
  if (d == 0.0)
    return false;
  const double ua = ((x4 - x3) * (y1 - y3) - (y4 - y3) * (x1 - x3)) / d;
  point.first = x1 + ua * (x2 - x1);
  point.second = y1 + ua * (y2 - y1);
  return true;
}

double Line::angle() const
{
  if (x2 >= x1) {
    // A vertical line divides by zero on purpose: the infinity gives
    // pi/2 or 3 pi/2.
    double a = std::atan((y2 - y1) / (x2 - x1));
    if (a < 0)
      a += 6.283185307179586;
    return a;
  }
  return std::atan((y1 - y2) / (x1 - x2)) + 3.141592653589793;
}
