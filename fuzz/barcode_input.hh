// The barcode target's input, shared with the test that checks its seeds:
//   byte 0   pixel type (low three bits): gray 8, bilevel, gray 4, gray 16,
//            RGB 8 (others: gray 8); bit 3: the pixels are runs (below);
//            bit 4: the runs go down the columns
//   byte 1   directions, 1 to 15 (the script's bits: 1 rows forward, 4 rows
//            mirrored, 2 columns top down, 8 columns bottom up)
//   byte 2   type mask: any, EAN/UPC, Code 128, Code 39, 2 of 5, all bits
//   byte 3   lines averaged (1 to 4, low two bits) and line step (1 to 16)
//   byte 4   threshold
//   2 bytes  width - 1 (big-endian, below 1024), then 2 bytes height - 1;
//            the image holds at most 65,536 pixels (rows beyond are dropped)
//   the rest the pixels, row after row at the image's stride (16-bit
//            samples in the machine's order); missing bytes are white.
// Runs: the rest is one scan line of 8-bit gray, a byte a run width, light
// and dark by turns from a light run, at most 8,192 pixels long, drawn
// height times across the line (within the pixel bound); the width is not
// read. A changed byte is a bar or space of another width, the mutation
// that leads a fuzzer through the decoders' width tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "bardecode/bardecode.hh"
#include "fuzz/FuzzTarget.hh"
#include "image/Image.hh"

namespace fuzz {

constexpr long kBarcodePixels = 1 << 16;

struct BarcodeInput {
  Image image;
  unsigned types = BarDecode::any_code;
  unsigned directions = BarDecode::any_direction;
  int threshold = 150, concurrentLines = 3, lineSkip = 8;
};

// The runs of `in` drawn `across` times side by side, along rows or down
// columns.
inline bool barcodeRuns(Input& in, int across, bool vertical, Image& image)
{
  constexpr long kMaxLine = 8192;
  std::vector<uint8_t> line;
  for (bool dark = false; in.restSize() > 0 && long(line.size()) < kMaxLine; dark = !dark)
    line.insert(line.end(), std::min<long>(in.byte(), kMaxLine - long(line.size())),
                dark ? 0 : 255);
  if (line.empty())
    line.push_back(255);
  const int n = int(line.size());
  across = int(std::min<long>(across, kBarcodePixels / n));
  image.spp = 1;
  image.bps = 8;
  if (!(vertical ? image.resize(across, n) : image.resize(n, across)))
    return false;
  uint8_t* p = image.getRawData();
  if (!p)
    return false;
  const size_t stride = image.stride();
  for (int a = 0; a < across; ++a)
    for (int i = 0; i < n; ++i)
      (vertical ? p[size_t(i) * stride + size_t(a)] : p[size_t(a) * stride + size_t(i)]) = line[i];
  image.setRawData();
  return true;
}

// False when the image cannot be made (no memory).
inline bool barcodeInput(const uint8_t* data, size_t size, BarcodeInput& out)
{
  static const uint8_t kTypes[][2] = {{1, 8}, {1, 1}, {1, 4}, {1, 16}, {3, 8}};
  static const unsigned kMasks[] = {BarDecode::any_code, BarDecode::ean,
                                    BarDecode::code128 | BarDecode::gs1_128,
                                    BarDecode::code39 | BarDecode::code39_mod43 |
                                        BarDecode::code39_ext,
                                    BarDecode::code25i, 0xffffffffu};
  Input in(data, size);
  const uint8_t type = in.byte();
  out.directions = 1 + in.byte() % 15;
  out.types = kMasks[in.byte() % (sizeof kMasks / sizeof *kMasks)];
  const uint8_t grouping = in.byte();
  out.concurrentLines = 1 + (grouping & 3);
  out.lineSkip = 1 + (grouping >> 2) % 16;
  out.threshold = in.byte();
  const int w = 1 + in.u16() % 1024;
  const int lines = 1 + in.u16() % 1024;
  Image& image = out.image;
  if (type & 8)
    return barcodeRuns(in, lines, (type & 16) != 0, image);
  const int h = int(std::min<long>(lines, kBarcodePixels / w));
  const int kind = (type & 7) < 5 ? type & 7 : 0;
  image.spp = kTypes[kind][0];
  image.bps = kTypes[kind][1];
  if (!image.resize(w, h))
    return false;
  uint8_t* p = image.getRawData();
  if (!p)
    return false;
  const size_t n = size_t(image.stride()) * size_t(h);
  std::memset(p, 0xff, n);
  std::memcpy(p, in.restData(), std::min(n, in.restSize()));
  image.setRawData();
  return true;
}

} // namespace fuzz
