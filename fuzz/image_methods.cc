// Fuzz target: the Image class from scripts, every method called with
// arguments the input chooses (numbers small, huge, negative and NaN,
// strings, tables, booleans, nil) on images of every pixel type. A method
// may raise a script error; nothing may crash. The fixed setup must not
// raise: a target whose setup fails calls no method at all, so it aborts.
#include "bind/AutoRelease.hh"
#include "bind/LuaWrapper.hh"
#include "fuzz/FuzzTarget.hh"
#include "host/Modules.hh"
#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"

#include <cstdio>
#include <cstdlib>
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

// Runs before the generated calls. Methods that make an image larger go
// through a guard that caps sizes, strides and scale factors (keeping
// NaN, negative and non-number arguments as they are), so a call stays
// quick and small: a generated resize or scale to 60000 x 60000 pixels
// would only time out.
const char kSetup[] = R"(
local Tolm = require('Tolm')
local img = Tolm.Image.new()
img:setImageData(9, 7, 1, 8, string.rep('\120\7', 400))
img:colorspace(...)
local other = Tolm.Image.new()
other:setImageData(6, 5, 3, 8, string.rep('\1\200\30', 40))
assert(img:width() == 9 and img:height() == 7 and other:width() == 6 and other:height() == 5,
       'setup made no images')
local limit = 256
local function cap(v, most)
  if type(v) == 'number' and v > most then return most end
  if type(v) == 'number' and v < -most then return -most end
  return v
end
local guard = {}
function guard.setImageData(im, w, h, ...) return im:setImageData(cap(w, limit), cap(h, limit), ...) end
function guard.setImageDataSpec(im, w, h, ...)
  return im:setImageDataSpec(cap(w, limit), cap(h, limit), ...)
end
function guard.resize(im, w, h, stride)
  if type(stride) == 'number' and (stride < 0 or stride > 8 * limit) then stride = 0 end
  return im:resize(cap(w, limit), cap(h, limit), stride)
end
function guard.scale(im, sx, sy)
  local most = limit / math.max(im:width(), im:height(), 1)
  sx = cap(sx, most)
  return im:scale(sx, cap(sy, most))
end
return img, other, guard
)";

} // namespace

extern "C" const char* __asan_default_options()
{
  // a method whose allocation fails must leave the image intact, not end the process
  return "allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::Input in(data, size);
  const char* colorspace = kColorspaces[in.byte() % 8];
  std::string script = "local img, other, guard = ...\n";
  for (int call = 0; call < 16 && in.restSize() > 0; ++call) {
    std::string args;
    const int n = in.byte() % 6;
    for (int i = 0; i < n; ++i)
      args += (i ? ", " : "") + argument(in);
    const std::string method = kMethods[in.byte() % (sizeof kMethods / sizeof *kMethods)];
    script += "pcall(guard." + method + " or img." + method + ", img" + (args.empty() ? "" : ", ") +
              args + ")\n";
  }
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  LuaWrapper::insertLoader(L, builtin_loader_entry);
  if (luaL_loadstring(L, kSetup) != 0) {
    fprintf(stderr, "image_methods: setup: %s\n", lua_tostring(L, -1));
    std::abort();
  }
  lua_pushstring(L, colorspace);
  if (lua_pcall(L, 1, 3, 0) != 0) {
    fprintf(stderr, "image_methods: setup raised: %s\n", lua_tostring(L, -1));
    std::abort();
  }
  if (luaL_loadstring(L, script.c_str()) != 0) {
    fprintf(stderr, "image_methods: generated script: %s\n", lua_tostring(L, -1));
    std::abort();
  }
  lua_insert(L, -4);
  lua_pcall(L, 3, 0, 0);
  LuaWrapper::closeState(L);
  return 0;
}
