// Horizontal shear with two-tap interpolation.
#pragma once

#include "image/Image.hh"

// Cuts the w x h window at (x, y) out of `image` while shifting source row
// sy by sy * tan(xAngle) columns (for xAngle > 0 less trunc(tan * H), which
// the caller adds to x). yAngle is checked but otherwise unused. A new image,
// caller owns it; null for an unhandled pixel type.
Image* copy_crop_shear(Image& image, int x, int y, unsigned int w, unsigned int h,
                       double xAngle, double yAngle, const Image::iterator& background);

// Shears in place, widening the image by H * |tan(xAngle)|.
void shear(Image& image, double xAngle, double yAngle, const Image::iterator& background);
