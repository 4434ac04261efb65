// Page-orientation detection: how far a scanned text page must be turned
// clockwise to stand upright (0, 90, 180 or 270 degrees), and the slope of
// its text lines. The page itself is not changed.
#pragma once

#include "image/Image.hh"

// skew, when given, receives the skew in degrees if enough text lines were
// measured, and is left alone otherwise. rotated and work are for the
// detector's own 90-degree retry: callers pass false and null.
int autoRotate2(Image& image, float* skew = nullptr, bool rotated = false, Image* work = nullptr);
