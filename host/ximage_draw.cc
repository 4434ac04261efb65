// Image entries that draw paths into the image with its drawing state: the
// fill colour and the drawing transform.
#include "canvas/ImageDrawing.hh"
#include "canvas/Transform.hh"
#include "canvas/XPath.hh"
#include "host/XImage.hh"
#include "host/ximage_args.hh"

namespace {

ImageColor fillOf(const XImage& image)
{
  return ImageColor{image.fillColor[0], image.fillColor[1], image.fillColor[2],
                    image.fillColor[3]};
}

} // namespace

int XImage::setTransform(lua_State* L)
{
  Transform* t = ximage_args::opt<Transform*>(L, 2, nullptr);
  transform.reset();
  if (t)
    transform = *t;
  return 0;
}

int XImage::fillPath(lua_State* L, XPath& path)
{
  ximage_args::optInt(L, 3, 0); // accepted for the canvas's call shape; no effect
  imageFillPath(*this, path, Transform(transform), fillOf(*this));
  return 0;
}

void XImage::strokePath(XPath& path, double width)
{
  // Image strokes are plain: the stored line style belongs to the script's
  // bookkeeping, not to this stroke.
  imageStrokePath(*this, path, Transform(transform), fillOf(*this), width, 0, 0, 1.0f, nullptr,
                  0.0f);
}

int XImage::fillPathImage(lua_State* L, XPath& path, XImage& pattern)
{
  using namespace ximage_args;
  double alpha = optNumber(L, 4, 1.0);
  Transform* t = opt<Transform*>(L, 5, nullptr);
  const bool smooth = optBool(L, 6, true);
  alpha = clampUnit(alpha);
  if (&pattern == this) {
    // Painting an image into itself reads from a copy.
    XImage source(*this);
    imageFillPathImage(*this, path, Transform(transform), source, alpha, t, smooth);
    return 0;
  }
  imageFillPathImage(*this, path, Transform(transform), pattern, alpha, t, smooth);
  return 0;
}
