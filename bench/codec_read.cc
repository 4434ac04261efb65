// Codec reads of an A4 300 dpi page beside libtiff and libpng reading the
// same bytes from memory in-process (the peers exist only here).
#include <benchmark/benchmark.h>
#include <png.h>
#include <tiffio.h>

#include <cstring>
#include <istream>
#include <string>
#include <vector>

#include "bench/BenchPages.hh"
#include "codecs/Codecs.hh"
#include "codecs/MemoryStream.hh"
#include "image/Image.hh"

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

// The scan page, thresholded for the 1-bit case.
Image page(int spp, int bps)
{
  Image img;
  makeScanPage(img, spp);
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
  int spp, bps, compression, predictor;
  bool png;
};
const Case kCases[] = {
    {"tiff-g4", 1, 1, COMPRESSION_CCITTFAX4, 1, false},
    {"tiff-lzw-gray", 1, 8, COMPRESSION_LZW, 2, false},
    {"tiff-lzw-rgb", 3, 8, COMPRESSION_LZW, 2, false},
    {"tiff-deflate-gray", 1, 8, COMPRESSION_ADOBE_DEFLATE, 2, false},
    {"tiff-deflate-rgb", 3, 8, COMPRESSION_ADOBE_DEFLATE, 2, false},
    {"png-gray", 1, 8, 0, 0, true},
    {"png-rgb", 3, 8, 0, 0, true},
};

// The files are made by the peers, so both sides read the same bytes.
std::string makeTIFF(const Case& c)
{
  const Image img = page(c.spp, c.bps);
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
  const Image img = page(c.spp, c.bps);
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

const std::string& file(int i)
{
  static std::string files[sizeof kCases / sizeof *kCases];
  if (files[i].empty())
    files[i] = kCases[i].png ? makePNG(kCases[i]) : makeTIFF(kCases[i]);
  return files[i];
}

void BM_ReadOurs(benchmark::State& state)
{
  const Case& c = kCases[state.range(0)];
  const std::string& f = file((int)state.range(0));
  for (auto _ : state) {
    MemoryIn buf((const unsigned char*)f.data(), f.size());
    std::istream in(&buf);
    Image img;
    if (ImageCodec::Read(&in, img, c.png ? "png" : "tif") != 1)
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(img.data);
  }
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
  const Case& c = kCases[state.range(0)];
  const std::string& f = file((int)state.range(0));
  for (auto _ : state) {
    std::vector<uint8_t> out;
    if (c.png)
      peerPNG(f, out);
    else
      peerTIFF(f, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(std::string(c.name) + (c.png ? " (libpng)" : " (libtiff)"));
}

} // namespace

BENCHMARK(BM_ReadOurs)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPeer)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
