// The Image script class: construction, the native-only members and the
// drawing state (fill colour, line style, dash pattern, transform).
#include "host/XImage.hh"

#include <cstdio>

#include "host/ximage_args.hh"
#include "image/Scale.hh"

XImage::XImage()
  : Image(),
    // Defined before any script sets them: opaque black and the stroke
    // defaults of a new Path.
    fillColor{0.0, 0.0, 0.0, 1.0}, lineCap(0), lineJoin(0), miterLimit(1.0f), dashStart(0.0f),
    transform(), dashes()
{
}

XImage::XImage(XImage& other) : XImage()
{
  Image::operator=(other);
}

XImage::~XImage() {}

XImage* XImage::newTemporary(int w, int h)
{
  XImage* t = new XImage();
  try {
    t->copyMeta(*this);
    t->rowStride = 0;
    t->Image::resize(w, h, 0);
  } catch (...) {
    delete t;
    throw;
  }
  return t;
}

void XImage::scale(double sx, double sy)
{
  ::scale(*this, sx, sy, false);
}

void XImage::color(double r, double g, double b, double a)
{
  fillColor[0] = ximage_args::clampUnit(r);
  fillColor[1] = ximage_args::clampUnit(g);
  fillColor[2] = ximage_args::clampUnit(b);
  fillColor[3] = ximage_args::clampUnit(a);
}

int XImage::setLineStyle(lua_State* L)
{
  using namespace ximage_args;
  if (!absent(L, 2)) {
    const std::string cap = optString(L, 2, "");
    if (cap == "butt")
      lineCap = 0;
    else if (cap == "square")
      lineCap = 1;
    else if (cap == "round")
      lineCap = 2;
    else
      fprintf(stderr, "unmatched cap: %s\n", cap.c_str());
  }
  if (!absent(L, 3)) {
    const std::string join = optString(L, 3, "");
    if (join == "miter")
      lineJoin = 0;
    else if (join == "round")
      lineJoin = 2;
    else if (join == "bevel")
      lineJoin = 3;
    else
      fprintf(stderr, "unmatched join: %s\n", join.c_str());
  }
  if (!absent(L, 4))
    miterLimit = (float)optNumber(L, 4, 1.0);
  return 0;
}

int XImage::setLineDash(lua_State* L)
{
  using namespace ximage_args;
  // Convert everything first: a bad value leaves the old pattern.
  std::vector<float> d;
  for (int i = 2; !absent(L, i); ++i)
    d.push_back((float)optNumber(L, i, 0.0));
  float start = 0.0f;
  if (d.size() % 2) {
    start = d.back();
    d.pop_back();
  }
  dashes.swap(d);
  dashStart = start;
  return 0;
}

int XImage::setCompOp(lua_State* L)
{
  // Image drawing has no compositing operator; the name is only checked.
  ximage_args::optString(L, 2, "src-over");
  return 0;
}
