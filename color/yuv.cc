// Studio-range BT.601 YCbCr to RGB.
#include "color/ColorManagement.hh"
#include "image/Image.hh"
#include "utility/Saturate.hh"

void yuv2rgb(float& y_r, float& cb_g, float& cr_b)
{
  const double y = (float)(y_r - 16.0f), u = (float)(cb_g - 128.0f), v = (float)(cr_b - 128.0f);
  const double k = 1.164 * y;
  float b = (float)(2.018 * u + k);
  float g = (float)((-0.813 * v + k) + (-0.391 * u));
  float r = (float)(1.596 * v + k);
  auto limit = [](float c) {
    if (c > 255.0f)
      c = 255.0f;
    if (c < 0.0f)
      c = 0.0f;
    return c;
  };
  y_r = limit(r);
  cb_g = limit(g);
  cr_b = limit(b);
}

// Converts YCbCr-coded pixels to RGB: yuv2rgb is the one per-pixel
// conversion there is, whatever the name suggests.
void colorspace_rgb8_to_yuv8(Image& image)
{
  if (image.spp != 3 || image.bps != 8)
    return;
  uint8_t* data = image.getRawData();
  if (!data || image.w <= 0 || image.h <= 0)
    return;
  const uint64_t stride = image.stride();
  for (int y = 0; y < image.h; ++y) {
    uint8_t* p = data + (uint64_t)y * stride;
    for (int x = 0; x < image.w; ++x, p += 3) {
      float a = p[0], b = p[1], c = p[2];
      yuv2rgb(a, b, c);
      p[0] = (uint8_t)saturate_cast<int>(a);
      p[1] = (uint8_t)saturate_cast<int>(b);
      p[2] = (uint8_t)saturate_cast<int>(c);
    }
  }
  image.setRawData();
}
