// The script class "Path".
#include "canvas/ScriptMethod.hh"
#include "canvas/XPath.hh"

using namespace LuaWrapper;

namespace {

int getLast(lua_State* L, XPath& p)
{
  double x, y;
  p.getLast(x, y);
  return pushNumbers(L, {x, y});
}

int getBounds(lua_State* L, XPath& p)
{
  double x1, y1, x2, y2;
  p.getBounds(x1, y1, x2, y2);
  return pushNumbers(L, {x1, y1, x2, y2});
}

int roundedRect(lua_State* L, XPath& p, double x1, double y1, double x2, double y2, double r)
{
  double a, b, c;
  const bool hasA = optionalNumber(L, 7, a), hasB = optionalNumber(L, 8, b),
             hasC = optionalNumber(L, 9, c);
  if (hasA && hasB && hasC)
    p.roundedRect(x1, y1, x2, y2, r, &a, &b, &c);
  else
    p.roundedRect(x1, y1, x2, y2, r);
  return 0;
}

} // namespace

// Shared with the other drawing classes: style arguments from index 2.
int readLineStyle(lua_State* L, int& cap, int& join, float& miterLimit)
{
  std::string word;
  if (optionalString(L, 2, word))
    lineCapByName(word, cap);
  if (optionalString(L, 3, word))
    lineJoinByName(word, join);
  double limit;
  if (optionalNumber(L, 4, limit))
    miterLimit = (float)limit;
  return 0;
}

int readLineDash(lua_State* L, std::vector<float>& dashes, float& start)
{
  std::vector<double> values;
  double v;
  for (int i = 2; optionalNumber(L, i, v); ++i)
    values.push_back(v);
  lineDashFromValues(values, dashes, start);
  return 0;
}

namespace {

int setLineStyle(lua_State* L, XPath& p) { return readLineStyle(L, p.lineCap, p.lineJoin, p.miterLimit); }
int setLineDash(lua_State* L, XPath& p) { return readLineDash(L, p.dashes, p.dashStart); }

} // namespace

void exportPathClass(lua_State* L)
{
  ExportToLua<CtorWrapper<XPath()>>(L, "new");
  ExportToLua<DtorWrapper<XPath>>(L, "delete");
  ExportToLua<DtorWrapper<XPath>>(L, "__gc");
  ExportToLua<MethodWrapper<&XPath::moveTo>>(L, "moveTo");
  ExportToLua<MethodWrapper<&XPath::lineTo>>(L, "lineTo");
  ExportToLua<MethodWrapper<&XPath::lineRel>>(L, "lineRel");
  ExportToLua<MethodWrapper<&XPath::arcRel>>(L, "arcRel");
  ExportToLua<MethodWrapper<&XPath::arcTo>>(L, "arcTo");
  ExportToLua<MethodWrapper<&XPath::transform>>(L, "transform");
  ExportToLua<MethodWrapper<&XPath::curve3>>(L, "curve3");
  ExportToLua<MethodWrapper<&XPath::curve3Rel>>(L, "curve3Rel");
  ExportToLua<MethodWrapper<&XPath::curve4>>(L, "curve4");
  ExportToLua<MethodWrapper<&XPath::curve4Rel>>(L, "curve4Rel");
  ExportToLua<MethodWrapper<&XPath::rect>>(L, "rect");
  ExportToLua<SelfFunction<XPath, &roundedRect>>(L, "roundedRect");
  ExportToLua<MethodWrapper<&XPath::close>>(L, "close");
  ExportToLua<MethodWrapper<&XPath::reset>>(L, "reset");
  ExportToLua<MethodWrapper<&XPath::reset>>(L, "clear");
  ExportToLua<SelfFunction<XPath, &getLast>>(L, "getLast");
  ExportToLua<MethodWrapper<&XPath::isEmpty>>(L, "isEmpty");
  ExportToLua<MethodWrapper<&XPath::clip>>(L, "clip");
  ExportToLua<MethodWrapper<&XPath::strokePath>>(L, "strokePath");
  ExportToLua<SelfFunction<XPath, &getBounds>>(L, "getBounds");
  ExportToLua<MethodWrapper<&XPath::addToPath>>(L, "addToPath");
  ExportToLua<SelfFunction<XPath, &setLineStyle>>(L, "setLineStyle");
  ExportToLua<SelfFunction<XPath, &setLineDash>>(L, "setLineDash");
}
