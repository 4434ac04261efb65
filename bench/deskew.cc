// Measuring and straightening a sheet-fed A4 scan at 300 dpi with a 2 degree
// skew, gray and colour. Set TOLM_DESKEW_SCAN_DIR to also write the scans as
// PNM files there, for comparison runs of other tools on the same pages.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "deskew/Deskew.hh"
#include "tests/support/SyntheticScan.hh"
#include "tests/support/TestSupport.hh"

namespace {

const int band = 50;

const Image& a4Scan(int spp)
{
  // Image copies from a non-const source, which std::pair cannot hold
  // under every standard library: one slot per kind instead of a map.
  static Image scans[2];
  static bool made[2] = {false, false};
  Image& img = scans[spp == 1 ? 0 : 1];
  if (made[spp == 1 ? 0 : 1])
    return img;
  made[spp == 1 ? 0 : 1] = true;
  synthetic::Sheet sheet;
  sheet.width = 2480; // 210 x 297 mm at 300 dpi
  sheet.height = 3508;
  sheet.marginX = 250;
  sheet.marginY = 300;
  synthetic::Scan s;
  s.width = 2640;
  s.height = 3720;
  s.spp = spp;
  s.resolution = 300;
  s.angle = 2.0;
  Image scan = synthetic::make(s, sheet);
  img = scan;
  if (const char* dir = getenv("TOLM_DESKEW_SCAN_DIR"))
    testsupport::writePNM(img, std::string(dir) + (spp == 1 ? "/a4_gray8.pgm" : "/a4_rgb8.ppm"));
  return img;
}

void BM_deskew(benchmark::State& state)
{
  const Image& scan = a4Scan((int)state.range(0));
  float angle = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Image img(const_cast<Image&>(scan));
    state.ResumeTiming();
    const deskew_rect r = deskewParameters(img, band, band);
    Image* out = deskewApply(img, r, false);
    img.copyTransferOwnership(*out);
    delete out;
    angle = r.angle;
    benchmark::DoNotOptimize(img.data);
  }
  state.counters["angle"] = angle;
}

void BM_deskewParameters(benchmark::State& state)
{
  Image& scan = const_cast<Image&>(a4Scan((int)state.range(0)));
  for (auto _ : state) {
    const deskew_rect r = deskewParameters(scan, band, band);
    benchmark::DoNotOptimize(r);
  }
}

void BM_deskewApply(benchmark::State& state)
{
  Image& scan = const_cast<Image&>(a4Scan((int)state.range(0)));
  const deskew_rect r = deskewParameters(scan, band, band);
  for (auto _ : state) {
    Image* out = deskewApply(scan, r, false);
    benchmark::DoNotOptimize(out->data);
    delete out;
  }
}

} // namespace

// Argument: samples per pixel (1 = GRAY8, 3 = RGB8).
BENCHMARK(BM_deskew)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_deskewParameters)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_deskewApply)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
