// Fuzz target: TIFF reading, every page the file claims (at most 8).
#include "fuzz/FuzzTarget.hh"
#include "image/Image.hh"
#include "image/ImageCodec.hh"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string bytes(reinterpret_cast<const char*>(data), size);
  for (int page = 0; page < 8; ++page) {
    std::istringstream in(bytes);
    Image image;
    int n = ImageCodec::Read(&in, image, "tif", "", page);
    if (n == 0)
      break;
    image.getRawData();
    if (n > 0 && page + 1 >= n)
      break;
  }
  return 0;
}
