// The binding between native code and scripts.
//
// Exporting a class:
//
//   // Path.hh
//   class XPath {
//    public:
//     XPath();
//     void moveTo(double x, double y);
//     void arc(double x, double y, double r, double a0, double a1, bool ccw);
//     double length() const;
//     int bounds(lua_State* L);          // pushes its own results
//   };
//   TOLM_SCRIPT_CLASS(XPath, "Path")
//
//   // Path_lua.cc
//   using namespace LuaWrapper;
//   void exportPathClass(lua_State* L) {
//     ExportToLua<CtorWrapper<XPath()>>(L, "new");                  // Tolm.Path.new()
//     ExportToLua<DtorWrapper<XPath>>(L, "delete");
//     ExportToLua<DtorWrapper<XPath>>(L, "__gc");
//     ExportToLua<MethodWrapper<&XPath::moveTo>>(L, "moveTo");      // p:moveTo(x, y)
//     ExportToLua<MethodWrapper<&XPath::arc, Required, Required, Required,
//                               Required, Required, Optional>>(L, "arc");  // ccw may be absent
//     ExportToLua<MethodWrapper<&XPath::length>>(L, "length");
//     ExportToLua<MethodWrapper<&XPath::bounds>>(L, "bounds");
//   }
//   // after DeclareToLua<XPath>(L, "Tolm") and the other classes' declarations
//
// Argument types are taken from the native signature: int, unsigned int,
// double, bool, const char*, std::string, const std::string&, LuaTable,
// LuaFunction, and T* / T& of a script class. Specs, one per script argument
// in order (missing ones are Required): Required, Optional (absent or nil
// gives the type's default), OptionalOr<80> (absent or nil gives 80),
// Lenient (anything that does not convert gives the default). A function
// whose first parameter is lua_State* pushes its own results and returns
// their count; otherwise void means no result and any other return type one
// result (bool, int, unsigned int, double, std::string, const char*,
// LuaTable, or T* of a script class, which the new instance then owns).
//
// Module functions use FunctionWrapper<&fn, Specs...>::Wrapper directly, for
// instance in a luaL_Reg array. Every wrapper is an exception barrier: a
// C++ exception from the native side becomes a script error with its text.
// Temporaries parked on the release list (makeTemporary) live until the
// wrapped call ends. Native code that keeps a LuaTable or LuaFunction
// argument beyond the call keeps `arg.keep()` and releases it later.
#pragma once

#include "bind/AutoRelease.hh"
#include "bind/Call.hh"
#include "bind/Class.hh"
#include "bind/Handles.hh"
#include "bind/Unpack.hh"
#include "bind/Wrappers.hh"

namespace LuaWrapper {

// Puts `loader` at index 1 of package.loaders, the others moved up one.
void insertLoader(lua_State* L, lua_CFunction loader);

}  // namespace LuaWrapper
