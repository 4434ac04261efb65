// The core operations on an A4 page at 300 dpi (2480 x 3508), each timed in
// this process next to the same operation by vips (its C API) and by
// ImageMagick (MagickCore) on the very same pixels, one thread each, so that
// the three figures of a row come from one run under the same load. The
// peers start from an image in memory and evaluate their result into memory:
// no load, save or start-up is timed. scripts/bench prints the table.
#include <benchmark/benchmark.h>

#include "bench/BenchPages.hh"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/types.h>
#include <time.h>
#include <vips/vips.h>
// MagickCore's own Image would collide with ours: keep its names apart, as
// its C++ binding does (the C headers it includes are already in).
namespace MagickCore {
#include <magick/MagickCore.h>
}

#include <fcntl.h>
#include <unistd.h>

#include "deskew/Deskew.hh"
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

// vips: a borrowed memory image of the page, its result evaluated into a
// buffer. The operation cache is off, so every iteration computes.
VipsImage* vipsPage(const Image& page)
{
  VipsImage* v = vips_image_new_from_memory(page.data, (size_t)page.stride() * page.h, page.w, page.h, page.spp,
                                            VIPS_FORMAT_UCHAR);
  if (!v)
    vips_error_exit("vips page");
  return v;
}

template <typename Op>
void onVips(benchmark::State& s, const Image& page, Op op)
{
  VipsImage* in = vipsPage(page);
  for (auto _ : s) {
    VipsImage* out = nullptr;
    if (op(in, &out))
      vips_error_exit("vips operation");
    size_t size = 0;
    void* buf = vips_image_write_to_memory(out, &size);
    if (!buf)
      vips_error_exit("vips evaluation");
    benchmark::DoNotOptimize(buf);
    g_free(buf);
    g_object_unref(out);
  }
  g_object_unref(in);
  s.SetItemsProcessed(s.iterations() * (int64_t)page.w * page.h);
}

VipsInterpolate* bilinear()
{
  static VipsInterpolate* i = vips_interpolate_new("bilinear");
  return i;
}

// ImageMagick: the page constituted once in its pixel cache (in memory).
// Operations that change an image in place get a fresh clone, not timed.
MagickCore::Image* magickPage(const Image& page)
{
  MagickCore::ExceptionInfo* e = MagickCore::AcquireExceptionInfo();
  MagickCore::Image* m =
      MagickCore::ConstituteImage(page.w, page.h, page.spp == 3 ? "RGB" : "I", MagickCore::CharPixel, page.data, e);
  MagickCore::DestroyExceptionInfo(e);
  if (!m) {
    fprintf(stderr, "ImageMagick page\n");
    exit(1);
  }
  return m;
}

template <typename Op>
void onMagick(benchmark::State& s, const Image& page, bool inPlace, Op op)
{
  MagickCore::Image* in = magickPage(page);
  MagickCore::ExceptionInfo* e = MagickCore::AcquireExceptionInfo();
  for (auto _ : s) {
    MagickCore::Image* work = in;
    if (inPlace) {
      s.PauseTiming();
      work = MagickCore::CloneImage(in, 0, 0, MagickCore::MagickTrue, e);
      // A clone shares its pixels until written: have them copied now.
      MagickCore::GetAuthenticPixels(work, 0, 0, 1, 1, e);
      MagickCore::SyncAuthenticPixels(work, e);
      s.ResumeTiming();
    }
    MagickCore::Image* out = op(work, e);
    if (!out) {
      fprintf(stderr, "ImageMagick operation failed\n");
      exit(1);
    }
    benchmark::DoNotOptimize(out);
    if (out != work)
      MagickCore::DestroyImage(out);
    if (work != in)
      MagickCore::DestroyImage(work);
  }
  MagickCore::DestroyExceptionInfo(e);
  MagickCore::DestroyImage(in);
  s.SetItemsProcessed(s.iterations() * (int64_t)page.w * page.h);
}

using MImage = MagickCore::Image;
const double kQuantumRange = (double)((1 << MAGICKCORE_QUANTUM_DEPTH) - 1);
using MExc = MagickCore::ExceptionInfo;
const int kCropX = 236, kCropW = kW - 2 * kCropX, kCropH = kH - 2 * kCropX;
const int kHalfW = kW / 2, kHalfH = kH / 2;

using Bench = void (*)(benchmark::State&);
struct Row {
  const char* name;
  Bench ours;
  std::function<void(benchmark::State&)> vips, magick; // empty: the peer has no such operation
};

std::vector<Row> rows()
{
  const Image& rgb = textRGB();
  const Image& gray = textGray();
  const Image& scan = scanGray();
  using V = VipsImage;
  return {
      {"rgb8_to_gray8", rgb8_to_gray8,
       [&](benchmark::State& s) {
         onVips(s, rgb, [](V* in, V** out) { return vips_colourspace(in, out, VIPS_INTERPRETATION_B_W, nullptr); });
       },
       [&](benchmark::State& s) {
         onMagick(s, rgb, true, [](MImage* m, MExc*) {
           return MagickCore::TransformImageColorspace(m, MagickCore::GRAYColorspace) ? m : nullptr;
         });
       }},
      {"gray8_to_gray1", gray8_to_gray1,
       [&](benchmark::State& s) {
         onVips(s, gray, [](V* in, V** out) {
           return vips_relational_const1(in, out, VIPS_OPERATION_RELATIONAL_MORE, 127, nullptr);
         });
       },
       [&](benchmark::State& s) {
         onMagick(s, gray, true, [](MImage* m, MExc*) {
           return MagickCore::BilevelImage(m, kQuantumRange / 2.0) ? m : nullptr;
         });
       }},
      {"rot90_rgb8", rot90_rgb8,
       [&](benchmark::State& s) { onVips(s, rgb, [](V* in, V** out) { return vips_rot(in, out, VIPS_ANGLE_D90, nullptr); }); },
       [&](benchmark::State& s) {
         onMagick(s, rgb, false, [](MImage* m, MExc* e) { return MagickCore::RotateImage(m, 90, e); });
       }},
      {"rotate_3_5_rgb8", rotate_3_5_rgb8,
       [&](benchmark::State& s) {
         onVips(s, rgb, [](V* in, V** out) {
           VipsArrayDouble* white = vips_array_double_newv(3, 255.0, 255.0, 255.0);
           const int r = vips_similarity(in, out, "angle", 3.5, "interpolate", bilinear(), "background", white, nullptr);
           vips_area_unref(VIPS_AREA(white));
           return r;
         });
       },
       [&](benchmark::State& s) {
         onMagick(s, rgb, true, [](MImage* m, MExc* e) {
           MagickCore::QueryColorDatabase("white", &m->background_color, e);
           return MagickCore::RotateImage(m, 3.5, e);
         });
       }},
      {"crop_rgb8", crop_rgb8,
       [&](benchmark::State& s) {
         onVips(s, rgb, [](V* in, V** out) { return vips_crop(in, out, kCropX, kCropX, kCropW, kCropH, nullptr); });
       },
       [&](benchmark::State& s) {
         onMagick(s, rgb, false, [](MImage* m, MExc* e) {
           const MagickCore::RectangleInfo r = {(size_t)kCropW, (size_t)kCropH, kCropX, kCropX};
           return MagickCore::CropImage(m, &r, e);
         });
       }},
      {"scale50_box_rgb8", scale50_box_rgb8,
       [&](benchmark::State& s) { onVips(s, rgb, [](V* in, V** out) { return vips_shrink(in, out, 2.0, 2.0, nullptr); }); },
       [&](benchmark::State& s) {
         onMagick(s, rgb, false, [](MImage* m, MExc* e) { return MagickCore::ScaleImage(m, kHalfW, kHalfH, e); });
       }},
      {"scale50_bilinear_rgb8", scale50_bilinear_rgb8,
       [&](benchmark::State& s) {
         onVips(s, rgb, [](V* in, V** out) {
           return vips_affine(in, out, 0.5, 0.0, 0.0, 0.5, "interpolate", bilinear(), nullptr);
         });
       },
       [&](benchmark::State& s) {
         onMagick(s, rgb, false, [](MImage* m, MExc* e) {
           return MagickCore::InterpolativeResizeImage(m, kHalfW, kHalfH, MagickCore::BilinearInterpolatePixel, e);
         });
       }},
      {"conv3x3_gray8", conv3x3_gray8,
       [&](benchmark::State& s) {
         static VipsImage* mask = [] {
           VipsImage* m = vips_image_new_matrixv(3, 3, 1.0, 2.0, 1.0, 2.0, 4.0, 2.0, 1.0, 2.0, 1.0);
           vips_image_set_double(m, "scale", 16.0);
           return m;
         }();
         onVips(s, gray, [](V* in, V** out) {
           return vips_conv(in, out, mask, "precision", VIPS_PRECISION_INTEGER, nullptr);
         });
       },
       [&](benchmark::State& s) {
         onMagick(s, gray, false, [](MImage* m, MExc* e) {
           static const double k[9] = {1 / 16.0, 2 / 16.0, 1 / 16.0, 2 / 16.0, 4 / 16.0,
                                       2 / 16.0, 1 / 16.0, 2 / 16.0, 1 / 16.0};
           return MagickCore::ConvolveImage(m, 3, k, e);
         });
       }},
      {"median3x3_gray8", median3x3_gray8,
       [&](benchmark::State& s) { onVips(s, gray, [](V* in, V** out) { return vips_median(in, out, 3, nullptr); }); },
       [&](benchmark::State& s) {
         onMagick(s, gray, false,
                  [](MImage* m, MExc* e) { return MagickCore::StatisticImage(m, MagickCore::MedianStatistic, 3, 3, e); });
       }},
      {"binarise_gray8", binarise_gray8, nullptr,
       [&](benchmark::State& s) {
         // -lat 25x25-5%
         onMagick(s, gray, false, [](MImage* m, MExc* e) {
           return MagickCore::AdaptiveThresholdImage(m, 25, 25, -(ssize_t)(kQuantumRange * 0.05), e);
         });
       }},
      {"deskew_gray8", deskew_gray8, nullptr,
       [&](benchmark::State& s) {
         onMagick(s, scan, false, [](MImage* m, MExc* e) { return MagickCore::DeskewImage(m, kQuantumRange * 0.4, e); });
       }},
      {"autowhite_rgb8", autowhite_rgb8, nullptr, nullptr},
  };
}

} // namespace

int main(int argc, char** argv)
{
  // One thread each, no operation cache: every iteration does the work.
  setenv("MAGICK_THREAD_LIMIT", "1", 1);
  setenv("OMP_NUM_THREADS", "1", 1);
  if (VIPS_INIT(argv[0]))
    vips_error_exit("vips_init");
  vips_cache_set_max(0);
  vips_concurrency_set(1);
  MagickCore::MagickCoreGenesis(argv[0], MagickCore::MagickFalse);
  MagickCore::SetMagickResourceLimit(MagickCore::ThreadResource, 1);

  // Side by side: each operation by us, then by each peer. Wall time: vips
  // computes on its worker thread while this one waits.
  for (const Row& r : rows()) {
    benchmark::RegisterBenchmark((std::string("tolm/") + r.name).c_str(), r.ours)->Unit(benchmark::kMillisecond)->UseRealTime();
    if (r.vips)
      benchmark::RegisterBenchmark((std::string("vips/") + r.name).c_str(), r.vips)->Unit(benchmark::kMillisecond)->UseRealTime();
    if (r.magick)
      benchmark::RegisterBenchmark((std::string("magick/") + r.name).c_str(), r.magick)->Unit(benchmark::kMillisecond)->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  MagickCore::MagickCoreTerminus();
  vips_shutdown();
  return 0;
}
