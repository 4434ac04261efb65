// Colour dropout: pixels close to a reference colour become white.
#pragma once

#include "image/Image.hh"

// Every pixel whose summed |R|,|G|,|B| distance (0..1 each) from colour is
// below frac becomes white for its type; alpha is kept.
void dropout(Image& image, const Image::iterator& colour, float frac);
