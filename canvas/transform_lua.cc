// The script class "Transform".
#include "canvas/ScriptMethod.hh"
#include "canvas/Transform.hh"

using namespace LuaWrapper;

namespace {

int get(lua_State* L, Transform& t) { return pushNumbers(L, {t.sx, t.shy, t.shx, t.sy, t.tx, t.ty}); }

int scale(lua_State* L, Transform& t, double x)
{
  double y = x;
  optionalNumber(L, 3, y);
  t.scale(x, y);
  return 0;
}

int map(lua_State* L, Transform& t, double x, double y)
{
  t.map(x, y);
  return pushNumbers(L, {x, y});
}

int scaling(lua_State* L, Transform& t)
{
  double x, y;
  t.scaling(x, y);
  return pushNumbers(L, {x, y});
}

int rotation(lua_State* L, Transform& t) { return pushNumbers(L, {t.rotation()}); }
int translation(lua_State* L, Transform& t) { return pushNumbers(L, {t.tx, t.ty}); }

} // namespace

void exportTransformClass(lua_State* L)
{
  ExportToLua<CtorWrapper<Transform()>>(L, "new");
  ExportToLua<CtorWrapper<Transform(const Transform&)>>(L, "newWithTransform");
  ExportToLua<DtorWrapper<Transform>>(L, "delete");
  ExportToLua<DtorWrapper<Transform>>(L, "__gc");
  ExportToLua<MethodWrapper<&Transform::reset>>(L, "reset");
  ExportToLua<MethodWrapper<&Transform::set>>(L, "set");
  ExportToLua<SelfFunction<Transform, &get>>(L, "get");
  ExportToLua<MethodWrapper<&Transform::rotate>>(L, "rotate");
  ExportToLua<SelfFunction<Transform, &scale>>(L, "scale");
  ExportToLua<MethodWrapper<&Transform::translate>>(L, "translate");
  ExportToLua<SelfFunction<Transform, &map>>(L, "transform");
  ExportToLua<SelfFunction<Transform, &scaling>>(L, "scaling");
  ExportToLua<SelfFunction<Transform, &rotation>>(L, "rotation");
  ExportToLua<SelfFunction<Transform, &translation>>(L, "translation");
  ExportToLua<MethodWrapper<&Transform::multiply>>(L, "multiply");
  ExportToLua<MethodWrapper<&Transform::invert>>(L, "invert");
}
