// Image entries that read or write pixel values from scripts: single
// pixels, histograms, lookup tables, palettes, colour masks and dropout.
#include <cmath>
#include <cstdio>
#include <vector>

#include "filters/dropout.hh"
#include "filters/lut.hh"
#include "host/XImage.hh"
#include "host/ximage_args.hh"
#include "image/Colorspace.hh"
#include "image/Tonal.hh"

namespace {

// A pixel inside an image of a known pixel type with pixels. The pixels
// come first: a lazily decoded image has its real geometry only then.
bool addressable(XImage& img, int x, int y)
{
  return img.getRawData() && x >= 0 && y >= 0 && x < img.w && y < img.h &&
         img.spp * img.bps > 0 && img.Type() != 0;
}

} // namespace

int XImage::pixel(lua_State* L, int x, int y)
{
  if (!addressable(*this, x, y))
    return 0;
  Image::iterator it = Image::iterator(this, false).at(x, y);
  *it;
  double r = 0, g = 0, b = 0;
  it.getRGB(r, g, b);
  lua_pushnumber(L, r);
  if (spp == 1)
    return 1;
  lua_pushnumber(L, g);
  lua_pushnumber(L, b);
  if (spp <= 3)
    return 3;
  lua_pushnumber(L, Type() == RGBA8 ? it.value[3] / 255.0 : 1.0);
  return 4;
}

int XImage::setPixel(lua_State* L, int x, int y)
{
  using namespace ximage_args;
  const double r = clampUnit(optNumber(L, 4, 0.0));
  const double g = clampUnit(optNumber(L, 5, 0.0));
  const double b = clampUnit(optNumber(L, 6, 0.0));
  const double a = clampUnit(optNumber(L, 7, 0.0));
  if (!addressable(*this, x, y))
    return 0;
  Image::iterator it = Image::iterator(this, false).at(x, y);
  *it; // sub-byte types keep the other pixels of the byte
  Image::iterator value = it;
  value.setRGB(r, g, b);
  if (Type() == RGBA8)
    value.value[3] = (int)(a * 255.0);
  it.set(value);
  setRawData();
  return 0;
}

int XImage::histogram(lua_State* L, int bins)
{
  const std::vector<std::vector<uint32_t>> hist = ::histogram(*this, bins);
  for (const std::vector<uint32_t>& channel : hist) {
    lua_createtable(L, (int)channel.size(), 1);
    for (size_t i = 0; i < channel.size(); ++i) {
      lua_pushinteger(L, (lua_Integer)i);
      lua_pushinteger(L, channel[i]);
      lua_rawset(L, -3);
    }
  }
  return (int)hist.size();
}

namespace {

// Keys 1..256 of the table at index, up to the first missing one; false
// when the argument is absent.
bool readTable(lua_State* L, int index, uint8_t* table)
{
  if (ximage_args::absent(L, index))
    return false;
  if (!lua_istable(L, index))
    LuaWrapper::argError(L, index, LuaWrapper::Conv<LuaWrapper::LuaTable>::name);
  int64_t values[256];
  size_t n = 0;
  for (; n < 256; ++n) {
    lua_pushinteger(L, (lua_Integer)n + 1);
    lua_gettable(L, index);
    const bool present = !lua_isnil(L, -1);
    values[n] = lua_isnumber(L, -1) ? (int64_t)lua_tointeger(L, -1) : 0;
    lua_pop(L, 1);
    if (!present)
      break;
  }
  lut_table_from(table, values, n);
  return true;
}

} // namespace

int XImage::lut(lua_State* L)
{
  uint8_t r[256], g[256], b[256];
  const bool hasR = readTable(L, 2, r);
  const bool hasG = readTable(L, 3, g);
  const bool hasB = readTable(L, 4, b);
  // Without the red table there is nothing to map with.
  if (hasR)
    ::lut(*this, r, hasG ? g : nullptr, hasB ? b : nullptr, nullptr);
  return 0;
}

int XImage::dePalette(lua_State* L, int n, const std::string& palette)
{
  const int bpe = ximage_args::optInt(L, 4, 3);
  if (n < 0 || bpe < 1) {
    fprintf(stderr, "dePalette: invalid palette: %d entries of %d bytes\n", n, bpe);
    return 0;
  }
  // Entries 0..n, each bpe bytes.
  const uint64_t entries = (uint64_t)n + 1;
  const uint64_t needed = entries * (uint64_t)bpe;
  if (palette.size() < needed) {
    fprintf(stderr, "dePalette: short palette: %llu %llu\n", (unsigned long long)needed,
            (unsigned long long)palette.size());
    return 0;
  }
  std::vector<uint16_t> red(entries), green(entries), blue(entries), alpha;
  if (bpe > 3)
    alpha.resize(entries);
  const uint8_t* p = (const uint8_t*)palette.data();
  for (uint64_t i = 0; i < entries; ++i, p += bpe) {
    red[i] = green[i] = blue[i] = (uint16_t)(p[0] * 257);
    if (bpe >= 2)
      green[i] = (uint16_t)(p[1] * 257);
    if (bpe >= 3)
      blue[i] = (uint16_t)(p[2] * 257);
    if (bpe >= 4)
      alpha[i] = (uint16_t)(p[3] * 257);
  }
  // The core counts entries, and blacks out indices at or past the count:
  // index n is a palette entry too.
  colorspace_de_palette(*this, (int)entries, red.data(), green.data(), blue.data(),
                        bpe > 3 ? alpha.data() : nullptr);
  return 0;
}

XImage* XImage::color2mask(int rMin, int rMax, int gMin, int gMax, int bMin, int bMax)
{
  XImage* mask = new XImage();
  mask->spp = 1;
  mask->bps = 8;
  if (!getRawData() || w <= 0 || h <= 0 || Type() == 0)
    return mask;
  try {
    mask->Image::resize(w, h, 0);
  } catch (...) {
    delete mask;
    throw;
  }
  uint8_t* out = mask->getRawData();
  const bool gray = spp == 1;
  for (int y = 0; y < h; ++y) {
    Image::iterator it = Image::iterator(this, false).at(0, y);
    uint8_t* row = out + (uint64_t)y * mask->stride();
    for (int x = 0; x < w; ++x, ++it) {
      *it;
      bool inside;
      if (gray) {
        const int l = it.getL();
        inside = rMin <= l && l <= rMax;
      } else {
        uint16_t r = 0, g = 0, b = 0;
        it.getRGB(&r, &g, &b);
        inside = rMin <= r && r <= rMax && gMin <= g && g <= gMax && bMin <= b && b <= bMax;
      }
      row[x] = inside ? 0 : 255;
    }
  }
  mask->setRawData();
  return mask;
}

int XImage::dropout(lua_State* L, double r, double g, double b)
{
  const double fraction = ximage_args::optNumber(L, 5, 0.1);
  if (Type() == 0)
    return 0;
  Image::iterator colour(this, false);
  using ximage_args::clampUnit;
  colour.setRGB(clampUnit(r), clampUnit(g), clampUnit(b));
  ::dropout(*this, colour, (float)fraction);
  return 0;
}
