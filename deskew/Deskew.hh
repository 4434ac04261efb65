// Finding a scanned sheet against the scanner background and cutting it out
// straightened.
#pragma once

#include <cstdint>

#include "image/Image.hh"

// The sheet found in a scan. Filled completely by every detector.
struct deskew_rect {
  int32_t x, y;           // top-left corner of the sheet, pixels
  int32_t width, height;  // sheet size, pixels
  int32_t x_back, y_back; // top-left corner to use for the back side
  float angle;            // skew, degrees; negative for a sheet turned clockwise
};

// The whole image, unturned: what a detector returns when it finds no sheet.
deskew_rect wholeImageRect(const Image& image);

// Measures the sheet in a sheet-fed scan whose first `topLines` and last
// `bottomLines` rows show only the scanner background. Does not change the
// image. On failure the whole image with angle 0 comes back.
deskew_rect deskewParameters(Image& image, int topLines, int bottomLines);

// A new image (caller owns it) holding the sheet `rect` cut out of `image`
// and straightened: a plain copy, a shear or a rotation depending on the
// angle. `back` takes the back-side offsets and the opposite angle. Null
// only for a pixel type no body handles.
Image* deskewApply(Image& image, const deskew_rect& rect, bool back);

// deskewParameters, then deskewApply, replacing the image's pixels. False
// leaves the image as it was.
bool deskew(Image& image, int topLines, int bottomLines);
