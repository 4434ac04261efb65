// TIFF read and write of an A4 page at 300 dpi (2480 x 3508): Group 4
// (1 bit), deflate at zlib level 6 (quality 33; gray and RGB) and, read
// only, LZW. Compare with libtiff doing the same, one run each, on the
// files this program leaves with TOLM_TIFF_SAMPLES=DIR:
//   tiffcp -c none DIR/g4.tif /tmp/x.tif            (read G4)
//   tiffcp -c g4 DIR/g4-none.tif /tmp/x.tif         (write G4)
//   tiffcp -c zip:p6 DIR/gray-deflate-none.tif /tmp/x.tif   (write deflate)
//   tiffcp -c lzw:2 ... (LZW files are made by tiffcp in the benchmark)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/BenchPages.hh"
#include "codecs/Codecs.hh"
#include "codecs/MemoryStream.hh"
#include "image/Image.hh"

namespace {

using namespace benchpages;

const int kQualityLevel6 = 33;

// The scan page; at 1 bit thresholded.
void makePage(Image& img, int spp, int bps)
{
  makeScanPage(img, spp);
  if (bps == 1) {
    // Threshold into a 1-bit page; the gradient becomes a dither-like
    // pattern of stripes, as halftones in scans do.
    Image bw;
    bw.spp = 1;
    bw.bps = 1;
    bw.resize(kW, kH);
    for (int y = 0; y < kH; ++y) {
      const uint8_t* src = img.data + (size_t)y * img.stride();
      uint8_t* dst = bw.data + (size_t)y * bw.stride();
      for (int x = 0; x < kW; x += 8) {
        uint8_t b = 0;
        for (int k = 0; k < 8; ++k)
          b = (uint8_t)(b << 1 | (x + k < kW && src[x + k] > ((x + k + y) % 4) * 40 + 60));
        dst[x / 8] = b;
      }
    }
    img.copyTransferOwnership(bw);
    img.setResolution(300, 300);
  }
}

struct Case {
  const char* name;
  int spp, bps;
  const char* compress;
};
const Case kCases[] = {{"g4", 1, 1, ""}, {"gray-deflate", 1, 8, "deflate"},
                       {"rgb-deflate", 3, 8, "deflate"}};

std::string encode(const Case& c)
{
  Image img;
  makePage(img, c.spp, c.bps);
  std::stringstream os;
  ImageCodec::Write(&os, img, "tif", "", kQualityLevel6, c.compress);
  return os.str();
}


void readBench(benchmark::State& state, const std::string& file)
{
  for (auto _ : state) {
    MemoryIn buf((const unsigned char*)file.data(), file.size());
    std::istream in(&buf);
    Image img;
    if (ImageCodec::Read(&in, img, "tif") != 1)
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(img.data);
  }
  state.counters["bytes"] = (double)file.size();
}

void BM_TIFFRead(benchmark::State& state)
{
  readBench(state, encode(kCases[state.range(0)]));
  state.SetLabel(kCases[state.range(0)].name);
}

void BM_TIFFWrite(benchmark::State& state)
{
  const Case& c = kCases[state.range(0)];
  Image img;
  makePage(img, c.spp, c.bps);
  std::stringstream os;
  for (auto _ : state) {
    os.str("");
    os.clear();
    if (!ImageCodec::Write(&os, img, "tif", "", kQualityLevel6, c.compress))
      state.SkipWithError("write failed");
  }
  state.counters["bytes"] = (double)encode(c).size();
  state.SetLabel(c.name);
}

// LZW is read only; libtiff makes the file.
void BM_TIFFReadLZW(benchmark::State& state)
{
  const char* dir = getenv("TMPDIR");
  const std::string base = std::string(dir && *dir ? dir : "/tmp") + "/tolm-bench-tiff-lzw";
  {
    std::ofstream(base + "-in.tif", std::ios::binary) << encode(kCases[state.range(0)]);
  }
  const std::string cmd = "tiffcp -c lzw:2 " + base + "-in.tif " + base + ".tif 2>/dev/null";
  if (system(cmd.c_str()) != 0) {
    state.SkipWithError("tiffcp missing");
    return;
  }
  std::ifstream in(base + ".tif", std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  readBench(state, ss.str());
  state.SetLabel(std::string(kCases[state.range(0)].name) + " as lzw:2");
  std::remove((base + "-in.tif").c_str());
  std::remove((base + ".tif").c_str());
}

} // namespace

BENCHMARK(BM_TIFFRead)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TIFFWrite)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TIFFReadLZW)->DenseRange(1, 2)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
  // TOLM_TIFF_SAMPLES=DIR leaves the pages for timing libtiff on them.
  if (const char* dir = getenv("TOLM_TIFF_SAMPLES")) {
    for (const Case& c : kCases) {
      std::ofstream(std::string(dir) + "/" + c.name + ".tif", std::ios::binary) << encode(c);
      Image img;
      makePage(img, c.spp, c.bps);
      std::stringstream os;
      ImageCodec::Write(&os, img, "tif", "", 0, "none");
      std::ofstream(std::string(dir) + "/" + c.name + "-none.tif", std::ios::binary) << os.str();
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
