// The script class "Text".
#include "canvas/ScriptMethod.hh"
#include "canvas/Text.hh"
#include "canvas/XPath.hh"

using namespace LuaWrapper;

namespace {

int getFonts(lua_State* L, Text&)
{
  std::string filter;
  const bool filtered = optionalString(L, 2, filter);
  const std::vector<std::string> fonts = Text::getFonts(filtered ? filter.c_str() : nullptr);
  lua_createtable(L, (int)fonts.size(), 0);
  for (size_t i = 0; i < fonts.size(); ++i) {
    lua_pushlstring(L, fonts[i].data(), fonts[i].size());
    lua_rawseti(L, -2, (int)i + 1);
  }
  return 1;
}

int setFont(lua_State* L, Text& t, const std::string& name, const std::string& style, double size)
{
  std::string data;
  optionalString(L, 5, data);
  lua_pushboolean(L, t.setFont(name, style, size, data));
  return 1;
}

int getAscenderDescender(lua_State* L, Text& t) { return pushNumbers(L, {t.ascender, t.descender}); }

int getAdvancements(lua_State* L, Text& t)
{
  double x, y;
  t.getAdvancements(x, y);
  return pushNumbers(L, {x, y});
}

int getKerning(lua_State* L, Text& t)
{
  double x, y;
  t.getKerning(x, y);
  return pushNumbers(L, {x, y});
}

int getBounds(lua_State* L, Text& t)
{
  int x, y, w, h;
  t.getBounds(x, y, w, h);
  return pushNumbers(L, {(double)x, (double)y, (double)w, (double)h});
}

} // namespace

void exportTextClass(lua_State* L)
{
  ExportToLua<CtorWrapper<Text()>>(L, "new");
  ExportToLua<DtorWrapper<Text>>(L, "delete");
  ExportToLua<DtorWrapper<Text>>(L, "__gc");
  ExportToLua<SelfFunction<Text, &getFonts>>(L, "getFonts");
  ExportToLua<MethodWrapper<&Text::setHinting>>(L, "setHinting");
  ExportToLua<SelfFunction<Text, &setFont>>(L, "setFont");
  ExportToLua<SelfFunction<Text, &getAscenderDescender>>(L, "getAscenderDescender");
  ExportToLua<MethodWrapper<&Text::selectGlyph>>(L, "selectGlyph");
  ExportToLua<SelfFunction<Text, &getAdvancements>>(L, "getAdvancements");
  ExportToLua<SelfFunction<Text, &getKerning>>(L, "getKerning");
  ExportToLua<SelfFunction<Text, &getBounds>>(L, "getBounds");
  ExportToLua<MethodWrapper<&Text::addToPath>>(L, "addToPath");
}
