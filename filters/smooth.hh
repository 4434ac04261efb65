// Edge-aware smoothing: each pixel blends between itself and the mean of its
// four direct neighbours, the more towards itself the more it differs from
// them. In place; r rows and columns at the border stay untouched.
#pragma once

#include "image/Image.hh"

void smooth(Image& image, int r = 1);
