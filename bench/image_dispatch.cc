// Cost of the dispatch by pixel type: a per-pixel invert written once over
// the typed iterators and run through codegen, next to a hand-written loop
// doing the same per pixel, on an A4 page at 300 dpi.
#include <benchmark/benchmark.h>

#include <cstring>

#include "image/TypedIterators.hh"
#include "tests/support/TestSupport.hh"

namespace {

const int kW = 2480, kH = 3508;

template <typename T>
struct bench_invert_template {
  void operator()(Image& image)
  {
    T it(image);
    for (int y = 0; y < image.h; ++y) {
      T p = it.at(0, y);
      for (int x = 0; x < image.w; ++x, ++p) {
        typename T::accu a = *p;
        for (int c = 0; c < T::accu::samples; ++c)
          a.v[c] = T::accu::maxval - a.v[c];
        p.set(a);
      }
    }
    image.setRawData();
  }
};

Image page(int spp, int bps)
{
  Image img = testsupport::makeImage(kW, kH, spp, bps);
  testsupport::fillPattern(img);
  return img;
}

void Dispatched(benchmark::State& state, int spp, int bps)
{
  Image img = page(spp, bps);
  for (auto _ : state) {
    codegen<bench_invert_template>(img);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * (int64_t)kW * kH);
}

void RawGray1(benchmark::State& state)
{
  Image img = page(1, 1);
  for (auto _ : state) {
    const unsigned stride = img.stride();
    for (int y = 0; y < img.h; ++y) {
      uint8_t* row = img.data + (size_t)y * stride;
      for (int x = 0; x < img.w; ++x) {
        const int shift = 7 - (x & 7);
        const int v = ((row[x >> 3] >> shift) & 1) * 255;
        const int out = (255 - v) >> 7;
        row[x >> 3] = (uint8_t)((row[x >> 3] & ~(1 << shift)) | (out << shift));
      }
    }
    img.setRawData();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * (int64_t)kW * kH);
}

template <typename S, int N, int MAX>
void RawBytes(benchmark::State& state)
{
  Image img = page(N, sizeof(S) * 8);
  for (auto _ : state) {
    const unsigned stride = img.stride();
    for (int y = 0; y < img.h; ++y) {
      S* row = (S*)(img.data + (size_t)y * stride);
      for (int i = 0; i < img.w * N; ++i)
        row[i] = (S)(MAX - row[i]);
    }
    img.setRawData();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * (int64_t)kW * kH);
}

} // namespace

BENCHMARK_CAPTURE(Dispatched, gray1, 1, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(RawGray1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Dispatched, gray8, 1, 8)->Unit(benchmark::kMillisecond);
BENCHMARK(RawBytes<uint8_t, 1, 255>)->Name("RawGray8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Dispatched, rgb8, 3, 8)->Unit(benchmark::kMillisecond);
BENCHMARK(RawBytes<uint8_t, 3, 255>)->Name("RawRGB8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Dispatched, rgb16, 3, 16)->Unit(benchmark::kMillisecond);
BENCHMARK(RawBytes<uint16_t, 3, 65535>)->Name("RawRGB16")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
