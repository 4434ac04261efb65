// PNM for the command-line tools: P4 (1-bit), P5 and P6 at 8 or 16 bits
// (big-endian on disk), P7 grey-alpha and RGB-alpha; P5 also at 2 and 4
// bits. Independent of the codecs and of the tests' own PNM code, so a tool
// never checks a codec only against itself. Every function returns false
// on any error.
#pragma once

#include <iosfwd>
#include <string>

#include "image/Image.hh"

namespace pnm {

bool write(const Image& image, std::ostream& out);
bool read(Image& image, std::istream& in);
bool write(const Image& image, const std::string& path);
bool read(Image& image, const std::string& path);

} // namespace pnm
