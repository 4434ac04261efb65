// Helpers for the tests: images from literal arrays, PNM files for fixtures
// and for comparison with independent tools, and locating those tools.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "image/Image.hh"
#include "image/ImageIterator.hh"

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

// Path of an independent tool, or "" when it is missing. Under CI=true a
// missing tool fails the calling test instead of skipping it.
std::string findTool(const std::string& name);
bool underCI();

// A fresh temporary directory, removed by the destructor.
class TempDir {
public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return dir; }
  std::string file(const std::string& name) const { return dir + "/" + name; }
private:
  std::string dir;
};

// Runs a shell command, returns its exit status and captures stdout.
int run(const std::string& command, std::string* output = nullptr);

std::string sourceDir();
std::string binaryDir(); // the build tree the tests were built in
std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& data);

} // namespace testsupport

// Skips (locally) or fails (under CI=true) the current test when a tool is
// missing; evaluates to the tool's path otherwise.
#define REQUIRE_TOOL(var, name)                                                    \
  std::string var = testsupport::findTool(name);                                   \
  if (var.empty()) {                                                               \
    if (testsupport::underCI())                                                    \
      FAIL() << "required tool missing: " << name;                                 \
    else                                                                           \
      GTEST_SKIP() << "tool missing: " << name;                                    \
  }
