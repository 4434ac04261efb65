// The "Tolm" module: class registration, the coder functions over the
// codec library, the run loop, timers and keyed callbacks.
#include "host/tolm_module.hh"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <ostream>

#include "codecs/CCITT.hh"
#include "codecs/Decoders.hh"
#include "codecs/MemoryStream.hh"
#include "codecs/PNGPredict.hh"
#include "codecs/ZlibEncoder.hh"
#include "host/Host.hh"
#include "host/Interrupt.hh"
#include "host/Modules.hh"
#include "host/ScriptImages.hh"
#include "host/xcodec.hh"
#include "host/XImage.hh"
#include "canvas/Text.hh"
#include "canvas/Transform.hh"
#include "canvas/Vectorial.hh"
#include "canvas/XPath.hh"
#include "renderer/Renderer.hh"
#include "image/Image.hh"
#include "lua/lauxlib.h"
#include "lua/lua.h"

namespace {

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

// A limit (bytes, none when negative) bounds the output: data inflating to
// more gives nil and a message instead, having held no more than the limit.
int zlibDecode(lua_State* L, const std::string& data, int windowBits, double limit)
{
  if (std::isnan(limit))
    return luaL_argerror(L, 3, "limit is not a number");
  const bool bounded = limit >= 0 && limit < 18e18;
  const uint64_t cap = bounded ? (uint64_t)limit : UINT64_MAX;
  // one byte past the limit tells a stream that ends there from a longer one
  GrowBuf buf;
  std::ostream out(&buf);
  if (!DecodeZlib(out, data.data(), data.size(), windowBits, bounded ? cap + 1 : UINT64_MAX))
    return 0;
  if (bounded && (uint64_t)buf.size() > cap) {
    lua_pushnil(L);
    char msg[80];
    std::snprintf(msg, sizeof msg, "inflated data exceed the limit of %llu bytes",
                  (unsigned long long)cap);
    lua_pushstring(L, msg);
    return 2;
  }
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

int ccittDecode(lua_State* L, const std::string& data, int width, int height, int K,
                bool byteAlign, bool blackIs1, bool endOfBlock)
{
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

int lzwDecode(lua_State* L, const std::string& data, bool earlyChange)
{
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

// ---------------------------------------------------------------------------
// Run loop, timers and keyed callbacks. A timer or callback holds its own
// reference to the script function. The renderer keeps only a number that
// names it in the table below: the function goes when the timer ends, the
// callback is removed or its script state closes, and a renderer that fires
// a number whose state has closed finds nothing and stops.

namespace {

using LuaWrapper::LuaFunction;

std::map<uintptr_t, LuaFunction>& handles()
{
  static std::map<uintptr_t, LuaFunction> table;
  return table;
}

void* keepFunction(const LuaFunction& f)
{
  static uintptr_t last = 0;
  // The call's own reference goes when the call ends; the kept one lives on
  // the main thread for as long as the timer or callback.
  LuaFunction kept = f.keep();
  try {
    handles().emplace(++last, kept);
  } catch (...) {
    kept.release();
    throw;
  }
  return (void*)last;
}

LuaFunction* findFunction(void* user)
{
  auto it = handles().find((uintptr_t)user);
  return it == handles().end() ? nullptr : &it->second;
}

void releaseFunction(void* user)
{
  auto it = handles().find((uintptr_t)user);
  if (it == handles().end())
    return;
  it->second.release();
  handles().erase(it);
}

// Run when the state closes: its functions go with it, whatever the
// renderer still holds.
int dropHandles(lua_State* L)
{
  lua_State* main = LuaWrapper::mainThread(L);
  for (auto it = handles().begin(); it != handles().end();)
    if (it->second.state == main)
      it = handles().erase(it);
    else
      ++it;
  return 0;
}

bool timerTrampoline(void* user)
{
  const LuaFunction* found = findFunction(user);
  if (!found)
    return false;
  // A copy of the handle: the table entry may go while the function runs.
  LuaFunction f = *found;
  bool again = false;
  // Nothing may leave towards the run loop.
  try {
    again = LuaWrapper::Call_1<bool>(f.state, f);
  } catch (const std::exception& e) {
    std::cerr << "timerWrapper: " << e.what() << std::endl;
  } catch (...) {
    std::cerr << "timerWrapper: unknown error" << std::endl;
  }
  if (!again)
    releaseFunction(user);
  return again;
}

void callbackTrampoline(int key, void* user)
{
  const LuaFunction* found = findFunction(user);
  if (!found)
    return;
  LuaFunction f = *found; // the callback may remove itself
  try {
    LuaWrapper::Call_0(f.state, f, key);
  } catch (const std::exception& e) {
    std::cerr << "callbackWrapper: " << e.what() << std::endl;
  } catch (...) {
    std::cerr << "callbackWrapper: unknown error" << std::endl;
  }
}

} // namespace

namespace tolm {

void finit()
{
  host::finitTolm();
}

void run()
{
  host::runTolm();
}

void runLoop(double seconds)
{
  host::runTolmLoop(seconds);
}

void exit(int code)
{
  host::quitTolm(code);
}

void addTimer(LuaFunction f, double seconds)
{
  if (!host::parent_renderer) {
    std::cerr << "addTimer: no renderer" << std::endl;
    return;
  }
  host::parent_renderer->addTimer(&timerTrampoline, seconds, keepFunction(f));
}

void addCallback(int key, LuaFunction f)
{
  if (!host::parent_renderer) {
    std::cerr << "addCallback: no renderer" << std::endl;
    return;
  }
  void* copy = keepFunction(f);
  host::parent_renderer->addCallback(key, &callbackTrampoline, copy);
  // The renderer keeps the first function of a key: a copy it did not take
  // would never be freed.
  const auto it = host::parent_renderer->callbacks.find(key);
  if (it == host::parent_renderer->callbacks.end() || it->second.user != copy)
    releaseFunction(copy);
}

void removeCallback(int key)
{
  void* user = host::parent_renderer ? host::parent_renderer->removeCallback(key) : nullptr;
  if (!user) {
    std::cerr << "No callback for: " << key << std::endl;
    return;
  }
  releaseFunction(user);
}

} // namespace tolm

// ---------------------------------------------------------------------------
// Registration.

using namespace LuaWrapper;

// The classes are declared in their registration order; each class's export
// function fills its entries after all seven are declared.
int luaopen_tolm(lua_State* L)
{
  static const luaL_Reg none[] = {{nullptr, nullptr}};
  luaL_register(L, "Tolm", none);

  // Timers and callbacks of this state end with it. One guard per state: a
  // second one, collected early, would end them too soon.
  lua_getfield(L, LUA_REGISTRYINDEX, "Tolm handles");
  const bool guarded = !lua_isnil(L, -1);
  lua_pop(L, 1);
  if (!guarded) {
    lua_newuserdata(L, 1);
    lua_newtable(L);
    lua_pushcfunction(L, dropHandles);
    lua_setfield(L, -2, "__gc");
    lua_setmetatable(L, -2);
    lua_setfield(L, LUA_REGISTRYINDEX, "Tolm handles");
  }

  const LuaClassData* const records[] = {
      LuaClass<Transform>::data, LuaClass<XPath>::data,     LuaClass<XImage>::data,
      LuaClass<XCodec>::data,    LuaClass<XPDFCodec>::data, LuaClass<Text>::data,
      LuaClass<Vectorial>::data};
  for (const LuaClassData* cls : records) {
    detail::declareClass(L, cls->name, "Tolm");
    if (strcmp(cls->name, "Codec") == 0)
      exportCodecFunctions(L);
  }

  exportTransformClass(L);
  exportPathClass(L);
  exportImageClass(L);
  exportCodecClass(L);
  exportPDFCodecClass(L);
  exportTextClass(L);
  exportVectorialClass(L, &host::parent_renderer, host::scriptImages());

  static const luaL_Reg functions[] = {
    {"unpredictPNG", FunctionWrapper<&tolm::unpredictPNG>::Wrapper},
    {"predictPNG", FunctionWrapper<&tolm::predictPNG>::Wrapper},
    {"zlibDecode", FunctionWrapper<&tolm::zlibDecode, Required, OptionalOr<15>, OptionalOr<-1>>::Wrapper},
    {"zlibEncode", FunctionWrapper<&tolm::zlibEncode>::Wrapper},
    {"ccittDecode", FunctionWrapper<&tolm::ccittDecode, Required, Required, Required,
                                    OptionalOr<-1>, Optional, Optional, Optional>::Wrapper},
    {"lzwDecode", FunctionWrapper<&tolm::lzwDecode, Required, Optional>::Wrapper},
    {"finit", FunctionWrapper<&tolm::finit>::Wrapper},
    {"run", FunctionWrapper<&tolm::run>::Wrapper},
    {"runLoop", FunctionWrapper<&tolm::runLoop>::Wrapper},
    {"exit", FunctionWrapper<&tolm::exit>::Wrapper},
    {"addTimer", FunctionWrapper<&tolm::addTimer>::Wrapper},
    {"addCallback", FunctionWrapper<&tolm::addCallback>::Wrapper},
    {"removeCallback", FunctionWrapper<&tolm::removeCallback>::Wrapper},
    {"catchSignals", &tolm::catchSignals},
    {"interruptible", &tolm::interruptible},
    {"interruptionPoint", &tolm::interruptionPoint},
    {nullptr, nullptr}};
  // One at a time, in the order above, into the module table on the stack.
  for (const luaL_Reg* r = functions; r->name; ++r) {
    lua_pushcfunction(L, r->func);
    lua_setfield(L, -2, r->name);
  }
  return 1;
}

static RegisterModule tolmModule("Tolm", luaopen_tolm);
