// Fuzz target: the Image class from scripts, every method called with
// arguments the input chooses (numbers small, huge, negative and NaN,
// strings, tables, booleans, nil) on images of every pixel type. A method
// may raise a script error; nothing may crash.
#include "bind/AutoRelease.hh"
#include "bind/LuaWrapper.hh"
#include "fuzz/FuzzTarget.hh"
#include "host/Modules.hh"
#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"

#include <string>

namespace {

const char* const kMethods[] = {
    "setImageMem", "setImageData", "setImageDataSpec", "writeImageMem", "resize", "codecID",
    "width", "height", "getSPP", "getBPS", "size", "resolution", "scale", "colorspace",
    "colorspaceRGB8ToGray8", "colorspaceGray8ToGray1", "color2mask", "mask2rgba", "rgbaFromImage",
    "colorspaceGray8DenoiseNeighbours", "floyedSteinberg", "autoInvert", "autoRotate", "normalize",
    "autoColor", "autoWhite", "brightnessContrastGamma", "lut", "histogram", "dropout", "median",
    "smooth", "borderFill", "bardecode", "applyICC", "optimize2bw", "optimize2bw2", "rotate", "crop",
    "append", "invert", "cmyk2rgb", "dePalette", "deskew", "deskewParameters", "deskewApply",
    "deskewFlatbed", "detectEmptyPage", "copy", "pixel", "setPixel", "color", "setLineStyle",
    "setLineDash", "setTransform", "setCompOp", "fillPath", "strokePath", "fillPathImage"};
const char* const kColorspaces[] = {"bw", "gray2", "gray4", "gray", "gray16", "rgb", "rgb16", "rgba"};

std::string argument(fuzz::Input& in)
{
  switch (in.byte() % 12) {
  case 0: return "nil";
  case 1: return std::to_string(int(in.byte()) - 16);
  case 2: return std::to_string(int(in.u16()) - 300);
  case 3: return "0/0";
  case 4: return "1e300";
  case 5: return "-2^31";
  case 6: return "2^32 + " + std::to_string(in.byte());
  case 7: return in.byte() & 1 ? "true" : "false";
  case 8: return "'" + std::string(kColorspaces[in.byte() % 8]) + "'";
  case 9: return "string.rep('\\255\\0', " + std::to_string(in.byte()) + ")";
  case 10: return "{" + std::to_string(in.byte()) + ", 2, 3}";
  default: return "other";
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::Input in(data, size);
  std::string script = "local Tolm = require('Tolm')\n"
                       "local img = Tolm.Image.new()\n"
                       "img:setImageData(string.rep('\\120\\7', 400), 9, 7, 1, 8)\n"
                       "img:colorspace('" + std::string(kColorspaces[in.byte() % 8]) + "')\n"
                       "local other = Tolm.Image.new()\n"
                       "other:setImageData(string.rep('\\1\\200\\30', 40), 6, 5, 3, 8)\n";
  for (int call = 0; call < 16 && in.restSize() > 0; ++call) {
    std::string args;
    const int n = in.byte() % 6;
    for (int i = 0; i < n; ++i)
      args += (i ? ", " : "") + argument(in);
    script += "pcall(img." + std::string(kMethods[in.byte() % (sizeof kMethods / sizeof *kMethods)]) +
              ", img" + (args.empty() ? "" : ", ") + args + ")\n";
  }
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  LuaWrapper::insertLoader(L, builtin_loader_entry);
  if (luaL_loadstring(L, script.c_str()) == 0)
    lua_pcall(L, 0, 0, 0);
  LuaWrapper::closeState(L);
  return 0;
}
