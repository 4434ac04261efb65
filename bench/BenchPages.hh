// The page the codec benchmarks encode: A4 at 300 dpi, scan-like.
#pragma once

#include <algorithm>
#include <cstdint>

#include <benchmark/benchmark.h>

#include "image/Image.hh"
#include "tests/support/Pages.hh"
#include "tests/support/TestSupport.hh"

namespace benchpages {

const int kW = 2480, kH = 3508;

// Paper with sensor noise, dark text-like bars and a photo-like gradient
// block, so an encoder has real work to do. 8 bits per sample.
inline void makeScanPage(Image& img, int spp)
{
  img.spp = (uint8_t)spp;
  img.bps = 8;
  img.resize(kW, kH);
  img.setResolution(300, 300);
  uint32_t seed = 12345;
  for (int y = 0; y < kH; ++y) {
    uint8_t* row = img.data + (size_t)y * img.stride();
    const bool textLine = (y / 40) % 3 == 1 && y > 300 && y < 2400;
    for (int x = 0; x < kW; ++x) {
      seed = seed * 1664525u + 1013904223u;
      int v = 235 + (int)((seed >> 24) % 7);
      if (textLine && (x / 9) % 5 != 0 && ((x * 7 + y) / 23) % 4 != 0 && x > 200 && x < 2280)
        v = 20 + (int)((seed >> 16) % 30);
      if (y > 2600 && y < 3300 && x > 300 && x < 2100)
        v = (x - 300) * 200 / 1800 + (int)((seed >> 20) % 9);
      for (int c = 0; c < spp; ++c)
        row[x * spp + c] = (uint8_t)(c == 1 ? v * 7 / 8 : v);
    }
  }
}

// A4 gray text page (strokes of text-like density on unevenly lit paper),
// made once.
inline const Image& textGray()
{
  static Image page = pages::grayPage(kW, kH, pages::textStrokes(kW, kH, 30));
  return page;
}

// The text page in RGB, channel c offset by tint[c] (clamped).
inline Image tintedText(const int tint[3])
{
  const Image& g = textGray();
  Image rgb = testsupport::makeImage(kW, kH, 3, 8, 0);
  for (int64_t i = 0; i < (int64_t)kW * kH; ++i)
    for (int c = 0; c < 3; ++c)
      rgb.data[3 * i + c] = (uint8_t)std::min(255, std::max(0, g.data[i] + tint[c]));
  return rgb;
}

// Runs op on a fresh copy of the page each iteration; the copy is not timed.
template <typename Op>
void onCopies(benchmark::State& state, const Image& page, Op op)
{
  for (auto _ : state) {
    state.PauseTiming();
    Image img;
    img = page;
    state.ResumeTiming();
    op(img);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * (int64_t)page.w * page.h);
}

} // namespace benchpages
