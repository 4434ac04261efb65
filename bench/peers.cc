// The core operations on an A4 page at 300 dpi (2480 x 3508), one benchmark
// per row of the comparison table that scripts/bench prints next to vips and
// ImageMagick. `bench_peers --write-pages DIR` writes the pages used here as
// PNM files, so that the peers work on the very same pixels.
#include <benchmark/benchmark.h>

#include "bench/BenchPages.hh"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "Deskew/Deskew.hh"
#include "filters/convolution.hh"
#include "filters/median.hh"
#include "filters/optimize2bw.hh"
#include "filters/white_balance.hh"
#include "image/Colorspace.hh"
#include "image/Crop.hh"
#include "image/Rotate.hh"
#include "image/Scale.hh"
#include "tests/support/SyntheticScan.hh"
#include "tests/support/Pages.hh"
#include "tests/support/TestSupport.hh"

namespace {

using benchpages::onCopies;

using benchpages::kH;
using benchpages::kW;
using benchpages::textGray;

// A slightly yellow paper, so that colour conversions and white balance have
// real work to do.
const Image& textRGB()
{
  static const int tint[3] = {0, -6, -24};
  static Image page = benchpages::tintedText(tint);
  return page;
}

// A sheet-fed scan of an A4 sheet turned by 2 degrees on a dark background.
const Image& scanGray()
{
  static Image scan = [] {
    synthetic::Sheet sheet;
    sheet.width = kW;
    sheet.height = kH;
    sheet.marginX = 250;
    sheet.marginY = 300;
    synthetic::Scan s;
    s.width = 2640;
    s.height = 3720;
    s.resolution = 300;
    s.angle = 2.0;
    Image made = synthetic::make(s, sheet);
    Image img;
    img = made;
    return img;
  }();
  return scan;
}


void rgb8_to_gray8(benchmark::State& s) { onCopies(s, textRGB(), [](Image& i) { colorspace_by_name(i, "gray8"); }); }
void gray8_to_gray1(benchmark::State& s) { onCopies(s, textGray(), [](Image& i) { colorspace_by_name(i, "gray1"); }); }
void rot90_rgb8(benchmark::State& s) { onCopies(s, textRGB(), [](Image& i) { rot90(i, 90); }); }
void rotate_3_5_rgb8(benchmark::State& s)
{
  onCopies(s, textRGB(), [](Image& i) {
    Image::iterator bg(&i, false);
    bg.setRGB(1.0, 1.0, 1.0);
    rotate(i, 3.5, bg);
  });
}
void crop_rgb8(benchmark::State& s) { onCopies(s, textRGB(), [](Image& i) { crop(i, 236, 236, kW - 472, kH - 472); }); }
void scale50_box_rgb8(benchmark::State& s) { onCopies(s, textRGB(), [](Image& i) { box_scale(i, 0.5, 0.5); }); }
void scale50_bilinear_rgb8(benchmark::State& s) { onCopies(s, textRGB(), [](Image& i) { bilinear_scale(i, 0.5, 0.5); }); }
void conv3x3_gray8(benchmark::State& s)
{
  const double m[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
  onCopies(s, textGray(), [&](Image& i) { convolution_matrix(i, m, 3, 3, 16.0); });
}
void median3x3_gray8(benchmark::State& s) { onCopies(s, textGray(), [](Image& i) { median(i, 1); }); }
void binarise_gray8(benchmark::State& s) { onCopies(s, textGray(), [](Image& i) { optimize2bw(i, 0, 0, 128, 0, 3, 2.1); }); }
void deskew_gray8(benchmark::State& s) { onCopies(s, scanGray(), [](Image& i) { deskew(i, 50, 50); }); }
void autowhite_rgb8(benchmark::State& s)
{
  // Its line of measurements per call goes nowhere.
  fflush(stderr);
  const int saved = dup(2), null = open("/dev/null", O_WRONLY);
  if (null >= 0)
    dup2(null, 2);
  onCopies(s, textRGB(), [](Image& i) { autoWhite(i); });
  fflush(stderr);
  if (saved >= 0)
    dup2(saved, 2);
  if (null >= 0)
    close(null);
  if (saved >= 0)
    close(saved);
}

} // namespace

BENCHMARK(rgb8_to_gray8)->Unit(benchmark::kMillisecond);
BENCHMARK(gray8_to_gray1)->Unit(benchmark::kMillisecond);
BENCHMARK(rot90_rgb8)->Unit(benchmark::kMillisecond);
BENCHMARK(rotate_3_5_rgb8)->Unit(benchmark::kMillisecond);
BENCHMARK(crop_rgb8)->Unit(benchmark::kMillisecond);
BENCHMARK(scale50_box_rgb8)->Unit(benchmark::kMillisecond);
BENCHMARK(scale50_bilinear_rgb8)->Unit(benchmark::kMillisecond);
BENCHMARK(conv3x3_gray8)->Unit(benchmark::kMillisecond);
BENCHMARK(median3x3_gray8)->Unit(benchmark::kMillisecond);
BENCHMARK(binarise_gray8)->Unit(benchmark::kMillisecond);
BENCHMARK(deskew_gray8)->Unit(benchmark::kMillisecond);
BENCHMARK(autowhite_rgb8)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
  if (argc == 3 && !strcmp(argv[1], "--write-pages")) {
    const std::string dir = argv[2];
    const bool ok = testsupport::writePNM(textGray(), dir + "/gray.pgm") &&
                    testsupport::writePNM(textRGB(), dir + "/rgb.ppm") &&
                    testsupport::writePNM(scanGray(), dir + "/scan.pgm");
    return ok ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
