// PDF writing of deflated image pages at level 9 with the Up predictor: 20
// gray A4 300 dpi pages, and one RGB page, with the image streams deflated
// on one thread and on every core (threads=0), and img2pdf as a peer run on
// the same pages stored as PNG (it copies their deflate data unchanged).
// Wall time is what the goals are about; the CPU time of this process is
// reported beside it, so speed-up and load show in one run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "bench/BenchPages.hh"
#include "codecs/Codecs.hh"
#include "codecs/PDF.hh"
#include "codecs/parallel_deflate.hh"
#include "image/Image.hh"

namespace {

using benchpages::kH;
using benchpages::kW;

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

Image& page(int spp)
{
  static Image gray, rgb;
  Image& img = spp == 1 ? gray : rgb;
  if (!img.getRawData())
    benchpages::makeScanPage(img, spp);
  return img;
}

void writePDF(benchmark::State& state, int spp, int pages)
{
  const unsigned threads = (unsigned)state.range(0);
  paralleldeflate::setThreadLimit(threads);
  Image& img = page(spp);
  uint64_t bytes = 0;
  for (auto _ : state) {
    NullBuf nb;
    std::ostream os(&nb);
    PDFCodec writer(&os, "bench");
    for (int i = 0; i < pages; ++i) {
      writer.beginPage(kW * 72.0 / 300, kH * 72.0 / 300);
      writer.showImage(img, 0, 0, kW * 72.0 / 300, kH * 72.0 / 300);
    }
    if (!writer.finish())
      state.SkipWithError("write failed");
    bytes = nb.bytes;
  }
  paralleldeflate::setThreadLimit(0);
  state.counters["threads"] = (double)paralleldeflate::defaultThreads();
  if (threads)
    state.counters["threads"] = (double)std::min(threads, paralleldeflate::defaultThreads());
  state.counters["bytes"] = (double)bytes;
}

void BM_PDFGray20Pages(benchmark::State& state)
{
  writePDF(state, 1, 20);
}

void BM_PDFRGBPage(benchmark::State& state)
{
  writePDF(state, 3, 1);
}

// img2pdf on the pages as PNG files written once by our PNG writer.
void img2pdf(benchmark::State& state, int spp, int pages)
{
  const std::string dir = "/tmp/tolm-bench-pdf-write-" + std::to_string(getpid());
  const std::string png = dir + (spp == 1 ? "/gray.png" : "/rgb.png");
  if (std::system(("command -v img2pdf >/dev/null && mkdir -p " + dir).c_str()) != 0) {
    state.SkipWithError("img2pdf missing");
    return;
  }
  Image& img = page(spp);
  ImageCodec::Write(png, img, 0);
  std::string command = "img2pdf";
  for (int i = 0; i < pages; ++i)
    command += " " + png;
  command += " -o " + dir + "/out.pdf";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0)
      state.SkipWithError("img2pdf failed");
  std::system(("rm -rf " + dir).c_str());
}

void BM_Img2pdfGray20Pages(benchmark::State& state)
{
  img2pdf(state, 1, 20);
}

void BM_Img2pdfRGBPage(benchmark::State& state)
{
  img2pdf(state, 3, 1);
}

} // namespace

BENCHMARK(BM_PDFGray20Pages)->Arg(1)->Arg(0)->ArgName("threads")->Unit(benchmark::kMillisecond)
    ->UseRealTime()->MeasureProcessCPUTime()->Iterations(1)->Repetitions(3);
BENCHMARK(BM_PDFRGBPage)->Arg(1)->Arg(0)->ArgName("threads")->Unit(benchmark::kMillisecond)
    ->UseRealTime()->MeasureProcessCPUTime()->Iterations(1)->Repetitions(3);
BENCHMARK(BM_Img2pdfGray20Pages)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)
    ->Repetitions(3);
BENCHMARK(BM_Img2pdfRGBPage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)
    ->Repetitions(3);

BENCHMARK_MAIN();
