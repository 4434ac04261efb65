// Fuzz target: an ICC profile parsed and applied to small images of the
// pixel types colour management converts, from 1-bit gray to 16-bit RGB.
#include "color/ColorManagement.hh"
#include "fuzz/FuzzTarget.hh"
#include "image/Image.hh"

#include <cstring>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string profile(reinterpret_cast<const char*>(data), size);
  struct Type {
    int spp, bps;
  } types[] = {{3, 8}, {1, 8}, {4, 8}, {3, 16}, {1, 16}, {1, 1}, {1, 2}, {1, 4}};
  for (const Type& t : types) {
    Image image;
    image.spp = uint8_t(t.spp);
    image.bps = uint8_t(t.bps);
    image.resize(5, 3);
    uint8_t* p = image.getRawData();
    for (size_t i = 0; i < size_t(image.stride()) * 3; ++i)
      p[i] = uint8_t(i * 37);
    std::istringstream in(profile);
    applyICC(image, in);
  }
  return 0;
}
