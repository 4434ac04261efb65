// Fuzz target: CCITT decoding; the first bytes choose K, alignment,
// polarity, end of block, width and height.
#include "codecs/CCITT.hh"
#include "fuzz/FuzzTarget.hh"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::Input input(data, size);
  const uint8_t flags = input.byte();
  const int K = int(flags & 3) - 1; // -1 (T.6), 0 (T.4 1-D), 1, 2 (T.4 2-D)
  const int width = 1 + input.u16() % 4096;
  const int height = input.u16() % 1024; // 0: until the data end
  std::istringstream in(input.rest());
  DecodeCCITT(in, width, height, K, flags & 4, flags & 8, flags & 16);
  return 0;
}
