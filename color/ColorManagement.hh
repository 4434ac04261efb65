// Colour management: converting images to sRGB through ICC input profiles,
// RGBA images from an image and a mask, YCbCr and chart helpers.
#pragma once

#include <istream>

class Image;

// Converts the image in place from the device colours of the ICC input
// profile read from `profile` to sRGB, keeping its pixel type. Returns
// false when the image was not converted (no pixels, a pixel type outside
// the core's, a profile with neither a usable table nor tone curves).
bool applyICC(Image& image, std::istream& profile);

// The image becomes RGBA8 with its colours and alpha from the luminance of
// `mask` (inverted when asked); the smaller of the two is resampled to the
// larger one's size (the mask only as a copy).
void rgbaFromImage(Image& image, Image& mask, bool invert);

// A one-bit image becomes RGBA8 in one colour, opaque where the bit is set.
void mask2rgba(Image& image, unsigned char r, unsigned char g, unsigned char b);

// One pixel from studio-range BT.601 YCbCr to RGB, in place: (Y, Cb, Cr)
// in, (R, G, B) out, each limited to 0..255.
void yuv2rgb(float& y_r, float& cb_g, float& cr_b);

// Every pixel of an RGB8 image through yuv2rgb; other images unchanged.
void colorspace_rgb8_to_yuv8(Image& image);

// Paints the CIE xy chromaticity plane in sRGB, the rest black.
void it8Coverage(Image& image);

// Writes two reference values to standard error and passes every pixel
// from sRGB to XYZ and back.
void it8Test(Image& image);
