// Blank-page detection on a bilevel reduction of the page.
#pragma once

#include "image/Image.hh"

// True when the black pixels inside the margins make up less than percent
// of the whole image. Margins are in pixels; horizontally they are taken in
// whole bytes of 8 pixels. setPixels, when given, receives the count. The
// image is not changed.
bool detect_empty_page(Image& image, double percent, int marginX, int marginY,
                       int* setPixels = nullptr);
