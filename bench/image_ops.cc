// Core image operations on an A4 page at 300 dpi (2480 x 3508).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "image/Colorspace.hh"
#include "image/Crop.hh"
#include "image/Rotate.hh"
#include "tests/support/TestSupport.hh"

namespace {

const int kW = 2480, kH = 3508;

const Image& page(int spp, int bps)
{
  static std::unique_ptr<Image> pages[5];
  std::unique_ptr<Image>& p = pages[spp == 3 ? 2 : bps == 1 ? 0 : 1];
  if (!p) {
    p.reset(new Image);
    p->spp = (uint8_t)spp;
    p->bps = (uint8_t)bps;
    p->resize(kW, kH, 0);
    testsupport::fillPattern(*p, 42);
  }
  return *p;
}

// Runs op on a fresh copy of the page each iteration; the copy is not timed.
template <typename Op>
void onCopy(benchmark::State& state, int spp, int bps, Op op)
{
  const Image& src = page(spp, bps);
  Image im;
  for (auto _ : state) {
    state.PauseTiming();
    im = src;
    state.ResumeTiming();
    op(im);
    benchmark::DoNotOptimize(im.data);
  }
  state.SetItemsProcessed(state.iterations() * (int64_t)kW * kH);
}

void BM_Rgb8ToGray8(benchmark::State& s) { onCopy(s, 3, 8, [](Image& im) { colorspace_by_name(im, "gray8"); }); }
void BM_Gray8ToGray1(benchmark::State& s) { onCopy(s, 1, 8, [](Image& im) { colorspace_by_name(im, "gray1"); }); }
void BM_Rot90Gray8(benchmark::State& s) { onCopy(s, 1, 8, [](Image& im) { rot90(im, 90); }); }
void BM_Rot90Rgb8(benchmark::State& s) { onCopy(s, 3, 8, [](Image& im) { rot90(im, 90); }); }
void BM_Rot90Gray1(benchmark::State& s) { onCopy(s, 1, 1, [](Image& im) { rot90(im, 90); }); }
void BM_Rotate3_5Gray8(benchmark::State& s)
{
  onCopy(s, 1, 8, [](Image& im) { Image::iterator bg(&im, false); rotate(im, 3.5, bg); });
}
void BM_Rotate3_5Rgb8(benchmark::State& s)
{
  onCopy(s, 3, 8, [](Image& im) { Image::iterator bg(&im, false); rotate(im, 3.5, bg); });
}
// A 2 cm margin off every side.
void BM_CropRgb8(benchmark::State& s) { onCopy(s, 3, 8, [](Image& im) { crop(im, 236, 236, kW - 472, kH - 472); }); }
void BM_CropGray1(benchmark::State& s) { onCopy(s, 1, 1, [](Image& im) { crop(im, 236, 236, kW - 472, kH - 472); }); }

} // namespace

BENCHMARK(BM_Rgb8ToGray8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gray8ToGray1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rot90Gray8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rot90Rgb8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rot90Gray1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate3_5Gray8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate3_5Rgb8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CropRgb8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CropGray1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
