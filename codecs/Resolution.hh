// Resolutions stored in other units, turned into whole dots per inch.
#pragma once

#include <cmath>

#include "utility/Saturate.hh"

// The nearest whole number of dots per inch: 300 dpi stored as 11811
// pixels per metre (299.9994 dpi) is 300 again, and 299.9 dpi is 300, not
// 299, so that the page keeps its size. A stored resolution under 1 dpi is
// 1, never 0 (which is none).
inline int dpiFromInches(double dpi)
{
  if (dpi > 0 && dpi < 1)
    return 1;
  return saturate_cast<int>(std::floor(dpi + 0.5));
}

// PDF pages are 3 to 14,400 points a side: whether a side of `pixels` at
// `dpi` is.
inline bool pageFits(double pixels, double dpi)
{
  if (!(dpi > 0))
    return false;
  const double points = pixels * 72.0 / dpi;
  return points >= 3 && points <= 14400;
}

// Whether w x h pixels at x by y dpi make a page of 3 to 14,400 points a
// side.
inline bool pageFits(double w, double h, double x, double y)
{
  return pageFits(w, x) && pageFits(h, y);
}

// Whether w x h pixels at x by y dpi make no page at all: a side under a
// hundredth of a point is written as 0, and readers take such a page for
// a letter sheet.
inline bool pageEmpty(double w, double h, double x, double y)
{
  return !(w * 72.0 / x >= 0.01 && h * 72.0 / y >= 0.01);
}

// The resolution w x h pixels are laid out at, from the stored x and y (0
// for none): a missing direction is `fallback`; a stored resolution that
// puts the page out of range (1e9 dpi makes an empty page) is no measurement
// and is replaced by `fallback` in both directions where that brings the
// page into range, or where the stored one makes no page at all and the
// fallback does. Otherwise it stays: a 1 x 1 pixel image at 72 dpi is a
// page of a point, not of 0.24.
inline void pageResolution(double w, double h, int& x, int& y, int fallback)
{
  if (x <= 0)
    x = fallback;
  if (y <= 0)
    y = fallback;
  if (!pageFits(w, h, x, y) &&
      (pageFits(w, h, fallback, fallback) ||
       (pageEmpty(w, h, x, y) && !pageEmpty(w, h, fallback, fallback))))
    x = y = fallback;
}

// A device coordinate this close to a whole pixel is that pixel: page
// sizes and image places written with two decimals are read back a few
// ulps off (32.16 pt parses a hair above 32.16, 134.00000000000003 px at
// 300 dpi).
constexpr double kPixelSlack = 1e-6;

// Pixels a page side of `points` makes at `dpi` when read, as pdftoppm
// sizes its bitmap: the scaled side rounded up, so that the last part of a
// pixel of the page is drawn too; a side a rounding error above a whole
// pixel is that whole pixel.
inline int64_t pixelsAt(double points, double dpi)
{
  return saturate_cast<int64_t>(std::ceil(points * dpi / 72.0 - kPixelSlack));
}
