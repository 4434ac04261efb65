// Fuzz target: CCITT decoding; the first bytes choose K, alignment,
// polarity, end of block, width and height.
#include "codecs/CCITT.hh"
#include "fuzz/FuzzTarget.hh"

#include <sstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::Input input(data, size);
  const uint8_t flags = input.byte();
  const int K = int(flags & 3) - 1; // -1 (T.6), 0 (T.4 1-D), 1, 2 (T.4 2-D)
  const int width = 1 + input.u16() % 4096;
  const int height = input.u16() % 1024; // 0: until the data end
  const std::string rest = input.rest();
  std::istringstream in(rest);
  DecodeCCITT(in, width, height, K, flags & 4, flags & 8, flags & 16);
  // the TIFF reader's path: straight into the rows of a buffer
  if (height > 0) {
    std::vector<uint8_t> rows((size_t)height * ((width + 7) / 8));
    DecodeCCITT((const uint8_t*)rest.data(), rest.size(), width, height, K, flags & 4, flags & 8,
                rows.data(), (size_t)height);
  }
  return 0;
}
