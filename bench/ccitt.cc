// Group 4 encode and decode of an A4 page at 300 dpi with text-like marks.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "codecs/CCITT.hh"

namespace {

const int kW = 2480, kH = 3508;

std::string textPage()
{
  const size_t rb = (kW + 7) / 8;
  std::string rows(rb * kH, '\xff');
  uint32_t s = 7;
  for (int y = 200; y < kH - 200; ++y) {
    if ((y % 50) > 32)
      continue; // line gaps
    for (int x = 200; x < kW - 200; ++x) {
      const int cx = x % 24, cy = y % 50;
      s = s * 1103515245u + 12345u;
      const bool ink = (cx < 3 || cy < 3 || (cx + cy) % 17 == 0) && ((x / 24 + y / 50) % 7 != 0) && (s >> 28) != 0;
      if (ink)
        rows[y * rb + x / 8] &= (char)~(0x80 >> (x % 8));
    }
  }
  return rows;
}

void Encode(benchmark::State& state)
{
  const std::string page = textPage();
  size_t bytes = 0;
  for (auto _ : state) {
    std::ostringstream out;
    EncodeCCITT(out, (const unsigned char*)page.data(), kW, kH, 0, false);
    bytes = out.str().size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["encoded_bytes"] = (double)bytes;
}

void Decode(benchmark::State& state)
{
  const std::string page = textPage();
  std::ostringstream out;
  EncodeCCITT(out, (const unsigned char*)page.data(), kW, kH, 0, false);
  const std::string enc = out.str();
  for (auto _ : state) {
    std::istringstream in(enc);
    std::string rows = DecodeCCITT(in, kW, kH, -1, false, false, false);
    benchmark::DoNotOptimize(rows);
  }
}

} // namespace

// TOLM_CCITT_PAGE=path writes the page as PBM, to time other coders on it.
static const bool dumped = [] {
  if (const char* path = getenv("TOLM_CCITT_PAGE")) {
    std::string page = textPage();
    FILE* f = fopen(path, "wb");
    if (f) {
      fprintf(f, "P4\n%d %d\n", kW, kH);
      for (auto& c : page)
        c = (char)~c;
      fwrite(page.data(), 1, page.size(), f);
      fclose(f);
    }
  }
  return true;
}();

BENCHMARK(Encode)->Unit(benchmark::kMillisecond);
BENCHMARK(Decode)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
