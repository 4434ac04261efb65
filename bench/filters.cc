// Filters and binarisers on an A4 page at 300 dpi: text on unevenly lit
// paper (and a blank page where the cost differs), gray and RGB.
#include <benchmark/benchmark.h>

#include "bench/BenchPages.hh"

#include <cstdlib>
#include <vector>

#include "filters/convolution.hh"
#include "filters/empty_page.hh"
#include "filters/median.hh"
#include "filters/smooth.hh"
#include "filters/dither.hh"
#include "filters/optimize2bw.hh"
#include "tests/support/Pages.hh"
#include "tests/support/TestSupport.hh"

namespace {

using benchpages::onCopies;

using benchpages::kH;
using benchpages::kW;
using benchpages::textGray;

const Image& blankGray()
{
  static Image page = pages::grayPage(kW, kH, {});
  return page;
}

const Image& textRGB()
{
  static const int tint[3] = {0, 6, 12};
  static Image page = benchpages::tintedText(tint);
  return page;
}


void UnsharpMaskR3Gray8(benchmark::State& state)
{
  const double h[4] = {0.2, 0.17, 0.12, 0.06}, v[4] = {-0.2, -0.17, -0.12, -0.06};
  onCopies(state, textGray(), [&](Image& i) { decomposable_sym_convolution_matrix(i, h, v, 3, 3, 2.0); });
}

void Convolution3x3Gray8(benchmark::State& state)
{
  const double m[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
  onCopies(state, textGray(), [&](Image& i) { convolution_matrix(i, m, 3, 3, 16.0); });
}

void Convolution3x3RGB8(benchmark::State& state)
{
  const double m[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
  onCopies(state, textRGB(), [&](Image& i) { convolution_matrix(i, m, 3, 3, 16.0); });
}

void Optimize2bwGray8(benchmark::State& state)
{
  onCopies(state, textGray(), [](Image& i) { optimize2bw(i, 0, 0, 0, 0, 3, 2.1); });
}

void Optimize2bwRGB8(benchmark::State& state)
{
  onCopies(state, textRGB(), [](Image& i) { optimize2bw(i, 0, 0, 0, 0, 3, 2.1); });
}

void Optimize2bw2Gray8(benchmark::State& state)
{
  onCopies(state, textGray(), [](Image& i) { optimize2bw2(i); });
}

void Optimize2bw2RGB8(benchmark::State& state)
{
  onCopies(state, textRGB(), [](Image& i) { optimize2bw2(i); });
}

void Optimize2bw2BlankGray8(benchmark::State& state)
{
  onCopies(state, blankGray(), [](Image& i) { optimize2bw2(i); });
}

void DetectEmptyPageText(benchmark::State& state)
{
  onCopies(state, textGray(), [](Image& i) { benchmark::DoNotOptimize(detect_empty_page(i, 0.1, 16, 16)); });
}

void DetectEmptyPageBlank(benchmark::State& state)
{
  onCopies(state, blankGray(), [](Image& i) { benchmark::DoNotOptimize(detect_empty_page(i, 0.1, 16, 16)); });
}

void MedianGray8(benchmark::State& state)
{
  const unsigned r = (unsigned)state.range(0);
  onCopies(state, textGray(), [&](Image& i) { median(i, r); });
}

void MedianRGB8(benchmark::State& state)
{
  const unsigned r = (unsigned)state.range(0);
  onCopies(state, textRGB(), [&](Image& i) { median(i, r); });
}

void SmoothGray8(benchmark::State& state)
{
  onCopies(state, textGray(), [](Image& i) { smooth(i, 1); });
}

void FloydSteinbergGray8(benchmark::State& state)
{
  onCopies(state, textGray(), [](Image& i) { FloydSteinberg(i, 2); });
}

} // namespace

BENCHMARK(MedianGray8)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(MedianRGB8)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(SmoothGray8)->Unit(benchmark::kMillisecond);
BENCHMARK(FloydSteinbergGray8)->Unit(benchmark::kMillisecond);
BENCHMARK(UnsharpMaskR3Gray8)->Unit(benchmark::kMillisecond);
BENCHMARK(Convolution3x3Gray8)->Unit(benchmark::kMillisecond);
BENCHMARK(Convolution3x3RGB8)->Unit(benchmark::kMillisecond);
BENCHMARK(Optimize2bwGray8)->Unit(benchmark::kMillisecond);
BENCHMARK(Optimize2bwRGB8)->Unit(benchmark::kMillisecond);
BENCHMARK(Optimize2bw2Gray8)->Unit(benchmark::kMillisecond);
BENCHMARK(Optimize2bw2RGB8)->Unit(benchmark::kMillisecond);
BENCHMARK(Optimize2bw2BlankGray8)->Unit(benchmark::kMillisecond);
BENCHMARK(DetectEmptyPageText)->Unit(benchmark::kMillisecond);
BENCHMARK(DetectEmptyPageBlank)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
