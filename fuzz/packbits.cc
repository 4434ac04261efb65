// Fuzz target: PackBits into rows whose size the first bytes give.
#include "codecs/Decoders.hh"
#include "fuzz/FuzzTarget.hh"

#include <sstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::Input input(data, size);
  const int rowBytes = 1 + input.u16() % 2048;
  const int rows = 1 + input.byte();
  std::string payload = input.rest();
  std::vector<unsigned char> dst(size_t(rowBytes) * size_t(rows));
  std::istringstream in(payload);
  UnpackBits(dst.data(), rowBytes, rows, &in, int(payload.size()));
  return 0;
}
