// Drawing paths into an Image of any pixel type: solid fills and strokes
// in one colour, and fills with an image pattern. Colours are components
// 0..1 (clamped); t maps path coordinates to image pixels. Images without
// pixels, or of a layout without a pixel type, are left alone.
#pragma once

#include <vector>

#include "canvas/Transform.hh"
#include "canvas/XPath.hh"
#include "image/Image.hh"

struct ImageColor {
  double r, g, b, a;
};

// Fills path with the colour; evenOdd selects the even-odd rule, else
// non-zero.
void imageFillPath(Image& image, XPath& path, const Transform& t, const ImageColor& color,
                   bool evenOdd = false);

// Strokes path with the colour: width, cap (0 butt, 1 square, 2 round),
// join (0 miter, 2 round, 3 bevel), miter limit and an optional dash
// pattern (whole pairs of dash and gap lengths) starting dashStart into it.
void imageStrokePath(Image& image, XPath& path, const Transform& t, const ImageColor& color,
                     double width, int cap = 0, int join = 0, float miterLimit = 1.0f,
                     const std::vector<float>* dashes = nullptr, float dashStart = 0.0f);

// Fills path with pattern: its pixel (u, v) lands where patternTransform
// maps it (the drawing transform t when patternTransform is null); alpha
// 0..1 scales the pattern's alpha; smooth samples bilinearly where the
// mapping is not the identity. A mapping that cannot be inverted draws
// nothing.
void imageFillPathImage(Image& image, XPath& path, const Transform& t, Image& pattern,
                        double alpha = 1.0, const Transform* patternTransform = nullptr,
                        bool smooth = true, bool evenOdd = false);

// A colour component 0..1 as a byte: clamped, times 255, plus 0.5,
// truncated.
unsigned char colorByte(double c);
