// Median filter over the (2r + 1)^2 window clipped to the image, each
// channel on its own; the result has tight rows.
#pragma once

#include <cstdint>

#include "image/Image.hh"

void median(Image& image, unsigned radius = 1);

// Compare-exchange networks for the full 3 x 3 and 5 x 5 windows: they
// reorder the values so that the median is in slot 4 or slot 12.
template <typename V> void median_opt9(V* p);
template <typename V> void median_opt25(V* p);
