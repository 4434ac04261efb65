// Preparing scanned pages for bilevel output: a contrast stretch with an
// optional unsharp mask, and two adaptive binarisers. 1-bit gray images are
// left as they are; everything else comes out as 8-bit gray, tight rows.
#pragma once

#include "image/Image.hh"

// low, high: black and white points, 0 = from the histogram. threshold and
// sloppyThreshold are accepted for callers' sake and not used. radius > 0
// adds an unsharp mask of that radius with a Gaussian of deviation sd.
void optimize2bw(Image& image, int low = 0, int high = 0, int threshold = 128,
                 int sloppyThreshold = 0, int radius = 3, double sd = 2.1);

// Edges plus a threshold per 32 x 32 tile learnt from steep brightness
// steps in the tile or borrowed from nearby tiles; leaves only 0 and 255.
void optimize2bw2(Image& image);

// The same idea with 256 x 256 tiles that learn their darkest and brightest
// values; leaves only 0 and 255.
void optimize2bw3(Image& image);
