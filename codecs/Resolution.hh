// Resolutions stored in other units, turned into whole dots per inch.
#pragma once

#include <cmath>

#include "utility/Saturate.hh"

// The nearest whole number of dots per inch: 300 dpi stored as 11811
// pixels per metre (299.9994 dpi) is 300 again, and 299.9 dpi is 300, not
// 299, so that the page keeps its size.
inline int dpiFromInches(double dpi)
{
  return saturate_cast<int>(std::floor(dpi + 0.5));
}

// PDF pages are 3 to 14,400 points a side. A stored resolution that would
// put a side of `pixels` outside that is no measurement (1e9 dpi makes an
// empty page) and is better taken as missing.
inline bool pageFits(double pixels, double dpi)
{
  if (!(dpi > 0))
    return false;
  const double points = pixels * 72.0 / dpi;
  return points >= 3 && points <= 14400;
}
