#include "twain/TwainModule.hh"

#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "bind/LuaWrapper.hh"
#include "host/Host.hh"
#include "host/Modules.hh"
#include "host/XImage.hh"
#include "image/Image.hh"
#include "lua/lauxlib.h"
#include "renderer/Renderer.hh"

using namespace twain;
using namespace LuaWrapper;

namespace {

Norvel::Twain* twainBridge = nullptr; // never destroyed: the manager stays open
lua_State* moduleState = nullptr;
TW_HANDLE gwnd = nullptr;             // nothing sets a parent window

const char* const kStateGuard = "TWAIN state guard";

// The state is closing: notifications still queued find no state.
int forgetState(lua_State* L)
{
  if (moduleState && sameUniverse(moduleState, L))
    moduleState = nullptr;
  return 0;
}

int absIndex(lua_State* L, int i) { return i > 0 || i <= LUA_REGISTRYINDEX ? i : lua_gettop(L) + 1 + i; }

template <class T>
T readAs(const uint8_t* p)
{
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

double fix32(const uint8_t* p)
{
  return fromFix32(readAs<TW_FIX32>(p));
}

// Pushes the item as a script value; false (nothing pushed) for a type it
// cannot convert or an item cut short.
bool pushItem(lua_State* L, TW_UINT16 type, const uint8_t* p, size_t avail)
{
  const unsigned size = twainmodule::conv2size(type);
  const bool text = stringCapacity(type) != 0;
  // a string needs its length byte; any other item all of its bytes
  if (size == 0 || avail < (text ? 1 : size))
    return false;
  switch (type) {
  case TWTY_INT8: lua_pushinteger(L, readAs<int8_t>(p)); return true;
  case TWTY_INT16: lua_pushinteger(L, readAs<int16_t>(p)); return true;
  case TWTY_INT32: lua_pushinteger(L, readAs<int32_t>(p)); return true;
  case TWTY_UINT8: lua_pushinteger(L, readAs<uint8_t>(p)); return true;
  case TWTY_UINT16: lua_pushinteger(L, readAs<uint16_t>(p)); return true;
  case TWTY_UINT32: lua_pushinteger(L, lua_Integer(readAs<uint32_t>(p))); return true;
  case TWTY_BOOL: lua_pushboolean(L, readAs<uint16_t>(p) != 0); return true;
  case TWTY_FIX32: lua_pushnumber(L, fix32(p)); return true;
  case TWTY_FRAME:
    lua_createtable(L, 0, 4);
    lua_pushnumber(L, fix32(p));
    lua_setfield(L, -2, "left");
    lua_pushnumber(L, fix32(p + 4));
    lua_setfield(L, -2, "top");
    lua_pushnumber(L, fix32(p + 8));
    lua_setfield(L, -2, "right");
    lua_pushnumber(L, fix32(p + 12));
    lua_setfield(L, -2, "bottom");
    return true;
  case TWTY_STR32:
  case TWTY_STR64:
  case TWTY_STR128:
  case TWTY_STR255: {
    // the length byte is the source's word: bounded by the type and the bytes there
    size_t n = std::min<size_t>({p[0], stringCapacity(type), avail - 1});
    lua_pushlstring(L, reinterpret_cast<const char*>(p + 1), n);
    return true;
  }
  default:
    return false;
  }
}

template <class Key>
void storeItem(lua_State* L, int table, Key key, TW_UINT16 type, const void* item, size_t avail,
               void (*pushKey)(lua_State*, Key))
{
  table = absIndex(L, table);
  pushKey(L, key);
  if (!pushItem(L, type, static_cast<const uint8_t*>(item), avail)) {
    lua_pop(L, 1);
    std::fprintf(stderr, "unhandled ItemTypeT: %u\n", unsigned(type));
    return;
  }
  lua_settable(L, table);
}

// A container copied out of its handle: the handle is freed before any
// script value is made (making one may raise).
std::vector<uint8_t>* takeContainer(lua_State* L, Norvel::Twain& t, TW_HANDLE h)
{
  if (!h)
    return nullptr;
  std::vector<uint8_t>* copy = nullptr;
  if (const uint8_t* p = static_cast<const uint8_t*>(t.memLock(h))) {
    copy = &makeTemporary<std::vector<uint8_t>>(L, p, p + blockSize(h));
    t.memUnlock(h);
  }
  t.memFree(h);
  return copy;
}

std::string str32(const TW_STR32 s) { return std::string(reinterpret_cast<const char*>(s + 1), std::min<size_t>(s[0], 32)); }

// ---------------------------------------------------------------------------
// The module functions.

void init(const char* manufacturer, const char* productFamily, const char* productName,
          unsigned major, unsigned minor, const char* info)
{
  if (!twainBridge)
    twainBridge = new Norvel::Twain(gwnd, manufacturer, productFamily, productName,
                                    TW_UINT16(major), TW_UINT16(minor), info);
}

int selectSource(lua_State* L, int n)
{
  if (!twainBridge || !twainBridge->SelectSource(n)) {
    lua_pushboolean(L, false);
    return 1;
  }
  const TW_IDENTITY& id = twainBridge->GetSourceIdentity();
  lua_pushboolean(L, true);
  lua_createtable(L, 0, 8);
  lua_pushnumber(L, double(id.Id));
  lua_setfield(L, -2, "Id");
  std::string s = str32(id.Manufacturer);
  lua_pushlstring(L, s.data(), s.size());
  lua_setfield(L, -2, "Manufacturer");
  s = str32(id.ProductFamily);
  lua_pushlstring(L, s.data(), s.size());
  lua_setfield(L, -2, "ProductFamily");
  s = str32(id.ProductName);
  lua_pushlstring(L, s.data(), s.size());
  lua_setfield(L, -2, "ProductName");
  lua_pushinteger(L, id.ProtocolMajor);
  lua_setfield(L, -2, "ProtocolMajor");
  lua_pushinteger(L, id.ProtocolMinor);
  lua_setfield(L, -2, "ProtocolMinor");
  lua_pushinteger(L, lua_Integer(id.SupportedGroups));
  lua_setfield(L, -2, "SupportedGroups");
  s = str32(id.Version.Info);
  lua_pushlstring(L, s.data(), s.size());
  lua_setfield(L, -2, "Version");
  return 2;
}

bool open() { return twainBridge && twainBridge->OpenSource(nullptr); }

bool close()
{
  if (!twainBridge)
    return false;
  twainBridge->CloseDS();
  return true;
}

bool disable()
{
  if (!twainBridge)
    return false;
  twainBridge->DisableSource();
  return true;
}

bool enable(bool showUI) { return twainBridge && twainBridge->EnableSource(showUI); }

int getCapability(lua_State* L, int cap)
{
  TW_CAPABILITY record{};
  if (!twainBridge || !twainBridge->GetCapability(record, TW_UINT16(cap))) {
    lua_pushboolean(L, false);
    return 1;
  }
  std::vector<uint8_t>* c = takeContainer(L, *twainBridge, record.hContainer);
  if (!c || c->size() < 2) {
    lua_pushboolean(L, false);
    return 1;
  }
  const uint8_t* p = c->data();
  const size_t size = c->size();
  const TW_UINT16 type = readAs<TW_UINT16>(p);
  const unsigned isz = twainmodule::conv2size(type);
  lua_pushboolean(L, true);
  switch (record.ConType) {
  case TWON_ARRAY:
  case TWON_ENUMERATION: {
    const size_t list = record.ConType == TWON_ARRAY ? offsetof(TW_ARRAY, ItemList)
                                                     : offsetof(TW_ENUMERATION, ItemList);
    if (size < list) {
      lua_pop(L, 1);
      lua_pushboolean(L, false);
      return 1;
    }
    // as many items as the container holds, whatever NumItems claims
    uint64_t n = readAs<TW_UINT32>(p + 4);
    n = isz ? std::min<uint64_t>(n, (size - list) / isz) : 0;
    lua_createtable(L, int(n), 2);
    if (!isz && readAs<TW_UINT32>(p + 4))
      std::fprintf(stderr, "unhandled ItemTypeT: %u\n", unsigned(type));
    for (uint64_t i = 0; i < n; ++i)
      twainmodule::conv2lt(L, -1, int(i + 1), type, p + list + i * isz, size - list - i * isz);
    if (record.ConType == TWON_ENUMERATION) {
      lua_pushinteger(L, lua_Integer(readAs<TW_UINT32>(p + 8)));
      lua_setfield(L, -2, "current");
      lua_pushinteger(L, lua_Integer(readAs<TW_UINT32>(p + 12)));
      lua_setfield(L, -2, "default");
    }
    return 2;
  }
  case TWON_ONEVALUE: {
    const size_t at = offsetof(TW_ONEVALUE, Item);
    if (type > TWTY_STR255 || size <= at ||
        !pushItem(L, type, p + at, size - at)) {
      std::fprintf(stderr, "unhandled ItemType: %u\n", unsigned(type));
      return 1;
    }
    return 2;
  }
  case TWON_RANGE: {
    if (size < sizeof(TW_RANGE)) {
      lua_pop(L, 1);
      lua_pushboolean(L, false);
      return 1;
    }
    lua_createtable(L, 0, 5);
    // each value sits in a 32-bit field of its own
    twainmodule::conv2lt(L, -1, "min", type, p + offsetof(TW_RANGE, MinValue), 4);
    twainmodule::conv2lt(L, -1, "max", type, p + offsetof(TW_RANGE, MaxValue), 4);
    twainmodule::conv2lt(L, -1, "step", type, p + offsetof(TW_RANGE, StepSize), 4);
    twainmodule::conv2lt(L, -1, "default", type, p + offsetof(TW_RANGE, DefaultValue), 4);
    twainmodule::conv2lt(L, -1, "current", type, p + offsetof(TW_RANGE, CurrentValue), 4);
    return 2;
  }
  default:
    std::fprintf(stderr, "unhandled ConType: %u\n", unsigned(record.ConType));
    return 1;
  }
}

int setCapability(lua_State* L, int cap)
{
  if (lua_isnoneornil(L, 2))
    argError(L, 2, "number or boolean");
  if (!twainBridge)
    return lua_pushboolean(L, false), 1;
  Norvel::Twain& t = *twainBridge;

  // The item type comes from the capability's current container.
  TW_CAPABILITY record{};
  int type = -1;
  if (t.GetCapability(record, TW_UINT16(cap))) {
    if (record.ConType >= TWON_ARRAY && record.ConType <= TWON_RANGE) {
      if (record.hContainer && blockSize(record.hContainer) >= 2)
        if (const void* p = t.memLock(record.hContainer))
          type = readAs<TW_UINT16>(static_cast<const uint8_t*>(p));
    } else {
      std::fprintf(stderr, "unhandled ConTypeS: %u\n", unsigned(record.ConType));
    }
    if (record.hContainer) {
      t.memUnlock(record.hContainer);
      t.memFree(record.hContainer);
    }
  }
  if (type < 0)
    return lua_pushboolean(L, false), 1;

  // The value by the item type; what a single 32-bit item cannot hold is
  // not sent.
  TW_UINT32 item = 0;
  switch (type) {
  case TWTY_INT8:
  case TWTY_UINT8:
  case TWTY_INT16:
  case TWTY_UINT16:
  case TWTY_INT32:
  case TWTY_UINT32: {
    if (!lua_isnumber(L, 2))
      argError(L, 2, "int");
    const lua_Integer v = lua_tointeger(L, 2);
    item = type == TWTY_INT8 || type == TWTY_UINT8     ? TW_UINT32(v & 0xff)
           : type == TWTY_INT16 || type == TWTY_UINT16 ? TW_UINT32(v & 0xffff)
                                                        : TW_UINT32(uint64_t(v));
    break;
  }
  case TWTY_BOOL:
    if (!lua_isboolean(L, 2) && !lua_isnumber(L, 2))
      argError(L, 2, "bool");
    item = lua_isboolean(L, 2) ? (lua_toboolean(L, 2) ? 1 : 0) : (lua_tonumber(L, 2) != 0 ? 1 : 0);
    break;
  case TWTY_FIX32: {
    if (!lua_isnumber(L, 2))
      argError(L, 2, "double");
    TW_FIX32 f = toFix32(lua_tonumber(L, 2));
    std::memcpy(&item, &f, 4);
    break;
  }
  default:
    std::fprintf(stderr, "unhandled ItemTypeS2: %d\n", type);
    return lua_pushboolean(L, false), 1;
  }

  TW_CAPABILITY set{};
  set.Cap = TW_UINT16(cap);
  set.ConType = TWON_ONEVALUE;
  set.hContainer = t.memAllocate(sizeof(TW_ONEVALUE));
  if (!set.hContainer)
    return lua_pushboolean(L, false), 1;
  auto* one = static_cast<TW_ONEVALUE*>(t.memLock(set.hContainer));
  if (!one) {
    t.memFree(set.hContainer);
    return lua_pushboolean(L, false), 1;
  }
  one->ItemType = TW_UINT16(type);
  one->Item = item;
  t.memUnlock(set.hContainer);
  bool ok = t.SetCapability(set);
  t.memFree(set.hContainer);
  lua_pushboolean(L, ok);
  return 1;
}

bool resetCapability(int cap)
{
  if (!twainBridge)
    return false;
  Norvel::Twain& t = *twainBridge;
  TW_CAPABILITY record{};
  if (!t.GetCapability(record, TW_UINT16(cap)) || !record.hContainer)
    return false;
  // The source answers the reset with a new container: the one of the
  // query is given back first.
  t.memFree(record.hContainer);
  record.hContainer = nullptr;
  bool ok = t.ResetCapability(record);
  if (record.hContainer) {
    t.memUnlock(record.hContainer);
    t.memFree(record.hContainer);
  }
  return ok;
}

bool setImageLayout(LuaTable table)
{
  if (!twainBridge)
    return false;
  TW_IMAGELAYOUT layout{};
  static const char* const keys[] = {"Left", "Top", "Right", "Bottom"};
  TW_FIX32* edges[] = {&layout.Frame.Left, &layout.Frame.Top, &layout.Frame.Right,
                       &layout.Frame.Bottom};
  for (int i = 0; i < 4; ++i)
    if (table.exists(keys[i]))
      *edges[i] = toFix32(float(table.getD<double>(keys[i])));
  return twainBridge->SetImageLayout(layout);
}

int getStatus() { return twainBridge ? int(twainBridge->status.ConditionCode) : -1; }

int getRC() { return twainBridge ? int(TW_INT16(twainBridge->lastRC)) : -1; }

int getImageInfo(lua_State* L)
{
  TW_IMAGEINFO info{};
  if (!twainBridge || !twainBridge->GetImageInfo(info))
    return 0;
  lua_createtable(L, 0, 9);
  lua_pushinteger(L, info.BitsPerPixel);
  lua_setfield(L, -2, "BitsPerPixel");
  lua_createtable(L, 8, 0);
  for (int i = 0; i < 8 && info.BitsPerSample[i] >= 1; ++i) {
    lua_pushinteger(L, info.BitsPerSample[i]);
    lua_rawseti(L, -2, i + 1);
  }
  lua_setfield(L, -2, "BitsPerSample");
  lua_pushinteger(L, info.Compression);
  lua_setfield(L, -2, "Compression");
  lua_pushinteger(L, lua_Integer(uint32_t(info.ImageLength)));
  lua_setfield(L, -2, "ImageLength");
  lua_pushinteger(L, lua_Integer(uint32_t(info.ImageWidth)));
  lua_setfield(L, -2, "ImageWidth");
  lua_pushboolean(L, info.Planar != 0);
  lua_setfield(L, -2, "Planar");
  lua_pushinteger(L, info.SamplesPerPixel);
  lua_setfield(L, -2, "SamplesPerPixel");
  lua_pushnumber(L, float(fromFix32(info.XResolution)));
  lua_setfield(L, -2, "XResolution");
  lua_pushnumber(L, float(fromFix32(info.YResolution)));
  lua_setfield(L, -2, "YResolution");
  return 1;
}

// nil when no page came: never an instance without an image.
int xferImageNative(lua_State* L)
{
  Image* page = twainBridge ? twainBridge->nativeXfer() : nullptr;
  if (!page) {
    lua_pushnil(L);
    return 1;
  }
  XImage* image = nullptr;
  try {
    image = new XImage;
    image->copyTransferOwnership(*page);
    image->setDecoderID(page->getDecoderID());
  } catch (...) {
    delete image;
    delete page;
    throw;
  }
  delete page;
  LuaClass<XImage>::packPtr(L, image);
  return 1;
}

int setupMemXfer(lua_State* L)
{
  TW_SETUPMEMXFER setup{};
  if (!twainBridge || !twainBridge->SetupMemXfer(setup))
    return 0;
  lua_createtable(L, 0, 3);
  lua_pushinteger(L, lua_Integer(setup.MinBufSize));
  lua_setfield(L, -2, "MinBufSize");
  lua_pushinteger(L, lua_Integer(setup.MaxBufSize));
  lua_setfield(L, -2, "MaxBufSize");
  lua_pushinteger(L, lua_Integer(setup.Preferred));
  lua_setfield(L, -2, "Preferred");
  return 1;
}

int xferImageMemory(XImage& image, int rows)
{
  return twainBridge ? twainBridge->memoryXfer(image, rows) : -1;
}

int pendingXfers(lua_State* L, int msg)
{
  if (!twainBridge)
    return 0;
  lua_pushinteger(L, twainBridge->PendingTransfer(TW_UINT16(msg)));
  return 1;
}

} // namespace

namespace twainmodule {

Norvel::Twain* bridge() { return twainBridge; }
lua_State* state() { return moduleState; }

unsigned conv2size(TW_UINT16 itemType) { return itemSize(itemType); }

void conv2lt(lua_State* L, int table, const char* key, TW_UINT16 itemType, const void* item,
             size_t avail)
{
  storeItem<const char*>(L, table, key, itemType, item, avail,
                         [](lua_State* S, const char* k) { lua_pushstring(S, k); });
}

void conv2lt(lua_State* L, int table, int key, TW_UINT16 itemType, const void* item, size_t avail)
{
  storeItem<int>(L, table, key, itemType, item, avail,
                 [](lua_State* S, int k) { lua_pushinteger(S, k); });
}

} // namespace twainmodule

// ---------------------------------------------------------------------------
// Notifications.

extern "C" TW_UINT16 TWAIN_callback(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16 msg,
                                    TW_MEMREF)
{
  // Any thread: only hand the message to the main loop, which wakes.
  if (Renderer* root = host::parent_renderer)
    root->postTask([msg] { TWAIN_callback2(msg); });
  return TWRC_SUCCESS;
}

void TWAIN_callback2(TW_UINT16 msg)
{
  const char* name = msg == MSG_XFERREADY ? "twainXferReady"
                     : msg == MSG_CLOSEDSREQ ? "twainCloseRequest"
                                             : nullptr;
  if (!name || !moduleState)
    return;
  try {
    Global global(name);
    Call_0(moduleState, global);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unknown error\n", name);
  }
}

// ---------------------------------------------------------------------------
// Registration.

int luaopen_twain(lua_State* L)
{
  moduleState = mainThread(L);
  lua_getfield(L, LUA_REGISTRYINDEX, kStateGuard);
  const bool guarded = !lua_isnil(L, -1);
  lua_pop(L, 1);
  if (!guarded) {
    lua_newuserdata(L, 1);
    lua_newtable(L);
    lua_pushcfunction(L, forgetState);
    lua_setfield(L, -2, "__gc");
    lua_setmetatable(L, -2);
    lua_setfield(L, LUA_REGISTRYINDEX, kStateGuard);
  }

  static const luaL_Reg functions[] = {
      {"init", FunctionWrapper<&init, Optional, Optional, Optional, Optional, Optional,
                               Optional>::Wrapper},
      {"selectSource", FunctionWrapper<&selectSource>::Wrapper},
      {"open", FunctionWrapper<&open>::Wrapper},
      {"close", FunctionWrapper<&close>::Wrapper},
      {"disable", FunctionWrapper<&disable>::Wrapper},
      {"enable", FunctionWrapper<&enable>::Wrapper},
      {"getCapability", FunctionWrapper<&getCapability>::Wrapper},
      {"setCapability", FunctionWrapper<&setCapability>::Wrapper},
      {"resetCapability", FunctionWrapper<&resetCapability>::Wrapper},
      {"setImageLayout", FunctionWrapper<&setImageLayout>::Wrapper},
      {"getStatus", FunctionWrapper<&getStatus>::Wrapper},
      {"getRC", FunctionWrapper<&getRC>::Wrapper},
      {"getImageInfo", FunctionWrapper<&getImageInfo>::Wrapper},
      {"xferImageNative", FunctionWrapper<&xferImageNative>::Wrapper},
      {"setupMemXfer", FunctionWrapper<&setupMemXfer>::Wrapper},
      {"xferImageMemory", FunctionWrapper<&xferImageMemory>::Wrapper},
      {"pendingXfers", FunctionWrapper<&pendingXfers, OptionalOr<0x701>>::Wrapper},
      {nullptr, nullptr}};
  // One at a time, in the order above; the first creates the table.
  for (const luaL_Reg* r = functions; r->name; ++r) {
    const luaL_Reg one[] = {*r, {nullptr, nullptr}};
    luaL_register(L, "TWAIN", one);
    lua_pop(L, 1);
  }
  return 0;
}

static RegisterModule twainModule("TWAIN", luaopen_twain);
