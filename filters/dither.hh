// Floyd-Steinberg error diffusion to `shades` evenly spaced levels per
// colour channel, in place, keeping the pixel type; alpha is kept.
#pragma once

#include "image/Image.hh"

// Fewer than 2 shades leaves the image unchanged.
void FloydSteinberg(Image& image, int shades = 2);
