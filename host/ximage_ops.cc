// Image entries that adapt one image operation each: geometry, colour
// spaces, tone and filters, binarisation, page analysis, deskew, barcodes
// and ICC colour.
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <sstream>

#include "deskew/Deskew.hh"
#include "deskew/Flatbed.hh"
#include "deskew/Orientation.hh"
#include "bardecode/read_barcodes.hh"
#include "bind/Handles.hh"
#include "color/ColorManagement.hh"
#include "filters/color_mode.hh"
#include "filters/dither.hh"
#include "filters/empty_page.hh"
#include "filters/median.hh"
#include "filters/optimize2bw.hh"
#include "filters/smooth.hh"
#include "filters/white_balance.hh"
#include "host/XImage.hh"
#include "host/ximage_args.hh"
#include "image/Colorspace.hh"
#include "image/Composite.hh"
#include "image/Crop.hh"
#include "image/Rotate.hh"
#include "image/Scale.hh"
#include "image/Tonal.hh"

// Geometry and metadata.

int XImage::size(lua_State* L)
{
  lua_pushnumber(L, w);
  lua_pushnumber(L, h);
  return 2;
}

int XImage::resolution(lua_State* L)
{
  lua_pushnumber(L, resX);
  lua_pushnumber(L, resY);
  return 2;
}

int XImage::setResolution(lua_State* L, int x)
{
  const int y = ximage_args::optInt(L, 3, x);
  Image::setResolution(x, y);
  return 0;
}

int XImage::resize(lua_State* L, int w, int h)
{
  const int stride = ximage_args::optInt(L, 4, 0);
  bool ok = true;
  try {
    Image::resize(w, h, (unsigned)stride);
  } catch (const std::bad_alloc&) {
    ok = false; // the old geometry is back
  }
  lua_pushboolean(L, ok);
  return 1;
}

int XImage::scale(lua_State* L, double sx)
{
  const double sy = ximage_args::optNumber(L, 3, sx);
  ::scale(*this, sx, sy, false);
  return 0;
}

void XImage::rotate(double angle)
{
  // Corners uncovered by the turn become white, as a page's paper is.
  Image::iterator background(this, false);
  const int max = bps == 16 ? 65535 : 255;
  for (int i = 0; i < 3; ++i)
    background.value[i] = max;
  background.value[3] = 255;
  ::rotate(*this, angle, background);
}

void XImage::crop(int x, int y, int w, int h)
{
  ::crop(*this, x, y, (unsigned)w, (unsigned)h);
}

void XImage::copy(int x, int y, int w, int h, XImage& dst, int dx, int dy)
{
  // Both decoded first, so that the types compared are the real ones; then
  // this image takes dst's pixel type, in place.
  if (!getRawData() || !dst.getRawData())
    return;
  if (spp != dst.spp || bps != dst.bps) {
    if (!colorspace_by_name(*this, colorspace_name(dst), 127))
      return;
  }
  ::copy(dst, dx, dy, w, h, *this, x, y);
}

void XImage::append(XImage& other)
{
  append2(*this, other);
}

void XImage::borderFill(int bx, int by)
{
  borderfill(*this, bx, by);
}

// Colour spaces and compositing.

void XImage::colorspace(const std::string& name)
{
  colorspace_by_name(*this, name, 127);
}

int XImage::colorspaceRGB8ToGray8(lua_State* L)
{
  using namespace ximage_args;
  const int wr = optInt(L, 2, 28), wg = optInt(L, 3, 59), wb = optInt(L, 4, 11);
  colorspace_rgb8_to_gray8(*this, spp, wr, wg, wb);
  return 0;
}

void XImage::colorspaceGray8ToGray1() { colorspace_gray8_to_gray1(*this, 127); }
void XImage::colorspaceGray8DenoiseNeighbours() { colorspace_gray8_denoise_neighbours(*this, false); }
void XImage::cmyk2rgb() { colorspace_cmyk_to_rgb(*this); }
void XImage::invert() { ::invert(*this); }

void XImage::mask2rgba()
{
  ::mask2rgba(*this, (unsigned char)(int)(fillColor[0] * 255),
              (unsigned char)(int)(fillColor[1] * 255), (unsigned char)(int)(fillColor[2] * 255));
}

void XImage::rgbaFromImage(XImage& other, bool invert)
{
  ::rgbaFromImage(*this, other, invert);
}

bool XImage::applyICC(const std::string& profile)
{
  std::istringstream in(profile, std::ios::in | std::ios::binary);
  return ::applyICC(*this, in);
}

// Tone, filters and binarisation.

void XImage::brightnessContrastGamma(double brightness, double contrast, double gamma)
{
  brightness_contrast_gamma(*this, brightness, contrast, gamma);
}

void XImage::normalize() { ::normalize(*this, 0, 0); }
void XImage::median() { ::median(*this, 1); }
void XImage::smooth() { ::smooth(*this, 1); }
void XImage::optimize2bw() { ::optimize2bw(*this, 0, 0, 0, 0, 3, 2.1); }
void XImage::optimize2bw2() { ::optimize2bw2(*this); }
void XImage::autoInvert() { ::autoInvert(*this); }
void XImage::autoWhite() { ::autoWhite(*this); }

int XImage::floyedSteinberg(lua_State* L)
{
  FloydSteinberg(*this, ximage_args::optInt(L, 2, 2));
  return 0;
}

int XImage::autoColor(lua_State* L)
{
  using namespace ximage_args;
  const double colorPct = optNumber(L, 2, 0.2), grayPct = optNumber(L, 3, 4.0);
  const char* mode = ::autoColor(*this, colorPct, grayPct);
  if (!mode)
    return 0;
  lua_pushstring(L, mode);
  return 1;
}

int XImage::detectEmptyPage(lua_State* L, double percent, int marginX)
{
  const int marginY = ximage_args::optInt(L, 4, marginX);
  int count = 0;
  const bool empty = detect_empty_page(*this, percent, marginX, marginY, &count);
  lua_pushboolean(L, empty);
  lua_pushnumber(L, count);
  return 2;
}

// Document geometry and barcodes.

int XImage::autoRotate(lua_State* L)
{
  float skew = NAN;
  const int degrees = autoRotate2(*this, &skew, false, nullptr);
  lua_pushnumber(L, degrees);
  if (std::isnan(skew))
    return 1;
  lua_pushnumber(L, skew);
  return 2;
}

void XImage::deskew(int topLines, int bottomLines)
{
  ::deskew(*this, topLines, bottomLines);
}

namespace {

void pushSheet(lua_State* L, const deskew_rect& r)
{
  lua_createtable(L, 0, 7);
  lua_pushnumber(L, r.angle);
  lua_setfield(L, -2, "angle");
  const struct {
    const char* key;
    int32_t value;
  } fields[] = {{"x", r.x},           {"y", r.y},          {"width", r.width},
                {"height", r.height}, {"x_back", r.x_back}, {"y_back", r.y_back}};
  for (const auto& f : fields) {
    lua_pushinteger(L, f.value);
    lua_setfield(L, -2, f.key);
  }
}

} // namespace

int XImage::deskewParameters(lua_State* L, int topLines, int bottomLines)
{
  pushSheet(L, ::deskewParameters(*this, topLines, bottomLines));
  return 1;
}

int XImage::deskewFlatbed(lua_State* L)
{
  pushSheet(L, ::deskewFlatbed(*this));
  return 1;
}

XImage* XImage::deskewApply(LuaWrapper::LuaTable sheet, bool back)
{
  deskew_rect r;
  r.x = sheet.getD<int>("x");
  r.y = sheet.getD<int>("y");
  r.width = sheet.getD<int>("width");
  r.height = sheet.getD<int>("height");
  r.x_back = sheet.getD<int>("x_back");
  r.y_back = sheet.getD<int>("y_back");
  r.angle = (float)sheet.getD<double>("angle");
  std::unique_ptr<Image> straight(::deskewApply(*this, r, back));
  std::unique_ptr<XImage> out(new XImage());
  // A pixel type no deskew body handles gives an empty image.
  if (straight)
    out->copyTransferOwnership(*straight);
  return out.release();
}

int XImage::bardecode(lua_State* L, const std::string& types)
{
  using namespace ximage_args;
  const int threshold = optInt(L, 3, 150);
  const int concurrentLines = optInt(L, 4, 3);
  const int lineSkip = optInt(L, 5, 8);
  const int directions = optInt(L, 6, 15);
  const unsigned mask = BarDecode::bardecode_types(types);
  std::vector<BarDecode::scanner_result_t> hits;
  if (mask)
    hits = BarDecode::read_barcodes(*this, mask, threshold, concurrentLines, lineSkip,
                                    (unsigned)directions);
  lua_createtable(L, (int)hits.size(), 0);
  for (size_t i = 0; i < hits.size(); ++i) {
    const BarDecode::scanner_result_t& hit = hits[i];
    lua_createtable(L, 0, 4);
    lua_pushlstring(L, hit.code.data(), hit.code.size());
    lua_setfield(L, -2, "code");
    lua_pushstring(L, BarDecode::bartype2string(hit.type));
    lua_setfield(L, -2, "type");
    lua_pushinteger(L, hit.x);
    lua_setfield(L, -2, "x");
    lua_pushinteger(L, hit.y);
    lua_setfield(L, -2, "y");
    lua_rawseti(L, -2, (int)i + 1);
  }
  return 1;
}
