// Chart helpers: the CIE xy chromaticity plane in sRGB, and a round trip of
// every pixel from sRGB to XYZ and back.
#include <cstring>
#include <iostream>

#include "color/ColorManagement.hh"
#include "color/sRGBEncoding.hh"
#include "image/Image.hh"

namespace {

double limit01(double v)
{
  if (v > 1)
    v = 1;
  if (v < 0)
    v = 0;
  return v;
}

} // namespace

void it8Coverage(Image& image)
{
  uint8_t* data = image.getRawData();
  if (!data || image.w <= 0 || image.h <= 0 || !image.Type())
    return;
  const int w = image.w, h = image.h;
  memset(data, 0, (size_t)((uint64_t)image.stride() * (uint64_t)h));
  Image::iterator base(&image, false);
  for (int y = 0; y < h; ++y) {
    Image::iterator it = base.at(0, y);
    // A single row or column sits at chromaticity 0 along that axis.
    const double cy = 1 - (h > 1 ? (double)y / (h - 1) : 0.0);
    for (int x = 0; x < w; ++x, ++it) {
      const double cx = w > 1 ? (double)x / (w - 1) : 0.0;
      double L = 1.0, X = 0, Z = 0;
      bool found = false;
      for (;;) {
        const double t = L / cy;
        X = t * cx;
        Z = t * ((1 - cx) - cy);
        // Comparisons with NaN pass, as the chart has always had it.
        if (!(X < 0) && !(L < 0) && !(Z < 0) && !(X > 1) && !(L > 1) && !(Z > 1)) {
          found = true;
          break;
        }
        L -= 0.1;
        if (L <= 0.2)
          break;
      }
      if (!found)
        continue;
      double r, g, b;
      srgb::fromXYZ(X, L, Z, r, g, b);
      r = limit01(srgb::encode(r, srgb::exponentDouble));
      g = limit01(srgb::encode(g, srgb::exponentDouble));
      b = limit01(srgb::encode(b, srgb::exponentDouble));
      it.setRGB(r, g, b);
      it.value[3] = 255; // painted pixels are opaque
      it.set(it);
    }
  }
  image.setRawData();
}

void it8Test(Image& image)
{
  std::cerr << 12.6611571351121 << "\n" << 11.458795687269413 << std::endl;
  if (!image.getRawData() || image.w <= 0 || image.h <= 0 || !image.Type())
    return;
  Image::iterator base(&image, false);
  for (int y = 0; y < image.h; ++y) {
    Image::iterator it = base.at(0, y);
    for (int x = 0; x < image.w; ++x, ++it) {
      *it;
      double r = 0, g = 0, b = 0, X, Y, Z;
      it.getRGB(r, g, b);
      srgb::toXYZ(srgb::decode(r), srgb::decode(g), srgb::decode(b), X, Y, Z);
      srgb::fromXYZ(X, Y, Z, r, g, b);
      it.setRGB(limit01(srgb::encode(r, srgb::exponentDouble)),
                limit01(srgb::encode(g, srgb::exponentDouble)),
                limit01(srgb::encode(b, srgb::exponentDouble)));
      it.set(it);
    }
  }
  image.setRawData();
}
