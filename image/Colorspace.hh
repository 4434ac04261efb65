// Conversion of an image between pixel types and colour spaces, in place:
// by name for scripts, by target samples/bits for the codecs, and the fixed
// single steps the conversion chain is made of.
//
// Every step rewrites the image's own buffer (in place, or into a fresh one
// that replaces it) and marks the pixels changed. When memory runs out a
// step throws std::bad_alloc and leaves the image as it was before that step.
//
// Gray from colour in the chain: (30 R + 59 G + 11 B) / 100, truncating.
// A 1-bit target sample is white (1) when the 8-bit gray is above the
// threshold.
#pragma once

#include <cstdint>
#include <string>

#include "image/Image.hh"

// "bw"/"bilevel"/"gray1", "gray2", "gray4", "gray"/"gray8", "gray16",
// "rgb"/"rgb8", "rgba"/"rgba8", "rgb16"; case is ignored. Any other name:
// diagnostic, false, image untouched.
bool colorspace_by_name(Image& image, const std::string& name, uint8_t threshold = 127);

// Converts to spp samples of bps bits through the chain of single steps.
// False (with a diagnostic) when the source or target is no pixel type.
bool colorspace_convert(Image& image, int spp, int bps, uint8_t threshold = 127);

// "gray1" .. "rgb16" from spp*bps; "" for anything else.
const char* colorspace_name(const Image& image);

void colorspace_16_to_8(Image& image);
// Widens every byte of every row, row padding included; the row stride
// doubles.
void colorspace_8_to_16(Image& image);

void colorspace_gray8_to_gray1(Image& image, uint8_t threshold = 127);
void colorspace_gray8_to_gray2(Image& image);
void colorspace_gray8_to_gray4(Image& image);
void colorspace_gray1_to_gray2(Image& image);
void colorspace_gray1_to_gray4(Image& image);
void colorspace_grayX_to_gray8(Image& image);
void colorspace_grayX_to_rgb8(Image& image);
void colorspace_gray8_to_rgb8(Image& image);
// Each gray16 sample copied to red, green and blue.
void colorspace_gray16_to_rgb16(Image& image);

// gray = (R wr + G wg + B wb) / (wr + wg + wb); bytesPerPixel 3 or 4 (alpha
// ignored). Weights summing to 0: diagnostic, image untouched.
void colorspace_rgb8_to_gray8(Image& image, int bytesPerPixel = 3, int wr = 28, int wg = 59,
                              int wb = 11);
void colorspace_rgb16_to_gray16(Image& image, int wr = 30, int wg = 59, int wb = 11);

void colorspace_rgba8_to_rgb8(Image& image);
// Pixels stored A, R, G, B become R, G, B.
void colorspace_argb8_to_rgb8(Image& image);
void colorspace_rgb8_to_rgba8(Image& image, uint8_t alpha = 0xff);

// value <= threshold -> 0, else 255; stays 8-bit gray.
void colorspace_gray8_threshold(Image& image, uint8_t threshold = 127);

// 32- or 64-bit IEEE samples (host order) to 8 bits: clamped to 0..255 and
// truncated, NaN becomes 0. Other depths: diagnostic, image untouched.
void colorspace_de_ieee(Image& image);

// Four samples C, M, Y, K of 8 or 16 bits to RGB of the same depth:
// R = max(0, MAX - (C + K)), likewise G from M and B from Y.
void colorspace_cmyk_to_rgb(Image& image);

// Speckle vote on 8-bit gray. Votes read the pixels as they were before the
// call (a pixel already decided does not sway its later neighbours).
// Four neighbours: all 0 -> 0, all 255 -> 255. Eight neighbours (diagonals
// where they exist): sum < 256 -> 0, sum >= (count - 1) * 255 -> 255.
void colorspace_gray8_denoise_neighbours(Image& image, bool eightNeighbours);

// Palette indices of 1, 2, 4, 8 or 16 bits (one sample per pixel) through
// `count` entries of 16-bit channels to 8 bits (the high byte of each entry):
// - red, green and blue equal in every entry and no alpha: 8-bit gray;
//   except a palette that maps every index onto its own gray level
//   (identity), which leaves the image unchanged, and a two-entry 1-bit
//   palette black/white (unchanged) or white/black (the bits are inverted,
//   the image stays 1-bit);
// - otherwise RGB8, or RGBA8 when an alpha table is given.
// An index at or beyond `count` (damaged file) reads as black, opaque.
// count < 1 or missing colour tables: diagnostic, false, image untouched.
bool colorspace_de_palette(Image& image, int count, const uint16_t* red, const uint16_t* green,
                           const uint16_t* blue, const uint16_t* alpha = nullptr);

// Row src holds planar samples (w samples of channel 0, then w of channel
// 1, ...); row dst receives them as interleaved pixels. Rows may coincide.
void colorspace_pack_line(Image& image, int dst, int src);

// Changes the row stride in place, keeping the pixels.
void realignImage(Image& image, unsigned stride);
