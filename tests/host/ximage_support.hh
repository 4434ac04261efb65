// A script state with the Image class for the Image tests: scripts run in
// it, their results come back as plain values, images pass in and out as
// globals.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bind/LuaWrapper.hh"
#include "host/XImage.hh"
#include "image/Image.hh"
#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"

namespace ximagetest {

struct Value {
  int type = LUA_TNIL;
  double number = 0;
  bool boolean = false;
  std::string string;
};

struct Result {
  bool ok = false;
  std::string error;
  std::vector<Value> values;

  size_t count() const { return values.size(); }
  double num(size_t i) const { return values.at(i).number; }
  const std::string& str(size_t i) const { return values.at(i).string; }
  bool boolean(size_t i) const { return values.at(i).boolean; }
  int type(size_t i) const { return values.at(i).type; }
};

class Script {
public:
  Script()
  {
    L = luaL_newstate();
    luaL_openlibs(L);
    LuaWrapper::DeclareToLua<XImage>(L, "Tolm");
    exportImageClass(L);
    lua_settop(L, 0);
  }
  ~Script() { lua_close(L); }
  Script(const Script&) = delete;
  Script& operator=(const Script&) = delete;

  // Runs a chunk in protected mode; its results become plain values
  // (tables as their type only).
  Result run(const std::string& code)
  {
    Result r;
    const int top = lua_gettop(L);
    if (luaL_loadbuffer(L, code.data(), code.size(), "=test") != 0 ||
        lua_pcall(L, 0, LUA_MULTRET, 0) != 0) {
      const char* m = lua_tostring(L, -1);
      r.error = m ? m : "";
      lua_settop(L, top);
      return r;
    }
    r.ok = true;
    for (int i = top + 1; i <= lua_gettop(L); ++i) {
      Value v;
      v.type = lua_type(L, i);
      if (v.type == LUA_TNUMBER)
        v.number = lua_tonumber(L, i);
      else if (v.type == LUA_TBOOLEAN)
        v.boolean = lua_toboolean(L, i) != 0;
      else if (v.type == LUA_TSTRING) {
        size_t n = 0;
        const char* s = lua_tolstring(L, i, &n);
        v.string.assign(s, n);
      }
      r.values.push_back(v);
    }
    lua_settop(L, top);
    return r;
  }

  // The script owns the image from here on.
  XImage* give(const std::string& global, XImage* image)
  {
    LuaWrapper::LuaClass<XImage>::packPtr(L, image);
    lua_setglobal(L, global.c_str());
    return image;
  }
  // A copy of an Image as a new script image.
  XImage* give(const std::string& global, const Image& image)
  {
    XImage* x = new XImage();
    static_cast<Image&>(*x) = image;
    return give(global, x);
  }
  // The native object behind a global, or null.
  XImage* image(const std::string& global)
  {
    lua_getglobal(L, global.c_str());
    XImage** p = LuaWrapper::LuaClass<XImage>::getRawPtr(L, -1);
    lua_pop(L, 1);
    return p ? *p : nullptr;
  }

  lua_State* L;
};

} // namespace ximagetest
