// Resampling an image in place: nearest neighbour, box average, bilinear,
// bicubic, data-dependent triangulation, and the thumbnail reductions.
//
// sx, sy are factors (new size = trunc(old * factor)) or, with `fixed`, the
// new width and height in pixels. Results have tight rows and keep the pixel
// type (box_scale_grayX_to_gray8 gives GRAY8); the resolution is scaled
// along. A new size that is not finite, negative or past INT_MAX is refused
// with a diagnostic; an image without pixels is left alone; the source
// pixels survive an allocation failure.
#pragma once

#include "image/Image.hh"

// Box average for factors up to 0.5, bilinear otherwise (only sx decides);
// the attached codec is offered the job first while the pixels are unchanged.
void scale(Image& image, double sx, double sy, bool fixed = false);

void nearest_scale(Image& image, double sx, double sy, bool fixed = false);
void box_scale(Image& image, double sx, double sy, bool fixed = false);
void bilinear_scale(Image& image, double sx, double sy, bool fixed = false);
// Catmull-Rom cubic convolution (a = -0.5) on the same corner-aligned grid as
// the bilinear method, results clamped to the sample range.
void bicubic_scale(Image& image, double sx, double sy, bool fixed = false);
// Sources smaller than 2 x 2 fall back to bilinear.
void ddt_scale(Image& image, double sx, double sy, bool fixed = false, bool smooth = true);

// Box average of a 1-, 2-, 4- or 8-bit gray image into GRAY8.
void box_scale_grayX_to_gray8(Image& image, double sx, double sy, bool fixed = false);

// Fast reduction for previews; enlargement goes to scale().
void thumbnail_scale(Image& image, double sx, double sy, bool fixed = false);
