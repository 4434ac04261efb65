// Fuzz target: barcode reading on a small gray image made of the input.
#include "bardecode/read_barcodes.hh"
#include "fuzz/FuzzTarget.hh"
#include "image/Image.hh"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::Input input(data, size);
  const int w = 1 + input.byte();
  const int h = 1 + input.byte() % 64;
  const uint8_t bits = input.byte();
  Image image;
  image.spp = 1;
  image.bps = (bits & 1) ? 1 : 8;
  image.resize(w, h);
  uint8_t* p = image.getRawData();
  const size_t n = size_t(image.stride()) * size_t(h);
  std::memset(p, 0xff, n);
  std::memcpy(p, input.restData(), std::min(n, input.restSize()));
  BarDecode::read_barcodes(image, 0xffffffffu, 150, 1 + (bits >> 4) % 4, 1 + (bits >> 1) % 8,
                           15);
  return 0;
}
