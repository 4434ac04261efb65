// Fuzz target: PNG reading.
#include "fuzz/FuzzTarget.hh"
#include "image/Image.hh"
#include "image/ImageCodec.hh"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  Image image;
  if (ImageCodec::Read(&in, image, "png") > 0)
    image.getRawData();
  return 0;
}
