// Fuzz target: PDF input through the registry to the PDF reader and its
// script (page count from the cross-reference data); pages are not drawn.
#include "fuzz/FuzzTarget.hh"
#include "image/Image.hh"
#include "image/ImageCodec.hh"

#include <cstdlib>
#include <sstream>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  // the script beside the sources
  setenv("TOLM_RESOURCE_DIR", TOLM_SOURCE_DIR "/resources", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.empty() || bytes[0] != '%')
    bytes = "%PDF-1.4\n" + bytes;
  // a reader that keeps the stream takes it over (negative result)
  auto* in = new std::istringstream(bytes);
  Image image;
  if (ImageCodec::Read(in, image, "", "", 0) >= 0)
    delete in;
  return 0;
}
