// The script class "istream": an input stream handed to the PDF reading
// script, with line, byte-count and whole-rest reads and seeks.
#pragma once

#include <istream>
#include <string>

#include "bind/Class.hh"
#include "lua/lua.h"

class LuaIstream {
public:
  // With `owned` the stream is deleted by close() (standard input never is);
  // otherwise close() only ends the script's access to it.
  explicit LuaIstream(std::istream* stream, bool owned = true);
  virtual ~LuaIstream();
  LuaIstream(const LuaIstream&) = delete;
  LuaIstream& operator=(const LuaIstream&) = delete;

  // read(): one line without its line feed; read(n): up to n bytes;
  // read("*all"): the rest. false when a line or bytes are asked of a
  // stream in a failed state; nil once closed.
  int read(lua_State* L);
  // "set", "cur" or "end" plus an offset; the new position, or nil when the
  // stream cannot go there (or is closed).
  int seek(lua_State* L, const std::string& mode, double offset);
  void close();

  std::istream* stream;
  bool owned;
};

TOLM_SCRIPT_CLASS(LuaIstream, "istream")

// Declares "istream" as a global class of L with its methods.
void exportIstreamClass(lua_State* L);
