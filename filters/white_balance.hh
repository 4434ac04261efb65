// White balance of a scanned page: the paper is found as the largest bright,
// flat region, and one table for every channel lifts its level to white.
#pragma once

#include "image/Image.hh"

// Changes the image in place and prints one line of measurements on stderr.
// Images without a large paper-like region, or of fewer than 8 bits per
// sample, are left as they are.
void autoWhite(Image& image);
