// Cutting a measured sheet out of its scan: a plain copy when the skew is
// negligible, a shear when it is tiny, a rotation otherwise.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "deskew/Deskew.hh"
#include "deskew/Shear.hh"
#include "image/Composite.hh"
#include "image/PixelType.hh"
#include "image/Rotate.hh"
#include "utility/Saturate.hh"

namespace {

// White at the pixel type's own depth; sub-byte types hold 0..255.
void setWhite(Image::iterator& it, const Image& image)
{
  const int32_t max = image.bps == 16 ? 65535 : 255;
  for (int i = 0; i < 4; ++i)
    it.value[i] = max;
  it.value[3] = 255;
}

} // namespace

Image* deskewApply(Image& image, const deskew_rect& rect, bool back)
{
  if (image.empty())
    return new Image(image);
  if (!isPixelType(image))
    return nullptr;

  Image::iterator background(&image, false);
  setWhite(background, image);

  const int left = back ? rect.x_back : rect.x;
  const int top = back ? rect.y_back : rect.y;
  const float angle = back ? -rect.angle : rect.angle;

  if (rect.width < 1 || rect.height < 1) {
    fprintf(stderr, "deskew: invalid size: %d %d\n", rect.width, rect.height);
    return new Image(image);
  }

  // Compared in single precision: the float nearest 0.05 lies just above
  // it in double, and the boundaries belong to the cheaper branch.
  const float a = std::fabs(angle);
  if (a <= 0.05f) {
    std::unique_ptr<Image> result(new Image);
    result->copyMeta(image);
    result->rowStride = 0;
    result->resize(rect.width, rect.height, 0);
    // Whatever of the rectangle lies outside the scan stays white, as in
    // the other two branches.
    memset(result->data, 0xff, (size_t)result->stride() * (size_t)result->h);
    copy(*result, 0, 0, rect.width, rect.height, image, left, top);
    result->setRawData();
    return result.release();
  }
  if (a <= 0.1f) {
    const double t = std::tan(angle / 180.0 * 3.141592653589793);
    // copy_crop_shear moves rows left by this much for a positive slope.
    const int x = t > 0 ? saturate_cast<int>((double)left + std::trunc(std::fabs(t) * image.h))
                        : left;
    return copy_crop_shear(image, x, top, rect.width, rect.height, angle, 0.0, background);
  }
  return copy_crop_rotate(image, left, top, rect.width, rect.height, angle, background);
}

bool deskew(Image& image, int topLines, int bottomLines)
{
  if (image.empty())
    return false;
  const deskew_rect rect = deskewParameters(image, topLines, bottomLines);
  Image* result = deskewApply(image, rect, false);
  if (!result)
    return false;
  image.copyTransferOwnership(*result);
  delete result;
  return true;
}
