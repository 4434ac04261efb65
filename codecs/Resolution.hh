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
