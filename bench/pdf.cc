// A 20-page PDF of A4 pages at 300 dpi (2480 x 3508): 1-bit pages in
// Group 4 and 8-bit gray pages deflated with the Up predictor at level 9,
// and the same gray rows deflated at other levels to show what level 9
// costs. Compare with the peers on the pages this program writes with
// --write-sample=DIR (page-bw.pbm, page-gray.pgm):
//   convert page-bw.pbm -compress Group4 bw.tif; convert page-gray.pgm gray.png
//   img2pdf $(yes bw.tif | head -20) -o out.pdf         (G4 passed through)
//   img2pdf $(yes gray.png | head -20) -o out.pdf       (deflate passed through)
//   tiffcp x20 of page-gray.tif, then tiff2pdf -z -o out.pdf gray20.tif
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <string>

#include "bench/BenchPages.hh"
#include "codecs/PNGPredict.hh"
#include "codecs/ZlibEncoder.hh"
#include "codecs/PDF.hh"
#include "image/Image.hh"

namespace {

using benchpages::kH;
using benchpages::kW;
const int kPages = 20;

// A scan-like page: paper with sensor noise, text-like bars and a
// photo-like gradient block; the 1-bit page thresholds it at 128.
void makePage(Image& img, int bps)
{
  Image gray;
  benchpages::makeScanPage(gray, 1);
  img.spp = 1;
  img.bps = (uint8_t)bps;
  img.resize(kW, kH);
  img.setResolution(300, 300);
  if (bps == 8) {
    memcpy(img.data, gray.data, (size_t)kW * kH);
    return;
  }
  const unsigned stride = img.stride();
  memset(img.data, 0, (size_t)stride * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      if (gray.data[(size_t)y * kW + x] >= 128)
        img.data[(size_t)y * stride + x / 8] |= (uint8_t)(0x80 >> (x % 8));
}

class NullBuf : public std::streambuf {
public:
  uint64_t bytes = 0;
protected:
  std::streamsize xsputn(const char*, std::streamsize n) override
  {
    bytes += (uint64_t)n;
    return n;
  }
  int_type overflow(int_type c) override
  {
    ++bytes;
    return traits_type::not_eof(c);
  }
};

void BM_PDFWrite20Pages(benchmark::State& state)
{
  Image page;
  makePage(page, (int)state.range(0));
  uint64_t bytes = 0;
  for (auto _ : state) {
    NullBuf nb;
    std::ostream os(&nb);
    PDFCodec writer(&os, "bench");
    for (int i = 0; i < kPages; ++i) {
      writer.beginPage(kW * 72.0 / 300, kH * 72.0 / 300);
      writer.showImage(page, 0, 0, kW * 72.0 / 300, kH * 72.0 / 300);
    }
    if (!writer.finish())
      state.SkipWithError("write failed");
    bytes = nb.bytes;
  }
  state.counters["bytes"] = (double)bytes;
}

// One gray page's predicted rows deflated at the given level.
void BM_DeflateGrayPage(benchmark::State& state)
{
  Image page;
  makePage(page, 8);
  std::string rows;
  predictPNG(page, rows, 2);
  uint64_t bytes = 0;
  for (auto _ : state) {
    NullBuf nb;
    std::ostream os(&nb);
    ZlibEncoder encoder(&os, (int)state.range(0));
    encoder.write(rows.data(), (uint64_t)rows.size());
    encoder.finish();
    bytes = nb.bytes;
  }
  state.counters["bytes"] = (double)bytes;
}

} // namespace

BENCHMARK(BM_PDFWrite20Pages)->Arg(1)->Arg(8)->ArgName("bps")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateGrayPage)->Arg(9)->Arg(6)->Arg(1)->ArgName("level")->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
  for (int i = 1; i < argc; ++i)
    if (strncmp(argv[i], "--write-sample=", 15) == 0) {
      const std::string dir = argv[i] + 15;
      for (int bps : {1, 8}) {
        Image img;
        makePage(img, bps);
        std::ofstream f(dir + (bps == 1 ? "/page-bw.pbm" : "/page-gray.pgm"), std::ios::binary);
        f << (bps == 1 ? "P4\n" : "P5\n") << kW << " " << kH << (bps == 1 ? "\n" : "\n255\n");
        for (int y = 0; y < kH; ++y) {
          const uint8_t* row = img.data + (size_t)y * img.stride();
          for (unsigned x = 0; x < img.stridefill(); ++x)
            f.put((char)(bps == 1 ? ~row[x] : row[x]));
        }
      }
      return 0;
    }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
