// Buffer handling shared by the colour-space steps (colorspace.cc and
// codec_colorspace.cc); not for use outside them.
#pragma once

#include <cstdint>

#include "image/Image.hh"

namespace colorspace_steps {

bool hasPixels(const Image& image);
// Tight row size of a w-pixel row of the given type, bounded like
// Image::stridefill.
uint64_t rowFill(int w, int spp, int bps);
uint8_t* allocRows(uint64_t fill, int h);
// After an in-place step that packed the rows tight at the start of the
// buffer: drop the surplus. A failing shrink keeps the larger buffer.
void settleTight(Image& image);
// Replaces the buffer with a fresh tight one of the new type.
void install(Image& image, uint8_t* p, int spp, int bps);
// Four 8-bit samples per pixel to three, keeping those from `first` on.
void dropFourth(Image& image, int first);

} // namespace colorspace_steps
