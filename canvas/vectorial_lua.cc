// The script entries of "Vectorial".
#include <cmath>
#include <cstdio>
#include <cstring>

#include "canvas/CompOp.hh"
#include "canvas/ImageDrawing.hh"
#include "canvas/ScriptImages.hh"
#include "canvas/ScriptMethod.hh"
#include "canvas/Text.hh"
#include "canvas/Vectorial.hh"
#include "canvas/XPath.hh"
#include "utility/Saturate.hh"

using namespace LuaWrapper;

namespace {

// The host's script images; none in a state without the "Image" class.
const ScriptImages* scriptImages = nullptr;

Image& imageArgument(lua_State* L, int i)
{
  if (scriptImages == nullptr)
    argError(L, i, "Image");
  return scriptImages->argument(L, i);
}

Vectorial* newSubClip(Vectorial& parent, int x, int y, int w, int h)
{
  return new Vectorial(parent, x, y, w, h);
}

// Argument i as a Transform when present and not nil.
const Transform* optionalTransform(lua_State* L, int i)
{
  if (lua_isnoneornil(L, i))
    return nullptr;
  return Unpack<Transform*, TypeError<Transform*>>::convert(L, i);
}

int setTransform(lua_State* L, Vectorial& v)
{
  v.setTransform(optionalTransform(L, 2));
  return 0;
}

int getClip(lua_State* L, Vectorial& v)
{
  double x, y, w, h;
  v.getClip(x, y, w, h);
  return pushNumbers(L, {x, y, w, h});
}

int getColor(lua_State* L, Vectorial& v)
{
  return pushNumbers(L, {v.rgba[0], v.rgba[1], v.rgba[2], v.rgba[3]});
}

int setCompOp(lua_State* L, Vectorial& v)
{
  std::string word = "src-over";
  optionalString(L, 2, word);
  int op;
  if (compOpByName(word, op))
    v.compOp = op;
  else
    fprintf(stderr, "unmatched composite op: %s\n", word.c_str());
  return 0;
}

int setLineStyle(lua_State* L, Vectorial& v) { return readLineStyle(L, v.lineCap, v.lineJoin, v.miterLimit); }
int setLineDash(lua_State* L, Vectorial& v) { return readLineDash(L, v.dashes, v.dashStart); }

// A number of a table or stack slot, or the default when it is none.
bool numberAt(lua_State* L, int index, double& out)
{
  if (!lua_isnumber(L, index))
    return false;
  out = lua_tonumber(L, index);
  return true;
}

int setGradient(lua_State* L, Vectorial& v, LuaTable)
{
  GradientLut& lut = canvasGradientLut();
  lut.remove_all();
  int count = 0;
  for (;; ++count) {
    lua_rawgeti(L, 2, count + 1);
    const bool present = !lua_isnil(L, -1);
    lua_pop(L, 1);
    if (!present)
      break;
  }
  static const char* const keys[] = {"r", "g", "b", "a", "offset"};
  double offset = 0;
  for (int i = 1; i <= count; ++i) {
    lua_rawgeti(L, 2, i);
    const int stop = lua_gettop(L);
    const bool isTable = lua_istable(L, stop);
    const bool last = i == count;
    double values[5] = {0, 0, 0, 0, last ? 1.0 : offset};
    int position = 1;
    for (int k = 0; k < 5 && isTable; ++k) {
      lua_getfield(L, stop, keys[k]);
      if (!lua_isnil(L, -1)) {
        numberAt(L, -1, values[k]);
      } else {
        lua_rawgeti(L, stop, position++);
        numberAt(L, -1, values[k]);
        lua_pop(L, 1);
      }
      lua_pop(L, 1);
    }
    lua_settop(L, stop - 1);
    double o = std::isfinite(values[4]) ? values[4] : (last ? 1.0 : offset);
    if (i == 1) {
      if (o != 0) {
        fprintf(stderr, "warning: colorGradient() first offset != 0\n");
        o = 0;
      }
    } else if (last && o != 1) {
      fprintf(stderr, "warning: colorGradient() last offset != 1\n");
      o = 1;
    }
    offset = o;
    lut.add_color(o, agg::rgba8(colorByte(values[0]), colorByte(values[1]), colorByte(values[2]),
                                colorByte(values[3])));
  }
  if (count >= 2)
    lut.build_lut();
  lua_getfield(L, 2, "type");
  v.gradientType = lua_isstring(L, -1) ? lua_tostring(L, -1) : "x";
  lua_getfield(L, 2, "mode");
  v.gradientMode = lua_isstring(L, -1) ? lua_tostring(L, -1) : "";
  lua_pop(L, 2);
  return 0;
}

// Entries 1..256 of the table at index while they exist; the rest stay
// identity.
void readLut(lua_State* L, int index, uint8_t lut[256])
{
  for (int i = 0; i < 256; ++i)
    lut[i] = (uint8_t)i;
  for (int i = 0; i < 256; ++i) {
    lua_rawgeti(L, index, i + 1);
    const bool present = !lua_isnil(L, -1);
    if (present) {
      const double d = lua_isnumber(L, -1) ? lua_tonumber(L, -1) : 0;
      lut[i] = (uint8_t)(saturate_cast<int64_t>(d) & 255);
    }
    lua_pop(L, 1);
    if (!present)
      break;
  }
}

int applyLut(lua_State* L, Vectorial& v, LuaTable)
{
  uint8_t red[256], green[256], blue[256];
  readLut(L, 2, red);
  if (lua_istable(L, 3))
    readLut(L, 3, green);
  else
    memcpy(green, red, 256);
  if (lua_istable(L, 4))
    readLut(L, 4, blue);
  else
    memcpy(blue, green, 256);
  v.applyLut(red, green, blue);
  return 0;
}

int fillPath(lua_State* L, Vectorial& v, XPath& path)
{
  double rule = 0;
  optionalNumber(L, 3, rule);
  const bool lcd = !lua_isnoneornil(L, 4) && Unpack<bool, TypeError<bool>>::convert(L, 4);
  v.fillPath(path, saturate_cast<int>(rule), lcd);
  return 0;
}

int fillPathGradient(lua_State* L, Vectorial& v, XPath& path)
{
  v.fillPathGradient(path, optionalTransform(L, 3));
  return 0;
}

int strokePathGradient(lua_State* L, Vectorial& v, XPath& path, double width)
{
  v.strokePathGradient(path, width, optionalTransform(L, 4));
  return 0;
}

int fillPathImage(lua_State* L, Vectorial& v, XPath& path)
{
  Image& image = imageArgument(L, 3);
  double alpha = 1.0;
  optionalNumber(L, 4, alpha);
  const Transform* t = optionalTransform(L, 5);
  const bool smooth = lua_isnoneornil(L, 6) || Unpack<bool, TypeError<bool>>::convert(L, 6);
  v.fillPathImage(path, image, alpha, t, smooth);
  return 0;
}

int fillText(lua_State* L, Vectorial& v, double x, double y, const Text& text)
{
  const bool lcd = lua_isnoneornil(L, 5) || Unpack<bool, TypeError<bool>>::convert(L, 5);
  v.fillText(x, y, text, lcd);
  return 0;
}

int fillTextGradient(lua_State* L, Vectorial& v, double x, double y, const Text& text)
{
  v.fillTextGradient(x, y, text, optionalTransform(L, 5));
  return 0;
}

int fillTextImage(lua_State* L, Vectorial& v, double x, double y, const Text& text)
{
  v.fillTextImage(x, y, text, imageArgument(L, 5));
  return 0;
}

} // namespace

void exportVectorialClass(lua_State* L, Renderer* const* root, const ScriptImages* images)
{
  Vectorial::rootRenderer = root;
  scriptImages = images;
  ExportToLua<CtorWrapper<Vectorial(lua_State*, LuaFunction, int, int, int, int, bool), Required,
                          Required, Required, Required, Required, Optional>>(L, "new");
  ExportToLua<Vectorial, FunctionWrapper<&newSubClip>>(L, "newSubClip");
  ExportToLua<DtorWrapper<Vectorial>>(L, "delete");
  ExportToLua<DtorWrapper<Vectorial>>(L, "__gc");
  ExportToLua<MethodWrapper<&Vectorial::newTemporary>>(L, "newTemporary");
  ExportToLua<MethodWrapper<&Vectorial::width>>(L, "width");
  ExportToLua<MethodWrapper<&Vectorial::height>>(L, "height");
  ExportToLua<MethodWrapper<&Vectorial::move>>(L, "move");
  ExportToLua<MethodWrapper<&Vectorial::resize>>(L, "resize");
  ExportToLua<MethodWrapper<&Vectorial::resizeWindow>>(L, "resizeWindow");
  ExportToLua<MethodWrapper<&Vectorial::resizeMinMax>>(L, "resizeMinMax");
  ExportToLua<MethodWrapper<&Vectorial::setInputPos>>(L, "setInputPos");
  ExportToLua<MethodWrapper<&Vectorial::setDecoration>>(L, "setDecoration");
  ExportToLua<MethodWrapper<&Vectorial::setFloating>>(L, "setFloating");
  ExportToLua<SelfFunction<Vectorial, &applyLut>>(L, "applyLut");
  ExportToLua<SelfFunction<Vectorial, &fillPath>>(L, "fillPath");
  ExportToLua<SelfFunction<Vectorial, &fillPathGradient>>(L, "fillPathGradient");
  ExportToLua<MethodWrapper<&Vectorial::strokePath>>(L, "strokePath");
  ExportToLua<SelfFunction<Vectorial, &fillText>>(L, "fillText");
  ExportToLua<MethodWrapper<&Vectorial::strokeText>>(L, "strokeText");
  ExportToLua<SelfFunction<Vectorial, &strokePathGradient>>(L, "strokePathGradient");
  ExportToLua<SelfFunction<Vectorial, &fillPathImage>>(L, "fillPathImage");
  ExportToLua<SelfFunction<Vectorial, &fillTextGradient>>(L, "fillTextGradient");
  ExportToLua<SelfFunction<Vectorial, &fillTextImage>>(L, "fillTextImage");
  ExportToLua<MethodWrapper<&Vectorial::blend>>(L, "blend");
  ExportToLua<MethodWrapper<&Vectorial::setClip>>(L, "setClip");
  ExportToLua<SelfFunction<Vectorial, &setTransform>>(L, "setTransform");
  ExportToLua<MethodWrapper<&Vectorial::setTitle>>(L, "setTitle");
  ExportToLua<MethodWrapper<&Vectorial::setHidden>>(L, "setHidden");
  ExportToLua<MethodWrapper<&Vectorial::grabPointer>>(L, "grabPointer");
  ExportToLua<MethodWrapper<&Vectorial::writeClip>>(L, "writeClip");
  ExportToLua<MethodWrapper<&Vectorial::readClip>>(L, "readClip");
  ExportToLua<SelfFunction<Vectorial, &getClip>>(L, "getClip");
  ExportToLua<MethodWrapper<&Vectorial::update>>(L, "update");
  ExportToLua<MethodWrapper<&Vectorial::sync>>(L, "sync");
  ExportToLua<MethodWrapper<&Vectorial::color>>(L, "color");
  ExportToLua<SelfFunction<Vectorial, &getColor>>(L, "getColor");
  ExportToLua<SelfFunction<Vectorial, &setCompOp>>(L, "setCompOp");
  ExportToLua<SelfFunction<Vectorial, &setLineStyle>>(L, "setLineStyle");
  ExportToLua<SelfFunction<Vectorial, &setLineDash>>(L, "setLineDash");
  ExportToLua<SelfFunction<Vectorial, &setGradient>>(L, "setGradient");
  ExportToLua<MethodWrapper<&Vectorial::blur>>(L, "blur");
}
