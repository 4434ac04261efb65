// Mirroring an image left-right (flipX) and top-bottom (flipY), in place.
// Both offer the work to an attached codec first while the pixels are
// unchanged, and keep the row stride.
#pragma once

#include "image/Image.hh"

void flipX(Image& image);
void flipY(Image& image);
