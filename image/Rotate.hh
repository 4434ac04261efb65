// Quarter turns, rotation by any angle in place, cutting a rotated window
// out into a new image, and restoring an EXIF orientation.
//
// Angles are degrees; a positive angle turns the picture clockwise (rows
// run top to bottom). Where a turned pixel falls outside the source it takes
// the background colour: gray types its luminance (getL, brought to the
// target depth when the colour comes from an image of the other depth),
// colour types its colour through the typed accumulator.
//
// An operation that needs a new buffer throws std::bad_alloc when there is
// no memory for it; the image is then left exactly as it was.
#pragma once

#include "image/Image.hh"

// 90: a quarter turn clockwise; any other value: counter-clockwise. The
// size becomes h x w and the two resolutions trade places.
void rot90(Image& image, int angle);

// Rotates about the centre (w/2, h/2), keeping the size; bilinear with
// 8-bit fixed-point weights. 0 (mod 360) does nothing, 90/180/270 are exact
// turns. The normalised angle is offered to an attached codec first while
// the pixels are unchanged. A non-finite angle: diagnostic, nothing done.
void rotate(Image& image, double angle, const Image::iterator& background);

// A new w x h image whose rows run from (x, y) along the direction of the
// angle through the source; the source is untouched and the caller owns the
// result. Null when the source has no pixels or no pixel type, the size
// exceeds the int range, or the angle is not finite.
Image* copy_crop_rotate(Image& image, int x, int y, unsigned int w, unsigned int h, double angle,
                        const Image::iterator& background);
// The same window, nearest neighbour (coordinates truncated toward zero).
Image* copy_crop_rotate_nn(Image& image, int x, int y, unsigned int w, unsigned int h,
                           double angle, const Image::iterator& background);

// EXIF orientation 1..8 back to upright; 0 and 1 do nothing; anything
// above 8: diagnostic, nothing done.
void exif_rotate(Image& image, unsigned int orientation);
