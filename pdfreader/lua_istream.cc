// The "istream" script class.
#include "pdfreader/lua_istream.hh"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "bind/LuaWrapper.hh"
#include "utility/Saturate.hh"

namespace {

// Reads are made in pieces of this size, so a script asking for more bytes
// than the stream holds costs only what is there.
constexpr std::streamsize kChunk = 64 * 1024;

void readBytes(std::istream& in, std::string& out, uint64_t limit)
{
  while (out.size() < limit && in) {
    const std::streamsize n = (std::streamsize)std::min<uint64_t>(limit - out.size(), kChunk);
    const size_t old = out.size();
    out.resize(old + (size_t)n);
    in.read(&out[old], n);
    out.resize(old + (size_t)in.gcount());
    if (in.gcount() < n)
      break;
  }
}

} // namespace

LuaIstream::LuaIstream(std::istream* stream, bool owned) : stream(stream), owned(owned) {}

LuaIstream::~LuaIstream()
{
  if (stream)
    close();
}

void LuaIstream::close()
{
  if (owned && stream != &std::cin)
    delete stream;
  stream = nullptr;
}

int LuaIstream::read(lua_State* L)
{
  if (!stream) {
    lua_pushnil(L);
    return 1;
  }
  std::istream& in = *stream;
  std::string out;
  const int type = lua_type(L, 2);
  if (type == LUA_TNONE || type == LUA_TNIL) {
    if (!in.good()) {
      lua_pushboolean(L, 0);
      return 1;
    }
    std::getline(in, out);
  } else if (type == LUA_TNUMBER) {
    if (!in.good()) {
      lua_pushboolean(L, 0);
      return 1;
    }
    const int64_t n = saturate_cast<int64_t>(lua_tonumber(L, 2));
    if (n > 0)
      readBytes(in, out, (uint64_t)n);
  } else if (type == LUA_TSTRING && std::string(lua_tostring(L, 2)) == "*all") {
    readBytes(in, out, UINT64_MAX);
  } else {
    lua_pushstring(L, "unsupported read mode");
    return lua_error(L);
  }
  lua_pushlstring(L, out.data(), out.size());
  return 1;
}

int LuaIstream::seek(lua_State* L, const std::string& mode, double offset)
{
  lua_pushnil(L);
  if (!stream)
    return 1;
  std::istream& in = *stream;
  in.clear();
  const std::streamoff off = saturate_cast<int64_t>(offset);
  if (mode == "set")
    in.seekg(off, std::ios::beg);
  else if (mode == "cur")
    in.seekg(off, std::ios::cur);
  else if (mode == "end")
    in.seekg(off, std::ios::end);
  else
    std::cerr << "unknown seek mode: " << mode << std::endl;
  const std::streamoff pos = in.fail() ? -1 : (std::streamoff)in.tellg();
  if (pos < 0)
    return 1;
  lua_pop(L, 1);
  lua_pushinteger(L, (lua_Integer)pos);
  return 1;
}

void exportIstreamClass(lua_State* L)
{
  using namespace LuaWrapper;
  DeclareToLua<LuaIstream>(L, "_G");
  ExportToLua<DtorWrapper<LuaIstream>>(L, "delete");
  ExportToLua<DtorWrapper<LuaIstream>>(L, "__gc");
  ExportToLua<MethodWrapper<&LuaIstream::read>>(L, "read");
  ExportToLua<MethodWrapper<&LuaIstream::seek>>(L, "seek");
  ExportToLua<MethodWrapper<&LuaIstream::close>>(L, "close");
}
