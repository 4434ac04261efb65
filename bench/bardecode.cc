// Barcode reading on an A4 page at 300 dpi (2480 x 3508, 8-bit gray) with
// five symbols in both orientations among lines of text-like clutter, with
// light noise and a slight blur: our
// full scan (rows and columns, default line settings) against zbarimg on
// the same page. zbarimg's time includes its start-up and reading the
// file; BM_ZbarimgStartup measures that fixed part on an 8 x 8 image.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bardecode/read_barcodes.hh"
#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

namespace {

struct Placed {
  const char* modules;
  int x, y;
  bool vertical, mirrored;
};

// Modules made by zint: EAN-13 590123412345, Code 128 "Hello World",
// Code 39 "HELLO-WORLD", interleaved 2 of 5 0123456789, UPC-A 03600029145.
const Placed symbols[] = {
  {"10100010110100111011001100100110111101001110101010110011011011001000010101110010011101000100101",
   200, 250, false, false},
  {"11010010000110001010001011001000011001010000110010100001000111101011011001100111010001101000"
   "1111010100100111101100101000010000100110101100011101100011101011",
   2250, 700, true, false},
  {"10010110110101101010011010110101100101010110101001101011010100110110101101001010010101101101100"
   "1101010101101011010010110101011001010110101001101010110010110100101101101",
   300, 3000, false, false},
  {"101010001011101110100010001110001010111010001011100010111010111011101000100011101000101110001011101",
   60, 1300, true, true},
  {"10100011010111101010111100011010001101000110101010110110011101001100110101110010011101101100101",
   1500, 3250, false, true},
};
const int module = 4, barLength = 160, quiet = 12;

void setPixel(Image& img, int x, int y, int v)
{
  if (x >= 0 && y >= 0 && x < img.w && y < img.h)
    img.data[(size_t)y * img.stride() + x] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
}

void makePage(Image& page)
{
  page.spp = 1;
  page.bps = 8;
  page.resize(2480, 3508);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> noise(-6, 6);
  for (int y = 0; y < page.h; ++y)
    for (int x = 0; x < page.w; ++x)
      setPixel(page, x, y, 245 + noise(rng));
  // Text lines: glyph-sized dark blobs with word gaps.
  std::uniform_int_distribution<int> glyph(12, 26), gap(3, 8), space(0, 5);
  for (int line = 0; line < 36; ++line) {
    const int y0 = 620 + line * 60;
    for (int x = 400; x < 2000;) {
      const int w = glyph(rng);
      for (int y = y0; y < y0 + 32; ++y)
        for (int xx = x; xx < x + w; xx += 1)
          if ((xx + y) % 5)
            setPixel(page, xx, y, 30 + noise(rng));
      x += w + gap(rng) + (space(rng) == 0 ? 25 : 0);
    }
  }
  for (const Placed& p : symbols) {
    std::string m = p.modules;
    if (p.mirrored)
      m.assign(m.rbegin(), m.rend());
    const int n = (int)(m.size() + 2 * quiet) * module;
    for (int i = 0; i < n; ++i) {
      const int k = i / module - quiet;
      const bool dark = k >= 0 && k < (int)m.size() && m[k] == '1';
      for (int a = 0; a < barLength; ++a) {
        const int v = (dark ? 20 : 245) + noise(rng);
        if (p.vertical)
          setPixel(page, p.x + a, p.y + i, v);
        else
          setPixel(page, p.x + i, p.y + a, v);
      }
    }
  }
  // Scanner optics: a [1 2 1] / 4 blur in both directions.
  const size_t stride = page.stride();
  std::vector<uint8_t> line;
  for (int y = 0; y < page.h; ++y) {
    uint8_t* row = page.data + (size_t)y * stride;
    line.assign(row, row + page.w);
    for (int x = 1; x + 1 < page.w; ++x)
      row[x] = (uint8_t)((line[x - 1] + 2 * line[x] + line[x + 1] + 2) / 4);
  }
  for (int x = 0; x < page.w; ++x) {
    line.resize(page.h);
    for (int y = 0; y < page.h; ++y)
      line[y] = page.data[(size_t)y * stride + x];
    for (int y = 1; y + 1 < page.h; ++y)
      page.data[(size_t)y * stride + x] =
        (uint8_t)((line[y - 1] + 2 * line[y] + line[y + 1] + 2) / 4);
  }
  page.setRawData();
}

Image& page()
{
  static Image img;
  if (!img.w)
    makePage(img);
  return img;
}

// Reads every symbol of the page on each iteration.
void readLoop(benchmark::State& state, Image& img)
{
  size_t hits = 0;
  for (auto _ : state) {
    auto r = BarDecode::read_barcodes(img, BarDecode::any_code);
    hits = r.size();
    benchmark::DoNotOptimize(r);
  }
  state.counters["hits"] = (double)hits;
}

void BM_ReadBarcodes(benchmark::State& state)
{
  readLoop(state, page());
}
BENCHMARK(BM_ReadBarcodes)->Unit(benchmark::kMillisecond);

// The same page at 16 bits per sample: edge strengths are in luminance
// units, so the thresholds around strong edges spread much further.
void BM_ReadBarcodes16(benchmark::State& state)
{
  static Image img16;
  if (!img16.w) {
    const Image& src = page();
    img16.spp = 1;
    img16.bps = 16;
    img16.resize(src.w, src.h);
    for (int y = 0; y < src.h; ++y)
      for (int x = 0; x < src.w; ++x)
        ((uint16_t*)(img16.data + (size_t)y * img16.stride()))[x] =
          (uint16_t)(src.data[(size_t)y * src.stride() + x] * 257);
    img16.setRawData();
  }
  readLoop(state, img16);
}
BENCHMARK(BM_ReadBarcodes16)->Unit(benchmark::kMillisecond);

// Runs zbarimg on a file, returning the number of symbols it printed.
int zbarimg(const std::string& file)
{
  FILE* f = popen(("zbarimg -q --raw '" + file + "' 2>/dev/null").c_str(), "r");
  if (!f)
    return -1;
  int lines = 0;
  for (int c; (c = fgetc(f)) != EOF;)
    lines += c == '\n';
  pclose(f);
  return lines;
}

void runZbar(benchmark::State& state, const Image& img)
{
  if (testsupport::findTool("zbarimg").empty()) {
    state.SkipWithError("zbarimg missing");
    return;
  }
  testsupport::TempDir tmp;
  const std::string file = tmp.file("page.pgm");
  testsupport::writePNM(img, file);
  int hits = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    hits = zbarimg(file);
    state.SetIterationTime(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  state.counters["hits"] = hits;
}

void BM_Zbarimg(benchmark::State& state)
{
  runZbar(state, page());
}
BENCHMARK(BM_Zbarimg)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ZbarimgStartup(benchmark::State& state)
{
  Image tiny;
  tiny.spp = 1;
  tiny.bps = 8;
  tiny.resize(8, 8);
  for (int i = 0; i < 64; ++i)
    tiny.data[i] = 255;
  runZbar(state, tiny);
}
BENCHMARK(BM_ZbarimgStartup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
