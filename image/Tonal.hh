// Tonal helpers: inversion, histograms, level stretching and the
// brightness / contrast / gamma curve. Alpha is never touched: an inverted
// or brightened page stays opaque.
#pragma once

#include <cstdint>
#include <vector>

#include "image/Image.hh"

// Every colour sample becomes (full scale - sample), for every pixel type.
void invert(Image& image);

// One vector of `bins` counts per sample channel (alpha included). A sample
// of bps bits with raw value s falls into bin s * bins / 2^bps (integer),
// so with 2^bps bins every level has its own bin, and a 1-bit image counts
// black in the lower half of the bins and white in the upper half.
// bins outside 1..65536 (diagnostic) or an image without pixels: empty.
std::vector<std::vector<uint32_t>> histogram(Image& image, int bins = 256);

// Level stretch from channel 0, applied to every colour channel. Levels
// are on the 8-bit scale (sub-byte samples as sample*255/max, 16-bit samples
// by their high byte). low = the given low, or when 0 the smallest level at
// which more than 0.5 % of the pixels lie at or below it; high = the given
// high, or when 0 the largest level at which more than 1 % lie at or above
// it. Then v' = (v - low) * 255 / (high - low), clamped to 0..255; on 16
// bits with low*256 and high*256+255 against 65535. high <= low, or the
// full range already, changes nothing.
void normalize(Image& image, uint8_t low = 0, uint8_t high = 0);

// Per colour channel, on v = sample / full scale:
//   v = v + brightness                       (brightness -1..1, 0 = none)
//   v = (v - 0.5) * (1 + contrast) + 0.5     (contrast -1..1, 0 = none)
//   v clamped to 0..1
//   v = v ^ (1 / gamma)                      (gamma > 0, 1 = none)
//   sample = v * full scale + 0.5, truncated
// Arguments that are not finite, or gamma <= 0: diagnostic, nothing done.
void brightness_contrast_gamma(Image& image, double brightness, double contrast, double gamma);
