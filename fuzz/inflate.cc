// Fuzz target: inflate of zlib and raw deflate data, output capped.
#include "codecs/Decoders.hh"
#include "fuzz/FuzzTarget.hh"

#include <sstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::Input input(data, size);
  const uint8_t flags = input.byte();
  const int windowBits = (flags & 1) ? -15 : 15;
  std::ostringstream out;
  DecodeZlib(out, input.restData(), input.restSize(), windowBits, 8u << 20);
  std::vector<unsigned char> mem(4096);
  uint64_t produced = 0;
  inflateToMemory(input.restData(), input.restSize(), windowBits, mem.data(), mem.size(),
                  &produced);
  return 0;
}
