// Helpers for the tests of the image library and everything above it:
// images from literal arrays, PNM files for fixtures and for comparison with
// independent tools; the generic helpers of Harness.hh come with it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "image/Image.hh"
#include "image/ImageIterator.hh"
#include "tests/support/Harness.hh"

namespace testsupport {

// A codec with no format of its own, for tests of the hooks the image core
// offers an attached codec.
struct TestCodec : ImageCodec {
  std::string getID() override { return "TEST"; }
  bool writeImage(std::ostream*, Image&, int, const std::string&) override { return false; }
};

// An image of the given type with rows `stride` bytes apart (0 = tight),
// padding bytes filled with `pad` so a test sees when they are read.
Image makeImage(int w, int h, int spp, int bps, unsigned stride = 0, uint8_t pad = 0xA5);

// An 8-bit-per-sample image from literal sample values, row by row.
Image imageFromBytes(int w, int h, int spp, std::initializer_list<int> samples,
                     unsigned stride = 0);

// Packs literal samples (one value per sample, 0..2^bps-1 or 0..65535) into
// an image of any depth, MSB first for sub-byte depths, host order for 16.
Image imageFromSamples(int w, int h, int spp, int bps, const std::vector<int>& samples,
                       unsigned stride = 0);

// Reads sample (x, y, channel) of any depth as its raw value.
int sampleAt(const Image& image, int x, int y, int channel = 0);
void setSampleAt(Image& image, int x, int y, int channel, int value);

// True when both images have the same geometry and the same pixels (row
// padding ignored).
bool samePixels(const Image& a, const Image& b);

// Tight rows with every sample set to `value`.
Image uniform(int w, int h, int spp, int bps, int value);

// Fills with a deterministic pseudo-random pattern.
void fillPattern(Image& image, uint32_t seed = 1);

// The pixel layouts the image core handles, and their colorspace names
// ("gray1" ... "rgb16").
struct PixelType {
  int spp, bps;
};
inline constexpr PixelType kPixelTypes[] = {{1, 1}, {1, 2}, {1, 4}, {1, 8},
                                            {1, 16}, {3, 8}, {4, 8}, {3, 16}};
std::string typeName(const PixelType& t);

// An image filled by fillPattern, its rows `padding` bytes longer than their
// pixels (0 = tight) so a write past a row or a read of padding shows.
Image patterned(int w, int h, const PixelType& t, uint32_t seed, unsigned padding = 2);

// A white background colour at the image's own depth (alpha opaque), for
// the operations that fill uncovered area.
Image::iterator whiteBackground(Image& image);

// Every sample, row by row, pixel by pixel, channel by channel.
std::vector<int> samplesOf(const Image& image);
// The samples of pixel (x, y).
std::vector<int> pixelAt(const Image& image, int x, int y);

// PNM: P5 (gray) and P6 (RGB), 8 or 16 bit (big-endian on disk), plus P4
// for 1-bit. Returns false on any error.
bool writePNM(const Image& image, const std::string& path);
bool readPNM(Image& image, const std::string& path);
bool encodePNM(const Image& image, std::string& out);
bool decodePNM(Image& image, const std::string& in);

} // namespace testsupport
