// Cutting an image down to a rectangle, in place.
#pragma once

#include "image/Image.hh"

// Clips the rectangle to the image: a negative origin shortens the size, an
// origin at or past the right or bottom edge is pulled onto the last column
// or row. A rectangle lying wholly left of or above the image is refused
// with a diagnostic (the image is kept). The clipped rectangle is offered to
// an attached codec first while the pixels are unchanged. Rows end up tight,
// except for a crop that only shortens the image from the bottom.
void crop(Image& image, int x, int y, unsigned int w, unsigned int h);

// Removes the bottom band of rows identical to the last row; an image whose
// rows are all alike is left as it is.
void fastAutoCrop(Image& image);
