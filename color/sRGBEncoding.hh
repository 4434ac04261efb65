// The D65 sRGB encoding and the XYZ-to-linear-sRGB matrix, shared by the
// ICC transform (exponent taken in single precision) and the chart helpers
// (exponent in double precision).
#pragma once

#include <cmath>

namespace srgb {

constexpr double exponentSingle = (double)(1.0f / 2.4f);
constexpr double exponentDouble = 1.0 / 2.4;

inline double encode(double v, double exponent)
{
  return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, exponent) - 0.055;
}

inline double decode(double c)
{
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// Rows summed as (first + second) + third.
inline void fromXYZ(double x, double y, double z, double& r, double& g, double& b)
{
  r = 3.2404542 * x + -1.5371385 * y + -0.4985314 * z;
  g = -0.969266 * x + 1.8760108 * y + 0.041556 * z;
  b = 0.0556434 * x + -0.2040259 * y + 1.0572252 * z;
}

inline void toXYZ(double r, double g, double b, double& x, double& y, double& z)
{
  x = 0.4124564 * r + 0.3575761 * g + 0.1804375 * b;
  y = 0.2126729 * r + 0.7151522 * g + 0.072175 * b;
  z = 0.0193339 * r + 0.119192 * g + 0.9503041 * b;
}

} // namespace srgb
