// Drawing one PDF page into an Image with poppler: the path taken when the
// PDF reading script does not draw the page itself.
#pragma once

#include <istream>

class Image;

namespace pdfreader {

// Reads the whole stream from position 0 and draws page `page` (counted
// from 1) at `dpi` on white with anti-aliasing; the image becomes 8-bit RGB
// of the page's crop box with the page's own rotation applied, resolution
// dpi. On failure prints one line and leaves the image without pixels.
bool renderPage(std::istream& in, Image& image, int page, int dpi);

} // namespace pdfreader
