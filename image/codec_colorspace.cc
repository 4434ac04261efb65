// Colour-space steps only decoders need: palette expansion, CMYK, IEEE
// floating-point samples, planar rows and ARGB pixels.
#include "image/Colorspace.hh"
#include "image/ColorspaceSteps.hh"
#include "image/Samples.hh"

#include <cstdio>
#include <cstring>
#include <vector>

#include "utility/Saturate.hh"

using namespace colorspace_steps;
using pixel_samples::load16;
using pixel_samples::store16;

void colorspace_argb8_to_rgb8(Image& image)
{
  if (image.spp != 4 || image.bps != 8 || !hasPixels(image))
    return;
  dropFourth(image, 1);
}

void colorspace_de_ieee(Image& image)
{
  if (image.bps != 32 && image.bps != 64) {
    fprintf(stderr, "colorspace_de_ieee: unsupported bps: %d\n", (int)image.bps);
    return;
  }
  if (!hasPixels(image))
    return;
  const uint64_t s = image.stride();
  const uint64_t n = (uint64_t)image.spp * (uint64_t)image.w;
  uint8_t* data = image.data;
  for (int y = 0; y < image.h; ++y) {
    const uint8_t* src = data + (uint64_t)y * s;
    uint8_t* d = data + (uint64_t)y * n;
    for (uint64_t i = 0; i < n; ++i) {
      double v;
      if (image.bps == 32) {
        float f;
        memcpy(&f, src + 4 * i, 4);
        v = f;
      } else {
        memcpy(&v, src + 8 * i, 8);
      }
      d[i] = saturate_cast<uint8_t>(v);
    }
  }
  image.bps = 8;
  settleTight(image);
}

void colorspace_cmyk_to_rgb(Image& image)
{
  if (image.spp != 4 || (image.bps != 8 && image.bps != 16)) {
    fprintf(stderr, "colorspace_cmyk_to_rgb: unsupported spp/bps: %d/%d\n", (int)image.spp,
            (int)image.bps);
    return;
  }
  if (!hasPixels(image))
    return;
  const int w = image.w, h = image.h;
  const uint64_t s = image.stride();
  uint8_t* data = image.data;
  if (image.bps == 8) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = data + (uint64_t)y * s;
      uint8_t* d = data + (uint64_t)y * 3 * w;
      for (int x = 0; x < w; ++x, src += 4, d += 3) {
        const int c = src[0], m = src[1], ye = src[2], k = src[3];
        const int r = 255 - (c + k), g = 255 - (m + k), b = 255 - (ye + k);
        d[0] = (uint8_t)(r > 0 ? r : 0);
        d[1] = (uint8_t)(g > 0 ? g : 0);
        d[2] = (uint8_t)(b > 0 ? b : 0);
      }
    }
  } else {
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = data + (uint64_t)y * s;
      uint8_t* d = data + (uint64_t)y * 6 * w;
      for (int x = 0; x < w; ++x, src += 8, d += 6) {
        const int k = load16(src + 6);
        for (int c = 0; c < 3; ++c) {
          const int v = 65535 - (load16(src + 2 * c) + k);
          store16(d + 2 * c, (uint16_t)(v > 0 ? v : 0));
        }
      }
    }
  }
  image.spp = 3;
  settleTight(image);
}

namespace {

// One row of palette indices through the table of N-byte entries; the
// entry size is a constant, so each copy is a few moves.
template <int N>
void paletteRow(const uint8_t* src, uint8_t* d, int w, int bps, const uint8_t* lut)
{
  if (bps == 8) {
    for (int x = 0; x < w; ++x, d += N)
      memcpy(d, lut + (size_t)src[x] * N, N);
  } else if (bps == 16) {
    for (int x = 0; x < w; ++x, d += N)
      memcpy(d, lut + (size_t)load16(src + 2 * x) * N, N);
  } else {
    for (int x = 0; x < w; ++x, d += N)
      memcpy(d, lut + (size_t)pixel_samples::packed(src, x, bps) * N, N);
  }
}

} // namespace

bool colorspace_de_palette(Image& image, int count, const uint16_t* red, const uint16_t* green,
                           const uint16_t* blue, const uint16_t* alpha)
{
  const int bps = image.bps;
  if (image.spp != 1 || (bps != 1 && bps != 2 && bps != 4 && bps != 8 && bps != 16)) {
    fprintf(stderr, "colorspace_de_palette: unsupported spp/bps: %d/%d\n", (int)image.spp, bps);
    return false;
  }
  if (count < 1 || !red || !green || !blue) {
    fprintf(stderr, "colorspace_de_palette: empty palette\n");
    return false;
  }
  if (!hasPixels(image))
    return true;
  const int entries = 1 << bps; // indices the samples can hold
  const int used = count < entries ? count : entries;

  bool gray = !alpha;
  for (int i = 0; gray && i < used; ++i)
    gray = (red[i] >> 8) == (green[i] >> 8) && (red[i] >> 8) == (blue[i] >> 8);

  if (gray && count >= entries) {
    bool identity = true;
    for (int i = 0; identity && i < entries; ++i)
      identity = bps == 16 ? red[i] == i && green[i] == i && blue[i] == i
                           : (red[i] >> 8) == i * 255 / (entries - 1);
    if (identity)
      return true;
  }
  if (gray && bps == 1 && count >= 2 && (red[0] >> 8) == 255 && (red[1] >> 8) == 0) {
    // Inverted bilevel: stays 1-bit, bits flipped.
    const uint64_t s = image.stride(), fill = image.stridefill();
    for (int y = 0; y < image.h; ++y) {
      uint8_t* row = image.data + (uint64_t)y * s;
      for (uint64_t i = 0; i < fill; ++i)
        row[i] = (uint8_t)~row[i];
    }
    image.setRawData();
    return true;
  }

  const int outSpp = gray ? 1 : (alpha ? 4 : 3);
  std::vector<uint8_t> lut((size_t)entries * outSpp, 0);
  for (int i = 0; i < entries; ++i) {
    uint8_t* e = &lut[(size_t)i * outSpp];
    if (i >= count) {
      if (outSpp == 4)
        e[3] = 255;
      continue;
    }
    e[0] = (uint8_t)(red[i] >> 8);
    if (outSpp >= 3) {
      e[1] = (uint8_t)(green[i] >> 8);
      e[2] = (uint8_t)(blue[i] >> 8);
    }
    if (outSpp == 4)
      e[3] = (uint8_t)(alpha[i] >> 8);
  }
  const int w = image.w, h = image.h;
  const uint64_t s = image.stride();
  const uint64_t fill = rowFill(w, outSpp, 8);
  uint8_t* out = allocRows(fill, h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = image.data + (uint64_t)y * s;
    uint8_t* d = out + (uint64_t)y * fill;
    switch (outSpp) {
    case 1: paletteRow<1>(src, d, w, bps, lut.data()); break;
    case 3: paletteRow<3>(src, d, w, bps, lut.data()); break;
    default: paletteRow<4>(src, d, w, bps, lut.data()); break;
    }
  }
  install(image, out, outSpp, 8);
  return true;
}

void colorspace_pack_line(Image& image, int dst, int src)
{
  if (!hasPixels(image) || dst < 0 || src < 0 || dst >= image.h || src >= image.h)
    return;
  const uint64_t s = image.stride(), fill = image.stridefill();
  uint8_t* d = image.data + (uint64_t)dst * s;
  const uint8_t* from = image.data + (uint64_t)src * s;
  if (image.spp == 1) {
    if (d != from)
      memmove(d, from, fill);
    image.setRawData();
    return;
  }
  if (image.bps != 8 && image.bps != 16) {
    fprintf(stderr, "colorspace_pack_line: unsupported spp/bps: %d/%d\n", (int)image.spp,
            (int)image.bps);
    return;
  }
  const std::vector<uint8_t> planar(from, from + fill);
  const int bs = image.bps / 8, spp = image.spp, w = image.w;
  for (int x = 0; x < w; ++x)
    for (int c = 0; c < spp; ++c)
      memcpy(d + ((uint64_t)x * spp + c) * bs, &planar[((uint64_t)c * w + x) * bs], bs);
  image.setRawData();
}
