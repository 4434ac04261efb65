// Colour dropout of form lines through the generic cursor: the reference is
// already quantised to the image's pixel type, so every pixel is compared on
// the same scale.
#include "filters/dropout.hh"

#include <cmath>

void dropout(Image& image, const Image::iterator& colour, float frac)
{
  if (image.w <= 0 || image.h <= 0 || !image.getRawData())
    return;
  const Image::type_t type = image.Type();
  if (!type)
    return;

  double r0 = 0, g0 = 0, b0 = 0;
  colour.getRGB(r0, g0, b0);
  const double d = frac;
  const int white = type == Image::GRAY16 || type == Image::RGB16 ? 65535 : 255;

  bool changed = false;
  Image::iterator it(&image, false);
  for (int y = 0; y < image.h; ++y) {
    it = it.at(0, y);
    for (int x = 0; x < image.w; ++x, ++it) {
      *it;
      double r = 0, g = 0, b = 0;
      it.getRGB(r, g, b);
      const double dist = std::fabs(b - b0) + (std::fabs(r - r0) + std::fabs(g - g0));
      if (dist < d) {
        it.value[0] = it.value[1] = it.value[2] = white;
        it.set(it);
        changed = true;
      }
    }
  }
  if (changed)
    image.setRawData();
}
