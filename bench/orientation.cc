// Page-orientation detection on an A4 page at 300 dpi with lines of
// glyph-like marks, upright and turned by 90 degrees (which adds the retry).
#include <benchmark/benchmark.h>

#include "deskew/Orientation.hh"
#include "image/Rotate.hh"
#include "tests/support/Pages.hh"

namespace {

const int kW = 2480, kH = 3508;

Image& upright()
{
  static Image page = [] {
    Image p = pages::grayPage(kW, kH, pages::textStrokes(kW, kH, 30));
    p.resX = p.resY = 300;
    return p;
  }();
  return page;
}

Image& turned()
{
  static Image page = [] {
    Image p = upright();
    Image::iterator bg(&p, false);
    *bg;
    rotate(p, 90, bg);
    p.resX = p.resY = 300;
    return p;
  }();
  return page;
}

void AutoRotateUpright(benchmark::State& state)
{
  for (auto _ : state)
    benchmark::DoNotOptimize(autoRotate2(upright()));
}

void AutoRotateTurned(benchmark::State& state)
{
  for (auto _ : state)
    benchmark::DoNotOptimize(autoRotate2(turned()));
}

} // namespace

BENCHMARK(AutoRotateUpright)->Unit(benchmark::kMillisecond);
BENCHMARK(AutoRotateTurned)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
