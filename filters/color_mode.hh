// Page classification: does a scan need colour, gray or only black and
// white; and inversion of pages that are mostly dark.
#pragma once

#include "image/Image.hh"

// "gray", "bw", or null for a colour page (also for images without pixels
// or under 8 bits per sample). The percentages bound the share of colour
// pixels and of mid-gray pixels.
const char* autoColor(Image& image, double colorPct = 0.2, double grayPct = 4.0);

// Inverts the image when more than half of its pixels are not pure white.
void autoInvert(Image& image);
