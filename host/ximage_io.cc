// Image entries that load, save and fill the raster: the codec registry
// from files and memory, and raw pixel data from scripts.
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

#include "image/ImageCodec.hh"
#include "host/XImage.hh"
#include "host/ximage_args.hh"

int XImage::setImage(lua_State* L, const std::string& file)
{
  const std::string decompress = ximage_args::optString(L, 3, "");
  lua_pushboolean(L, ImageCodec::Read(file, *this, decompress, 0) != 0);
  return 1;
}

int XImage::setImageMem(lua_State* L, const std::string& data)
{
  using namespace ximage_args;
  const std::string codec = optString(L, 3, "");
  const std::string decompress = optString(L, 4, "");
  const int index = optInt(L, 5, 0);
  // The stream holds its own copy of the bytes: a reader that decodes later
  // keeps the stream after the script's string may be gone.
  std::unique_ptr<std::istringstream> in(
    new std::istringstream(data, std::ios::in | std::ios::binary));
  const int res = ImageCodec::Read(in.get(), *this, codec, decompress, index);
  if (res < 0)
    in.release(); // now the attached reader's
  lua_pushboolean(L, res != 0);
  return 1;
}

int XImage::writeImageMem(lua_State* L, const std::string& codec, int quality,
                          const std::string& compression)
{
  std::ostringstream out(std::ios::out | std::ios::binary);
  if (!ImageCodec::Write(&out, *this, codec, "", quality, compression))
    return 0;
  const std::string bytes = out.str();
  lua_pushlstring(L, bytes.data(), bytes.size());
  return 1;
}

namespace {

// The pixel layouts raw data may describe: the gray depths, RGB and four
// samples (RGBA or CMYK) of 8 or 16 bits.
bool rawLayout(int spp, int bps)
{
  if (spp == 1)
    return bps == 1 || bps == 2 || bps == 4 || bps == 8 || bps == 16;
  return (spp == 3 || spp == 4) && (bps == 8 || bps == 16);
}

} // namespace

int XImage::setImageData(lua_State* L, int w, int h, int spp, int bps, const std::string& data)
{
  using namespace ximage_args;
  const bool swap = optBool(L, 7, false);
  const bool quiet = optBool(L, 8, false);
  if (w < 0 || h < 0) {
    fprintf(stderr, "setImageData: invalid size: %d %d\n", w, h);
    return 0;
  }
  if (!rawLayout(spp, bps)) {
    fprintf(stderr, "setImageData: unsupported spp/bps: %d %d\n", spp, bps);
    return 0;
  }
  const uint8_t oldSpp = this->spp, oldBps = this->bps;
  this->spp = (uint8_t)spp;
  this->bps = (uint8_t)bps;
  try {
    Image::resize(w, h, 0);
  } catch (...) {
    this->spp = oldSpp;
    this->bps = oldBps;
    throw;
  }
  const uint64_t needed = (uint64_t)h * stride();
  uint64_t count = needed;
  if (data.size() < needed) {
    if (!quiet)
      fprintf(stderr, "setImageData: short %llu %llu\n", (unsigned long long)needed,
              (unsigned long long)data.size());
    count = data.size();
  }
  uint8_t* dst = getRawData();
  const uint8_t* src = (const uint8_t*)data.data();
  if (count && dst) {
    if (!swap) {
      memcpy(dst, src, count);
    } else if (spp * bps == 32) {
      for (uint64_t i = 0; i + 4 <= count; i += 4) {
        dst[i] = src[i + 3];
        dst[i + 1] = src[i + 2];
        dst[i + 2] = src[i + 1];
        dst[i + 3] = src[i];
      }
    } else if (spp * bps == 16) {
      for (uint64_t i = 0; i + 2 <= count; i += 2) {
        dst[i] = src[i + 1];
        dst[i + 1] = src[i];
      }
    } else {
      fprintf(stderr, "setImageData: unsupported depth: %d\n", spp * bps);
    }
  }
  setRawData();
  return 0;
}

namespace {

// One colour component from a bit field; 64-bit so that wide masks scale
// without overflow. A zero mask has no component: 0.
inline uint8_t field(uint32_t value, int shift, uint32_t mask)
{
  if (!mask)
    return 0;
  const uint64_t v = (value >> (shift & 31)) & mask;
  return (uint8_t)(v * 255 / mask);
}

} // namespace

int XImage::setImageDataSpec(lua_State* L, int w, int h, int depth, bool littleEndian,
                             const std::string& data)
{
  using namespace ximage_args;
  int shift[4];
  uint32_t mask[4];
  for (int c = 0; c < 4; ++c) {
    shift[c] = optInt(L, 7 + 2 * c, 0);
    mask[c] = (uint32_t)optInt(L, 8 + 2 * c, 0);
  }
  shift[3] &= 0xff;
  if (w < 0 || h < 0) {
    fprintf(stderr, "setImageDataSpec: invalid size: %d %d\n", w, h);
    return 0;
  }
  const uint8_t oldSpp = this->spp, oldBps = this->bps;
  this->spp = mask[3] ? 4 : 3;
  this->bps = 8;
  try {
    Image::resize(w, h, 0);
  } catch (...) {
    this->spp = oldSpp;
    this->bps = oldBps;
    throw;
  }
  setRawData();
  // Only these depths have a unit to read; checked before the pixel count
  // divides by the unit size.
  if (depth != 8 && depth != 15 && depth != 16 && depth != 32) {
    fprintf(stderr, "doBLIT: unsupported depth: %d\n", depth);
    return 0;
  }
  const uint64_t bpp = (uint64_t)(depth + 7) / 8;
  const uint64_t want = (uint64_t)w * (uint64_t)h * bpp;
  const uint64_t pixels = (data.size() < want ? data.size() : want) / bpp;
  const uint8_t* s = (const uint8_t*)data.data();
  uint8_t* d = getRawData();
  if (!d)
    return 0;
  const int outSpp = this->spp;
  for (uint64_t i = 0; i < pixels; ++i, s += bpp, d += outSpp) {
    uint32_t v;
    if (bpp == 1)
      v = s[0];
    else if (bpp == 2)
      v = littleEndian ? (uint32_t)(s[0] | s[1] << 8) : (uint32_t)(s[0] << 8 | s[1]);
    else
      v = littleEndian ? (uint32_t)s[0] | (uint32_t)s[1] << 8 | (uint32_t)s[2] << 16 |
                           (uint32_t)s[3] << 24
                       : (uint32_t)s[0] << 24 | (uint32_t)s[1] << 16 | (uint32_t)s[2] << 8 |
                           (uint32_t)s[3];
    for (int c = 0; c < outSpp; ++c)
      d[c] = field(v, shift[c], mask[c]);
  }
  return 0;
}

int XImage::codecID(lua_State* L)
{
  ImageCodec* c = getCodec();
  if (!c)
    return 0;
  const std::string id = c->getID();
  lua_pushlstring(L, id.data(), id.size());
  return 1;
}
