// The "Tolm" module: class registration, the coder functions over the
// codec library, the run loop, timers and keyed callbacks.
#include "host/tolm_module.hh"

#include <climits>
#include <cstring>
#include <iostream>
#include <ostream>

#include "codecs/CCITT.hh"
#include "codecs/Decoders.hh"
#include "codecs/MemoryStream.hh"
#include "codecs/PNGPredict.hh"
#include "codecs/ZlibEncoder.hh"
#include "image/Image.hh"
#include "lua/lauxlib.h"
#include "lua/lua.h"

namespace {

// Optional trailing arguments: absent or nil take the default.
int optInt(lua_State* L, int index, int def)
{
  return lua_isnoneornil(L, index) ? def : (int)luaL_checkinteger(L, index);
}

bool optBool(lua_State* L, int index)
{
  return lua_isboolean(L, index) && lua_toboolean(L, index);
}

void pushBytes(lua_State* L, GrowBuf& buf)
{
  lua_pushlstring(L, (const char*)buf.data(), (size_t)buf.size());
}

} // namespace

namespace tolm {

int unpredictPNG(lua_State* L, const std::string& data, int rowBytes, int predictor, int step,
                 int bits)
{
  // The row filters count in int.
  if (data.size() > (size_t)INT_MAX)
    return luaL_argerror(L, 1, "data too large");
  // PNG rows are rowBytes + 1 bytes long: a negative width has no rows.
  if (predictor >= 0 && rowBytes < 0)
    return luaL_argerror(L, 2, "row bytes must not be negative");
  std::string copy = data;
  const int length = (int)copy.size();
  unsigned char* p = copy.empty() ? nullptr : (unsigned char*)&copy[0];
  ::unpredictPNG(p, nullptr, length, rowBytes, predictor, step, 0, bits);
  if (predictor < 0) {
    lua_pushlstring(L, copy.data(), copy.size());
    return 1;
  }
  const uint64_t row = (uint64_t)rowBytes + 1;
  const uint64_t n = (uint64_t)length / row;
  if (n * row != (uint64_t)length)
    std::cerr << "unpredict size mismatch: " << n * row << " " << length << std::endl;
  lua_pushlstring(L, copy.data(), (size_t)(n * (uint64_t)rowBytes));
  return 1;
}

int predictPNG(lua_State* L, const std::string& data, int width, int filter)
{
  if (width <= 0)
    return luaL_argerror(L, 2, "width must be positive");
  const uint64_t rows = data.size() / (uint64_t)width;
  if (rows > (uint64_t)INT_MAX)
    return luaL_argerror(L, 1, "data too large");
  // A gray image over the script's bytes, borrowed for the call.
  Image image;
  image.w = width;
  image.h = (int)rows;
  image.bps = 8;
  image.spp = 1;
  std::string out;
  if (rows) {
    image.setRawDataWithoutDelete((uint8_t*)data.data());
    predictPNG(image, out, filter);
    image.setRawDataWithoutDelete(nullptr);
  }
  lua_pushlstring(L, out.data(), out.size());
  return 1;
}

int zlibDecode(lua_State* L, const std::string& data)
{
  const int windowBits = optInt(L, 2, 15);
  GrowBuf buf;
  std::ostream out(&buf);
  if (!DecodeZlib(out, data.data(), data.size(), windowBits, UINT64_MAX))
    return 0;
  pushBytes(L, buf);
  return 1;
}

int zlibEncode(lua_State* L, const std::string& data)
{
  GrowBuf buf;
  std::ostream out(&buf);
  bool ok;
  {
    ZlibEncoder z(&out, 9);
    ok = z.good() && z.write(data.data(), (uint64_t)data.size()) && z.finish();
  }
  if (!ok || !out)
    return 0;
  pushBytes(L, buf);
  return 1;
}

// Rows of a fax image wider than this are refused by the decoder anyway.
static const int kMaxCCITTWidth = 1 << 20;

int ccittDecode(lua_State* L, const std::string& data, int width, int height)
{
  const int K = optInt(L, 4, -1);
  const bool byteAlign = optBool(L, 5), blackIs1 = optBool(L, 6), endOfBlock = optBool(L, 7);
  if (width <= 0 || width > kMaxCCITTWidth)
    return luaL_argerror(L, 2, "width out of range");
  // 0 decodes until the data end; the decoder bounds the rows by the data.
  if (height < 0)
    return luaL_argerror(L, 3, "height must not be negative");
  MemoryIn buf((const unsigned char*)data.data(), data.size());
  std::istream in(&buf);
  const std::string rows = DecodeCCITT(in, width, height, K, byteAlign, blackIs1, endOfBlock);
  std::streamoff at = in.tellg();
  if (at < 0) // a failed stream says where it stopped no more: all was read
    at = (std::streamoff)data.size();
  lua_pushlstring(L, rows.data(), rows.size());
  lua_pushinteger(L, (lua_Integer)at);
  return 2;
}

int lzwDecode(lua_State* L, const std::string& data)
{
  const bool earlyChange = optBool(L, 2);
  MemoryIn inBuf((const unsigned char*)data.data(), data.size());
  std::istream in(&inBuf);
  GrowBuf buf;
  std::ostream out(&buf);
  if (!DecodeLZW(out, in, earlyChange, false) || !out)
    return 0;
  pushBytes(L, buf);
  return 1;
}

} // namespace tolm
