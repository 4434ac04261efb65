// Codec reads of A4 300 dpi pages beside libtiff and libpng reading the
// same bytes from memory in-process (the peers exist only here). "faults"
// counts the page faults of a read: fresh memory touched.
//
// Mean of two runs of the median of 5 on a shared, loaded 8-core machine,
// ms Tolm / peer (ratio), before -> after the PNG rows went into a block
// kept between reads and the LZW table was kept between strips:
//   bars  G4                    4.1 / 5.3 (0.76)   ->  3.4 / 4.2 (0.82)
//   bars  LZW gray             46.5 / 56.5 (0.82)  -> 30.1 / 56.0 (0.54)
//   bars  LZW gray, no pred    47.8 / 30.2 (1.58)  -> 25.9 / 31.9 (0.81)
//   bars  LZW RGB             114 / 103 (1.11)     -> 61.4 / 105 (0.59)
//   bars  deflate gray         29.6 / 49.2 (0.60)  -> 32.5 / 53.3 (0.61)
//   bars  deflate RGB          53.9 / 55.5 (0.97)  -> 53.2 / 57.3 (0.93)
//   bars  PNG gray             50.8 / 69.5 (0.73)  -> 53.1 / 74.4 (0.71)
//   bars  PNG RGB              61.6 / 131 (0.47)   -> 66.8 / 151 (0.44)
//   scan  G4                   12.2 / 16.6 (0.73)  -> 12.3 / 13.8 (0.89)
//   scan  LZW gray             53.1 / 61.1 (0.87)  -> 34.2 / 55.7 (0.61)
//   scan  LZW gray, no pred    52.2 / 39.8 (1.31)  -> 44.0 / 38.8 (1.14)
//   scan  LZW RGB             105 / 97.7 (1.08)    -> 50.4 / 84.0 (0.60)
//   scan  deflate gray         34.4 / 51.8 (0.66)  -> 31.6 / 49.6 (0.64)
//   scan  deflate RGB          55.5 / 63.2 (0.88)  -> 49.4 / 50.6 (0.98)
//   scan  PNG gray             48.5 / 61.2 (0.79)  -> 44.6 / 60.2 (0.74)
//   scan  PNG RGB             239 / 124 (1.93)     -> 61.6 / 117 (0.53)
//   rendered text PNG gray     41.1 / 52.8 (0.78)  -> 40.4 / 55.9 (0.72)
//   rendered text PNG RGB     235 / 114 (2.06)     -> 60.7 / 117 (0.52)
// (PNG RGB before: 6,373 page faults per read, as many as the page has
// 4 KiB pages; none after.) The rendered page is Pillow text with noise,
// read with CODEC_READ_FILES.
// Single bytes then taking the same copy as longer strings in the LZW
// decoder (median of three runs of the median of 7, pinned to one core):
//   scan  LZW gray, no pred    36.2 / 33.8 (1.07)  -> 20.7 / 32.7 (0.63)
//   scan  LZW gray             29.5 / 48.2 (0.61)  -> 19.7 / 48.1 (0.41)
//   scan  LZW RGB              48.0 / 78.1 (0.61)  -> 37.7 / 79.8 (0.47)
//   bars  LZW gray, no pred    19.5 / 25.0 (0.78)  -> 13.2 / 24.7 (0.53)
#include <benchmark/benchmark.h>
#include <png.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <istream>
#include <string>
#include <vector>

#include "bench/BenchPages.hh"
#include "codecs/Codecs.hh"
#include "codecs/MemoryStream.hh"
#include "image/Image.hh"
#include "tests/support/Pages.hh"

namespace {

using namespace benchpages;

// A growable memory file for libtiff's client I/O.
struct MemFile {
  std::string data;
  uint64_t pos = 0;
};

tmsize_t memRead(thandle_t h, void* buf, tmsize_t n)
{
  MemFile& f = *(MemFile*)h;
  const uint64_t left = f.pos < f.data.size() ? f.data.size() - f.pos : 0;
  const uint64_t k = (uint64_t)n < left ? (uint64_t)n : left;
  memcpy(buf, f.data.data() + f.pos, k);
  f.pos += k;
  return (tmsize_t)k;
}
tmsize_t memWrite(thandle_t h, void* buf, tmsize_t n)
{
  MemFile& f = *(MemFile*)h;
  if (f.pos + n > f.data.size())
    f.data.resize(f.pos + n);
  memcpy(&f.data[f.pos], buf, n);
  f.pos += n;
  return n;
}
toff_t memSeek(thandle_t h, toff_t off, int whence)
{
  MemFile& f = *(MemFile*)h;
  f.pos = whence == SEEK_SET ? off : whence == SEEK_CUR ? f.pos + off : f.data.size() + off;
  return f.pos;
}
int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return ((MemFile*)h)->data.size(); }
int memMap(thandle_t, void**, toff_t*) { return 0; }
void memUnmap(thandle_t, void*, toff_t) {}

TIFF* openMem(MemFile& f, const char* mode)
{
  return TIFFClientOpen("mem", mode, (thandle_t)&f, memRead, memWrite, memSeek, memClose, memSize,
                        memMap, memUnmap);
}

// A scanned text page: unevenly lit paper with sensor noise, text strokes
// with soft edges and a photo-like gradient, the same on every run.
void makeTextScan(Image& img, int spp)
{
  img.spp = (uint8_t)spp;
  img.bps = 8;
  img.resize(kW, kH);
  img.setResolution(300, 300);
  static const std::vector<uint8_t> ink = [] {
    // Ink coverage 0..255 per pixel, the strokes' edges blurred by one
    // pixel as a scanner's optics do.
    std::vector<uint8_t> cover((size_t)kW * kH, 0);
    for (const pages::Rect& r : pages::textStrokes(kW, kH, 30, 7))
      for (int y = r.y; y < r.y + r.h && y < kH; ++y)
        for (int x = r.x; x < r.x + r.w && x < kW; ++x)
          cover[(size_t)y * kW + x] = 255;
    std::vector<uint8_t> soft(cover.size(), 0);
    for (int y = 1; y + 1 < kH; ++y)
      for (int x = 1; x + 1 < kW; ++x) {
        const size_t i = (size_t)y * kW + x;
        soft[i] = (uint8_t)((4 * cover[i] + cover[i - 1] + cover[i + 1] + cover[i - kW] +
                             cover[i + kW]) / 8);
      }
    return soft;
  }();
  uint32_t seed = 777;
  for (int y = 0; y < kH; ++y) {
    uint8_t* row = img.data + (size_t)y * img.stride();
    for (int x = 0; x < kW; ++x) {
      seed = seed * 1664525u + 1013904223u;
      int paper = pages::paperAt(x, y, kW, kH) + 20 + (int)((seed >> 24) % 9) - 4;
      if (y > 2700 && y < 3350 && x > 250 && x < 2230)
        paper = 30 + (x - 250) * 180 / 1980 + (y - 2700) / 20 + (int)((seed >> 20) % 11) - 5;
      const int c = ink[(size_t)y * kW + x];
      const int v = (paper * (255 - c) + (25 + (int)((seed >> 12) % 16)) * c) / 255;
      for (int k = 0; k < spp; ++k)
        row[x * spp + k] = (uint8_t)std::min(255, std::max(0, k == 2 ? v - 6 : v));
    }
  }
}

// The page of a case, thresholded for the 1-bit case.
Image page(int kind, int spp, int bps)
{
  Image img;
  if (kind == 0)
    makeScanPage(img, spp);
  else
    makeTextScan(img, spp);
  if (bps == 1) {
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
    bw.setResolution(300, 300);
    return bw;
  }
  return img;
}

struct Case {
  const char* name;
  int page; // 0: bars, 1: text scan
  int spp, bps, compression, predictor;
  bool png;
};
const Case kCases[] = {
    {"tiff-g4", 0, 1, 1, COMPRESSION_CCITTFAX4, 1, false},
    {"tiff-lzw-gray", 0, 1, 8, COMPRESSION_LZW, 2, false},
    {"tiff-lzw-rgb", 0, 3, 8, COMPRESSION_LZW, 2, false},
    {"tiff-deflate-gray", 0, 1, 8, COMPRESSION_ADOBE_DEFLATE, 2, false},
    {"tiff-deflate-rgb", 0, 3, 8, COMPRESSION_ADOBE_DEFLATE, 2, false},
    {"png-gray", 0, 1, 8, 0, 0, true},
    {"png-rgb", 0, 3, 8, 0, 0, true},
    {"tiff-lzw-gray-nopred", 0, 1, 8, COMPRESSION_LZW, 1, false},
    {"scan-tiff-g4", 1, 1, 1, COMPRESSION_CCITTFAX4, 1, false},
    {"scan-tiff-lzw-gray", 1, 1, 8, COMPRESSION_LZW, 2, false},
    {"scan-tiff-lzw-gray-nopred", 1, 1, 8, COMPRESSION_LZW, 1, false},
    {"scan-tiff-lzw-rgb", 1, 3, 8, COMPRESSION_LZW, 2, false},
    {"scan-tiff-deflate-gray", 1, 1, 8, COMPRESSION_ADOBE_DEFLATE, 2, false},
    {"scan-tiff-deflate-rgb", 1, 3, 8, COMPRESSION_ADOBE_DEFLATE, 2, false},
    {"scan-png-gray", 1, 1, 8, 0, 0, true},
    {"scan-png-rgb", 1, 3, 8, 0, 0, true},
};
const int kCaseCount = (int)(sizeof kCases / sizeof *kCases);

// The files are made by the peers, so both sides read the same bytes.
std::string makeTIFF(const Case& c)
{
  const Image img = page(c.page, c.spp, c.bps);
  MemFile f;
  TIFF* t = openMem(f, "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, (uint32_t)img.w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, (uint32_t)img.h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, c.bps);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, c.spp);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
               c.spp == 3 ? PHOTOMETRIC_RGB
                          : c.bps == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_COMPRESSION, c.compression);
  if (c.predictor > 1)
    TIFFSetField(t, TIFFTAG_PREDICTOR, c.predictor);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  for (int y = 0; y < img.h; ++y)
    TIFFWriteScanline(t, img.data + (size_t)y * img.stride(), (uint32_t)y, 0);
  TIFFClose(t);
  return f.data;
}

void pngWrite(png_structp p, png_bytep d, png_size_t n)
{
  ((std::string*)png_get_io_ptr(p))->append((const char*)d, n);
}
void pngFlush(png_structp) {}

std::string makePNG(const Case& c)
{
  const Image img = page(c.page, c.spp, c.bps);
  std::string out;
  png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  png_set_write_fn(p, &out, pngWrite, pngFlush);
  png_set_IHDR(p, info, img.w, img.h, 8, c.spp == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(p, info);
  for (int y = 0; y < img.h; ++y)
    png_write_row(p, img.data + (size_t)y * img.stride());
  png_write_end(p, info);
  png_destroy_write_struct(&p, &info);
  return out;
}

// Files named in CODEC_READ_FILES (colon-separated PNG or TIFF files, such
// as pages rendered by other programs) are read beside the generated ones.
std::vector<std::pair<Case, std::string>>& extraFiles()
{
  static std::vector<std::pair<Case, std::string>> extra = [] {
    std::vector<std::pair<Case, std::string>> v;
    const char* list = getenv("CODEC_READ_FILES");
    std::string rest = list ? list : "";
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      const std::string path = rest.substr(0, colon);
      rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
      std::ifstream in(path, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (bytes.size() < 8)
        continue;
      static std::deque<std::string> names; // the cases point at them
      names.push_back(path);
      const bool png = bytes[1] == 'P';
      v.push_back({Case{names.back().c_str(), -1, 0, 0, 0, 0, png}, bytes});
    }
    return v;
  }();
  return extra;
}

const Case& caseAt(int i)
{
  return i < kCaseCount ? kCases[i] : extraFiles()[(size_t)(i - kCaseCount)].first;
}

const std::string& file(int i)
{
  if (i >= kCaseCount)
    return extraFiles()[(size_t)(i - kCaseCount)].second;
  static std::string files[kCaseCount];
  if (files[i].empty())
    files[i] = kCases[i].png ? makePNG(kCases[i]) : makeTIFF(kCases[i]);
  return files[i];
}

// Minor page faults of this process so far: fresh memory touched.
long minorFaults()
{
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

void countFaults(benchmark::State& state, long before)
{
  state.counters["faults"] =
      benchmark::Counter((double)(minorFaults() - before), benchmark::Counter::kAvgIterations);
}

void BM_ReadOurs(benchmark::State& state)
{
  const Case& c = caseAt((int)state.range(0));
  const std::string& f = file((int)state.range(0));
  const long faults = minorFaults();
  for (auto _ : state) {
    MemoryIn buf((const unsigned char*)f.data(), f.size());
    std::istream in(&buf);
    Image img;
    if (ImageCodec::Read(&in, img, c.png ? "png" : "tif") != 1)
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(img.data);
  }
  countFaults(state, faults);
  state.SetLabel(c.name);
}

// The peer decodes into one buffer of the whole page, as ours does.
void peerTIFF(const std::string& bytes, std::vector<uint8_t>& out)
{
  MemFile f{bytes, 0};
  TIFF* t = openMem(f, "r");
  const tstrip_t strips = TIFFNumberOfStrips(t);
  const tmsize_t stripSize = TIFFStripSize(t);
  uint32_t h = 0;
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  out.resize((size_t)stripSize * strips);
  size_t at = 0;
  for (tstrip_t s = 0; s < strips; ++s) {
    const tmsize_t n = TIFFReadEncodedStrip(t, s, out.data() + at, stripSize);
    if (n < 0)
      break;
    at += (size_t)n;
  }
  TIFFClose(t);
}

struct PNGIn {
  const std::string* data;
  size_t pos;
};
void pngRead(png_structp p, png_bytep d, png_size_t n)
{
  PNGIn& in = *(PNGIn*)png_get_io_ptr(p);
  if (in.pos + n > in.data->size())
    png_error(p, "short");
  memcpy(d, in.data->data() + in.pos, n);
  in.pos += n;
}

void peerPNG(const std::string& bytes, std::vector<uint8_t>& out)
{
  png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  PNGIn in{&bytes, 0};
  png_set_read_fn(p, &in, pngRead);
  png_read_info(p, info);
  const size_t rowBytes = png_get_rowbytes(p, info);
  const uint32_t h = png_get_image_height(p, info);
  out.resize(rowBytes * h);
  std::vector<png_bytep> rows(h);
  for (uint32_t y = 0; y < h; ++y)
    rows[y] = out.data() + y * rowBytes;
  png_read_image(p, rows.data());
  png_read_end(p, nullptr);
  png_destroy_read_struct(&p, &info, nullptr);
}

void BM_ReadPeer(benchmark::State& state)
{
  const Case& c = caseAt((int)state.range(0));
  const std::string& f = file((int)state.range(0));
  const long faults = minorFaults();
  for (auto _ : state) {
    std::vector<uint8_t> out;
    if (c.png)
      peerPNG(f, out);
    else
      peerTIFF(f, out);
    benchmark::DoNotOptimize(out.data());
  }
  countFaults(state, faults);
  state.SetLabel(std::string(c.name) + (c.png ? " (libpng)" : " (libtiff)"));
}

} // namespace

// Each case is timed for Tolm and then for its peer, so that the two of a
// pair run close together on a shared machine.
int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  const int count = kCaseCount + (int)extraFiles().size();
  for (int i = 0; i < count; ++i) {
    const std::string name = std::string("read/") + caseAt(i).name;
    benchmark::RegisterBenchmark((name + "/tolm").c_str(), BM_ReadOurs)
        ->Arg(i)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + "/peer").c_str(), BM_ReadPeer)
        ->Arg(i)->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
