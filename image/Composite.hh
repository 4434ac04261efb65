// Moving pixels from one image into another.
#pragma once

#include "image/Image.hh"

// Copies the w x h rectangle at (sx, sy) of `src` to (x, y) of `dst`,
// clipped to both images. `dst` first takes the pixel type of `src`. A copy
// inside one image is safe: the walk direction never reads a written pixel.
void copy(Image& dst, int x, int y, int w, int h, Image& src, int sx, int sy);

// Fills all of `dst` by bilinear sampling of `src` inside the quadrilateral
// with corners (x1, y1) top-left, (x2, y2) top-right, (x3, y3) bottom-left
// and (x4, y4) bottom-right. A source of another pixel type is read through
// a converted copy.
void copy2(Image& dst, Image& src, int x1, int y1, int x2, int y2, int x3, int y3, int x4,
           int y4);

// Appends the rows of `b` (converted to a's pixel type) below those of `a`;
// a's width stays, wider rows are cut, narrower ones padded with white.
void append2(Image& a, Image& b);

// Joins `b` (converted to a's pixel type) to the right of `a`; rows of a
// that b does not reach get white there.
void aside(Image& a, Image& b);

// Overwrites a border bx columns wide left and right and by rows high top
// and bottom with the inner pixels mirrored about the first inner column or
// row. Both widths are limited to what the image can mirror.
void borderfill(Image& img, int bx, int by);

// Cuts a two-page spread: `img` keeps the left half, the returned image
// (caller owns it) holds the right half.
Image* splitBook(Image& img);
