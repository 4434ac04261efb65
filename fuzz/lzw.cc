// Fuzz target: LZW decoding (TIFF and PDF flavours, either bit order),
// output capped.
#include "codecs/Decoders.hh"
#include "fuzz/FuzzTarget.hh"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::Input input(data, size);
  const uint8_t flags = input.byte();
  std::istringstream in(input.rest());
  std::ostringstream out;
  DecodeLZW(out, in, flags & 1, flags & 2, 64u << 10);
  return 0;
}
