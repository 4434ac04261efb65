// Fuzz target: the Image class from scripts, every method called with up
// to seven arguments the input chooses (numbers small, huge, negative and
// NaN, strings, tables, booleans, nil, the codecs' names and option words,
// the barcode reader's type words, bytes from the input as a string or in a
// file, Path, Transform and Image objects, sheet tables) on images of every
// pixel type. A call goes to the first image, the second or what an
// earlier call returned (a new image, a written file's bytes, a table), and
// that result may also be an argument of later calls. A method may raise a script error;
// nothing may crash. The fixed setup must not raise: a target whose setup
// fails calls no method at all, so it aborts.
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
#include <unistd.h>

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
    "setLineDash", "setTransform", "setCompOp", "fillPath", "strokePath", "fillPathImage",
    "setImage", "newFromImage", "setResolution"};
const char* const kColorspaces[] = {"bw", "gray2", "gray4", "gray", "gray16", "rgb", "rgb16", "rgba"};

// What the codec registry and the writers know, and some of what they do not.
const char* const kCodecs[] = {"png", "tif", "tiff", "pdf", "PDF", "jpg", "", "pnm"};
const char* const kOptions[] = {"none",  "g4",       "group4", "deflate", "zip",    "littleendian",
                                "bigendian", "append", "ascii85", "hex",  "jpeg2000", "flate",
                                "ccitt", "fax",      "icc",    "device",  "calibrated", "recompress"};
// The barcode reader's type words, and two it does not know.
const char* const kBarTypes[] = {"any", "ean", "code128", "code39", "code25", "", "qr"};
// The setup's objects (below): paths, a transform, the other image, the
// image itself and the last call's result.
const char* const kObjects[] = {"paths[1]", "paths[2]", "paths[3]", "paths[4]",
                                "xform",    "other",    "img",      "r"};
// Whose method a call is.
const char* const kReceivers[] = {"img", "other", "r"};

template <size_t N> const char* pick(const char* const (&list)[N], uint8_t b) { return list[b % N]; }

// Bytes of the input (a 16-bit length, then as many as there are) as a
// script string literal.
std::string bytesLiteral(fuzz::Input& in)
{
  size_t n = in.u16();
  if (n > in.restSize())
    n = in.restSize();
  std::string out = "'";
  char esc[8];
  for (size_t i = 0; i < n; ++i) {
    snprintf(esc, sizeof esc, "\\%03d", in.byte());
    out += esc;
  }
  return out + "'";
}

std::string argument(fuzz::Input& in)
{
  switch (in.byte() % 20) {
  case 0: return "nil";
  case 1: return std::to_string(int(in.byte()) - 16);
  case 2: return std::to_string(int(in.u16()) - 300);
  case 3: return "0/0";
  case 4: return "1e300";
  case 5: return "-2^31";
  case 6: return "2^32 + " + std::to_string(in.byte());
  case 7: return in.byte() & 1 ? "true" : "false";
  case 8: return "'" + std::string(pick(kColorspaces, in.byte())) + "'";
  case 9: return "string.rep('\\255\\0', " + std::to_string(in.byte()) + ")";
  case 10: return "{" + std::to_string(in.byte()) + ", 2, 3}";
  case 11: return "'" + std::string(pick(kCodecs, in.byte())) + "'";
  case 12: {
    // the codecs take several option words separated by ',' (or ';', '|')
    const uint8_t a = in.byte(), b = in.byte();
    return "'" + std::string(pick(kOptions, a)) + (b & 1 ? std::string(",") + pick(kOptions, b >> 1) : "") + "'";
  }
  case 13: {
    // a deskew sheet: position, size and angle of the page
    std::string t = "{x = " + std::to_string(in.byte() % 16) + ", y = " + std::to_string(in.byte() % 16);
    t += ", width = " + std::to_string(in.byte() % 24) + ", height = " + std::to_string(in.byte() % 24);
    t += ", x_back = " + std::to_string(in.byte() % 16) + ", y_back = " + std::to_string(in.byte() % 16);
    return t + ", angle = " + std::to_string((int(in.byte()) - 128) / 8.0) + "}";
  }
  case 16: return "'" + std::string(pick(kBarTypes, in.byte())) + "'";
  case 17: return bytesLiteral(in);
  // the name of a file holding bytes of the input, or the last result
  case 18: return "file(" + bytesLiteral(in) + ")";
  case 19: return "file(r)";
  default: return pick(kObjects, in.byte());
  }
}

// Runs before the generated calls. Methods that make an image larger go
// through a guard that caps sizes, strides and scale factors (keeping
// NaN, negative and non-number arguments as they are), so a call stays
// quick and small: a generated resize or scale to 60000 x 60000 pixels
// would only time out.
const char kSetup[] = R"(
local Tolm = require('Tolm')
local path = select(2, ...)
local img = Tolm.Image.new()
img:setImageData(9, 7, 1, 8, string.rep('\120\7', 400))
img:colorspace((...))
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
-- a read image larger than the cap is dropped before its pixels are wanted
-- (a PDF page is drawn only then)
local function bounded(im, ...)
  if im:width() * im:height() > limit * limit then im:setImageData(1, 1, 1, 8, '\0') end
  return ...
end
function guard.setImage(im, ...) return bounded(im, im:setImage(...)) end
function guard.setImageMem(im, ...) return bounded(im, im:setImageMem(...)) end
-- a class function, no method: a copy of the image it is given
guard.newFromImage = Tolm.Image.newFromImage
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
-- paths to draw: a rectangle, a closed curve, nothing, arcs
local paths = {}
for i = 1, 4 do paths[i] = Tolm.Path.new() end
paths[1]:rect(1, 1, 6, 5)
paths[2]:moveTo(0, 0)
paths[2]:curve4(9, 0, 0, 7, 9, 7)
paths[2]:lineTo(2, 6)
paths[2]:close()
paths[4]:moveTo(4, 3)
paths[4]:arcTo(3, 2, 0, true, false, 5, 4)
paths[4]:lineTo(1, 1)
local xform = Tolm.Transform.new()
xform:rotate(0.3)
xform:translate(1, 2)
-- the file behind file(): the given bytes (nothing for a result that is
-- no string), its name the argument
local function file(data)
  local f = assert(io.open(path, 'wb'))
  f:write(type(data) == 'string' and data or '')
  f:close()
  return path
end
-- a call's first result, when it is an image, a string (a written file)
-- or a table (barcodes found, a deskew sheet), is the next calls' r; flags
-- and numbers would only end a chain of calls on r
local kept = {userdata = true, string = true, table = true}
local function keep(r, ok, v)
  if ok and kept[type(v)] then return v end
  return r
end
return img, other, guard, paths, xform, file, keep
)";

// The file behind file(): created once per process and unlinked at once,
// named through /proc so that nothing is left behind.
const std::string& scratchFile()
{
  static const std::string name = [] {
    const char* dir = getenv("TMPDIR");
    std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/tolm-fuzz-XXXXXX";
    const int fd = mkstemp(&tmpl[0]);
    if (fd < 0) {
      perror("image_methods: scratch file");
      std::abort();
    }
    unlink(tmpl.c_str());
    return "/proc/self/fd/" + std::to_string(fd);
  }();
  return name;
}

} // namespace

extern "C" const char* __asan_default_options()
{
  // a method whose allocation fails must leave the image intact, not end the process
  return "allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::Input in(data, size);
  const char* colorspace = pick(kColorspaces, in.byte());
  std::string script = "local img, other, guard, paths, xform, file, keep = ...\nlocal r\n";
  for (int call = 0; call < 16 && in.restSize() > 0; ++call) {
    std::string args;
    const uint8_t head = in.byte();
    const int n = head % 8;
    const char* receiver = pick(kReceivers, uint8_t(head >> 3));
    for (int i = 0; i < n; ++i)
      args += (i ? ", " : "") + argument(in);
    const std::string method = pick(kMethods, in.byte());
    script += "r = keep(r, pcall(guard." + method + " or img." + method + ", " + receiver +
              (args.empty() ? "" : ", ") + args + "))\n";
  }
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  LuaWrapper::insertLoader(L, builtin_loader_entry);
  if (luaL_loadstring(L, kSetup) != 0) {
    fprintf(stderr, "image_methods: setup: %s\n", lua_tostring(L, -1));
    std::abort();
  }
  lua_pushstring(L, colorspace);
  lua_pushstring(L, scratchFile().c_str());
  if (lua_pcall(L, 2, 7, 0) != 0) {
    fprintf(stderr, "image_methods: setup raised: %s\n", lua_tostring(L, -1));
    std::abort();
  }
  if (luaL_loadstring(L, script.c_str()) != 0) {
    fprintf(stderr, "image_methods: generated script: %s\n", lua_tostring(L, -1));
    std::abort();
  }
  lua_insert(L, -8);
  lua_pcall(L, 7, 0, 0);
  LuaWrapper::closeState(L);
  return 0;
}
