// PNG read and write of an A4 page at 300 dpi (2480 x 3508), RGB8 and
// GRAY8, at zlib level 6 (quality 33). zlib dominates; compare with
//   VIPS_CONCURRENCY=1 vips copy page.png page.v              (read)
//   VIPS_CONCURRENCY=1 vips copy page.v out.png[compression=6,filter=up]
// on the page this program writes with --write-sample=DIR.
#include <benchmark/benchmark.h>

#include <cstring>
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

std::string encode(Image& img)
{
  std::ostringstream os;
  ImageCodec::Write(&os, img, "png", "", kQualityLevel6);
  return os.str();
}

// Counts bytes, keeps none: the benchmark measures the codec, not memcpy.
class NullBuf : public std::streambuf {
protected:
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

void BM_PNGWrite(benchmark::State& state)
{
  Image img;
  makeScanPage(img, (int)state.range(0));
  NullBuf nb;
  std::ostream os(&nb);
  for (auto _ : state) {
    if (!ImageCodec::Write(&os, img, "png", "", kQualityLevel6))
      state.SkipWithError("write failed");
  }
  state.counters["bytes"] = (double)encode(img).size();
}

void BM_PNGRead(benchmark::State& state)
{
  Image img;
  makeScanPage(img, (int)state.range(0));
  const std::string png = encode(img);
  for (auto _ : state) {
    MemoryIn buf((const unsigned char*)png.data(), png.size());
    std::istream in(&buf);
    Image out;
    if (ImageCodec::Read(&in, out, "png") != 1)
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(out.data);
  }
}

} // namespace

BENCHMARK(BM_PNGWrite)->Arg(3)->Arg(1)->ArgName("spp")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PNGRead)->Arg(3)->Arg(1)->ArgName("spp")->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
  // --write-sample=DIR writes page-rgb.png and page-gray.png for the peers.
  for (int i = 1; i < argc; ++i)
    if (strncmp(argv[i], "--write-sample=", 15) == 0) {
      for (int spp : {3, 1}) {
        Image img;
        makeScanPage(img, spp);
        std::ofstream f(std::string(argv[i] + 15) + (spp == 3 ? "/page-rgb.png" : "/page-gray.png"),
                        std::ios::binary);
        f << encode(img);
      }
      return 0;
    }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
