// Resolutions stored in other units, turned into whole dots per inch.
#pragma once

#include <cmath>

#include "utility/Saturate.hh"

// A value within one storage step of a whole number of dots per inch is
// that number: 300 dpi is stored as 11811 pixels per metre or 118.11 per
// centimetre, which is 299.9994 dpi. Anything else truncates, as whole
// inch values always have.
inline int dpiFromInches(double dpi)
{
  // One pixel per metre (0.0254 dpi), with room for the writer's rounding.
  const double kStep = 0.03;
  const double nearest = std::floor(dpi + 0.5);
  if (std::fabs(dpi - nearest) <= kStep)
    return saturate_cast<int>(nearest);
  return saturate_cast<int>(dpi);
}
