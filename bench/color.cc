// applyICC on an A4 page at 300 dpi (2480 x 3508 RGB8), for a matrix/tone
// curve profile and a table profile, next to lcms2 on the same pixels:
// Pillow's ImageCms (transform only, one thread) and tificc (whole process,
// TIFF reading and writing included; also with its precalculation off). The
// lcms rows report in `maxdiff` the largest channel difference between
// lcms's page and ours.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "color/ColorManagement.hh"
#include "color/sRGBProfile.hh"
#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

namespace {

const int W = 2480, H = 3508;

// A scan-like page: smooth gradients with sensor noise and a band of paper
// white.
const Image& page()
{
  static Image* p = [] {
    Image* img = new Image(testsupport::makeImage(W, H, 3, 8));
    uint32_t seed = 1;
    for (int y = 0; y < H; ++y) {
      uint8_t* row = img->data + (size_t)y * 3 * W;
      for (int x = 0; x < W; ++x) {
        const int base[3] = {x * 255 / W, y * 255 / H, (x + y) * 255 / (W + H)};
        for (int c = 0; c < 3; ++c) {
          seed = seed * 1664525u + 1013904223u;
          int v = base[c] + (int)(seed >> 24) % 41 - 20;
          if (y > H / 3 && y < H / 3 + 400)
            v = 255;
          row[3 * x + c] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
        }
      }
    }
    return img;
  }();
  return *p;
}

struct Files {
  testsupport::TempDir dir;
  std::string matrix, table, pagePPM, pageTIF;
  Files()
  {
    const std::string adobe = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";
    matrix = dir.file("matrix.icc");
    if (access(adobe.c_str(), R_OK) == 0)
      testsupport::writeFile(matrix, testsupport::readFile(adobe));
    else
      testsupport::writeFile(matrix, std::string((const char*)srgbProfile, srgbProfileSize));
    // An input profile with a 33-point Lab table, made by lcms from the
    // matrix profile.
    table = dir.file("table.icc");
    if (testsupport::run("linkicc -x -t1 -r2.1 -o '" + table + "' '" + matrix + "' '*Lab2' >/dev/null 2>&1") != 0)
      table.clear();
    pagePPM = dir.file("page.ppm");
    pageTIF = dir.file("page.tif");
    testsupport::writePNM(page(), pagePPM);
    testsupport::run("/usr/bin/python3 -c \"from PIL import Image; Image.open('" + pagePPM + "').save('" + pageTIF +
                     "')\"");
  }
};

Files& files()
{
  static Files f;
  return f;
}

const std::string& profileOf(int which)
{
  return which == 0 ? files().matrix : files().table;
}

void ours(benchmark::State& state)
{
  const std::string profile = testsupport::readFile(profileOf((int)state.range(0)));
  if (profile.empty()) {
    state.SkipWithError("no table profile (linkicc missing)");
    return;
  }
  Image img(const_cast<Image&>(page()));
  for (auto _ : state) {
    state.PauseTiming();
    memcpy(img.data, page().data, (size_t)W * H * 3);
    std::istringstream in(profile);
    std::cerr.setstate(std::ios::failbit); // the parse trace
    state.ResumeTiming();
    benchmark::DoNotOptimize(applyICC(img, in));
    state.PauseTiming();
    std::cerr.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * (int64_t)W * H);
}

// Largest channel difference between applyICC's page and the PPM at `path`.
int maxDiff(const std::string& path, const std::string& profile)
{
  Image theirs, mine(const_cast<Image&>(page()));
  if (!testsupport::readPNM(theirs, path) || theirs.w != W || theirs.h != H)
    return -1;
  std::istringstream in(testsupport::readFile(profile));
  std::cerr.setstate(std::ios::failbit);
  applyICC(mine, in);
  std::cerr.clear();
  int m = 0;
  for (size_t i = 0; i < (size_t)W * H * 3; ++i)
    m = std::max(m, std::abs((int)mine.data[i] - (int)theirs.data[i]));
  return m;
}

void lcmsPillow(benchmark::State& state)
{
  const std::string& profile = profileOf((int)state.range(0));
  if (profile.empty() || testsupport::findTool("python3").empty()) {
    state.SkipWithError("no table profile or no python3");
    return;
  }
  const std::string out = files().dir.file("pillow.ppm");
  const std::string script =
      "import time\n"
      "from PIL import Image, ImageCms\n"
      "im = Image.open('" + files().pagePPM + "'); im.load()\n"
      "t = ImageCms.buildTransform(ImageCms.getOpenProfile('" + profile + "'), ImageCms.createProfile('sRGB'),"
      " 'RGB', 'RGB', renderingIntent=1)\n"
      "best = 1e9\n"
      "for i in range(5):\n"
      "    s = time.perf_counter(); r = ImageCms.applyTransform(im, t); best = min(best, time.perf_counter() - s)\n"
      "r.save('" + out + "')\n"
      "print(best)\n";
  testsupport::writeFile(files().dir.file("pillow.py"), script);
  for (auto _ : state) {
    std::string secs;
    testsupport::run("/usr/bin/python3 " + files().dir.file("pillow.py"), &secs);
    state.SetIterationTime(atof(secs.c_str()));
  }
  state.counters["maxdiff"] = maxDiff(out, profile);
  state.SetItemsProcessed(state.iterations() * (int64_t)W * H);
}

// tificc with `flags`: "" is its default 8-bit precalculated transform,
// "-c0" lcms's unoptimised floating-point pipeline.
void tificcWith(benchmark::State& state, const char* flags)
{
  const std::string& profile = profileOf((int)state.range(0));
  if (profile.empty() || testsupport::findTool("tificc").empty()) {
    state.SkipWithError("no table profile or no tificc");
    return;
  }
  const std::string out = files().dir.file("tificc.tif");
  for (auto _ : state)
    testsupport::run(std::string("tificc ") + flags + " -t1 -i '" + profile + "' -o '*sRGB' " + files().pageTIF + " " + out +
                     " >/dev/null 2>&1");
  const std::string ppm = files().dir.file("tificc.ppm");
  testsupport::run("/usr/bin/python3 -c \"from PIL import Image; Image.open('" + out + "').save('" + ppm + "')\"");
  state.counters["maxdiff"] = maxDiff(ppm, profile);
  state.SetItemsProcessed(state.iterations() * (int64_t)W * H);
}

} // namespace

BENCHMARK(ours)->ArgName("table")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(lcmsPillow)->ArgName("table")->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
void lcmsTificc(benchmark::State& state) { tificcWith(state, ""); }
void lcmsTificcUnoptimised(benchmark::State& state) { tificcWith(state, "-c0"); }

BENCHMARK(lcmsTificc)->ArgName("table")->Arg(0)->Arg(1)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(lcmsTificcUnoptimised)->ArgName("table")->Arg(0)->Arg(1)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
