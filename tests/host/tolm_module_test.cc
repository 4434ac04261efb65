// The Tolm module seen from scripts: its shape, the coder functions
// against data coded by zlib, Pillow and libtiff, and argument errors.
#include "host/tolm_module.hh"
#include "host/xcodec.hh"

#include <gtest/gtest.h>

#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

class TolmModule : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    fixtures = new TempDir;
    const std::string python = findTool("python3");
    if (!python.empty())
      ready = run(python + " '" + sourceDir() + "/tests/host/scripts/coder_fixtures.py' '" +
                  fixtures->path() + "'") == 0;
  }
  static void TearDownTestSuite()
  {
    delete fixtures;
    fixtures = nullptr;
  }

  void SetUp() override
  {
    L = luaL_newstate();
    ASSERT_NE(L, nullptr);
    luaL_openlibs(L);
    lua_pushcfunction(L, luaopen_tolm);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0);
    lua_pushstring(L, fixtures->path().c_str());
    lua_setglobal(L, "dir");
    ASSERT_EQ(exec("function read(name)\n"
                   "  local f = assert(io.open(dir .. '/' .. name, 'rb'))\n"
                   "  local s = f:read('*a') f:close() return s\n"
                   "end\n"
                   "function write(name, s)\n"
                   "  local f = assert(io.open(dir .. '/' .. name, 'wb'))\n"
                   "  f:write(s) f:close()\n"
                   "end"),
              "");
  }
  void TearDown() override
  {
    if (L)
      lua_close(L);
  }

  // Runs a chunk; "" on success, else the error message.
  std::string exec(const std::string& code)
  {
    if (luaL_loadbuffer(L, code.data(), code.size(), "=test") || lua_pcall(L, 0, 0, 0)) {
      std::string message = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(no message)";
      lua_pop(L, 1);
      return message;
    }
    return "";
  }

  bool needFixtures()
  {
    if (ready)
      return true;
    if (underCI())
      ADD_FAILURE() << "python3 with Pillow needed for the coder fixtures";
    return false;
  }

  lua_State* L = nullptr;
  static inline TempDir* fixtures = nullptr;
  static inline bool ready = false;
};

} // namespace

TEST_F(TolmModule, ClassesAndFunctions)
{
  EXPECT_EQ(exec("for _, c in ipairs{'Transform', 'Path', 'Image', 'Codec', 'PDFCodec', 'Text',\n"
                 "                    'Vectorial'} do\n"
                 "  assert(type(Tolm[c]) == 'table', c)\n"
                 "  assert(type(Tolm[c].__index) == 'table', c)\n"
                 "end\n"
                 "assert(type(Tolm.Codec.readImage) == 'function')\n"
                 "assert(type(Tolm.Codec.writeImage) == 'function')\n"
                 "assert(type(Tolm.Codec.new) == 'function')\n"
                 "assert(type(Tolm.PDFCodec.new) == 'function')\n"
                 "for _, f in ipairs{'unpredictPNG', 'predictPNG', 'zlibDecode', 'zlibEncode',\n"
                 "  'ccittDecode', 'lzwDecode', 'finit', 'run', 'runLoop', 'exit', 'addTimer',\n"
                 "  'addCallback', 'removeCallback'} do\n"
                 "  assert(type(Tolm[f]) == 'function', f)\n"
                 "end\n"
                 "assert(Tolm == package.loaded.Tolm)"),
            "");
}

TEST_F(TolmModule, ZlibBothWaysAgainstPython)
{
  if (!needFixtures())
    GTEST_SKIP();
  EXPECT_EQ(exec("local raw = read('raw.bin')\n"
                 "assert(Tolm.zlibDecode(read('raw.zlib')) == raw, 'zlib stream')\n"
                 "assert(Tolm.zlibDecode(read('raw.deflate'), -15) == raw, 'raw deflate')\n"
                 "assert(Tolm.zlibDecode(read('raw.zlib'), nil) == raw, 'nil window bits')\n"
                 "write('ours.zlib', Tolm.zlibEncode(raw))\n"
                 "local empty = Tolm.zlibEncode('')\n"
                 "assert(type(empty) == 'string' and #empty > 0)\n"
                 "assert(Tolm.zlibDecode(empty) == '', 'empty round trip')\n"
                 "assert(select('#', Tolm.zlibDecode('not a zlib stream')) == 0)\n"
                 "assert(select('#', Tolm.zlibDecode(read('raw.zlib'), 99)) == 0)\n"
                 // an output limit: up to it the data, past it nil and why
                 "assert(Tolm.zlibDecode(read('raw.zlib'), 15, #raw) == raw, 'limit met')\n"
                 "assert(Tolm.zlibDecode(read('raw.zlib'), nil, -1) == raw, 'no limit')\n"
                 "local none, why = Tolm.zlibDecode(read('raw.zlib'), 15, #raw - 1)\n"
                 "assert(none == nil and why == 'inflated data exceed the limit of ' ..\n"
                 "       (#raw - 1) .. ' bytes', tostring(why))\n"
                 "local bomb = Tolm.zlibEncode(string.rep('\\0', 1048576))\n"
                 "assert(select(2, Tolm.zlibDecode(bomb, 15, 0)))\n"
                 "assert(#Tolm.zlibDecode(bomb, 15, 1048576) == 1048576)"),
            "");
  REQUIRE_TOOL(python, "python3");
  // Level 9 and Python's zlib reads it back.
  std::string out;
  EXPECT_EQ(run(python + " -c \"import zlib,sys; d=open('" + fixtures->file("ours.zlib") +
                  "','rb').read(); sys.stdout.write(d[:2].hex() + ' ' + str(zlib.decompress(d) == "
                  "open('" + fixtures->file("raw.bin") + "','rb').read()))\"",
                &out),
            0);
  EXPECT_EQ(out, "78da True");
}

TEST_F(TolmModule, PNGFiltersAgainstPillow)
{
  if (!needFixtures())
    GTEST_SKIP();
  EXPECT_EQ(exec("assert(Tolm.unpredictPNG(read('gray.filtered'), 37, 10, 1, 8) ==\n"
                 "       read('gray.pixels'), 'gray')\n"
                 "assert(Tolm.unpredictPNG(read('rgb.filtered'), 57, 15, 3, 8) ==\n"
                 "       read('rgb.pixels'), 'rgb')\n"
                 "local pixels = read('gray.pixels')\n"
                 "for t = 0, 4 do\n"
                 "  local rows = Tolm.predictPNG(pixels, 37, t)\n"
                 "  assert(rows == read('gray.filter' .. t), 'filter ' .. t)\n"
                 "  assert(Tolm.unpredictPNG(rows, 37, 10, 1, 8) == pixels, 'back ' .. t)\n"
                 "end\n"
                 "assert(Tolm.predictPNG(pixels, 37, 7) == read('gray.filter2'), 'beyond 4: Up')\n"
                 "-- a partial last row is left out\n"
                 "assert(#Tolm.predictPNG(pixels .. 'xy', 37, 1) == 23 * 38)\n"
                 "assert(Tolm.predictPNG('', 5, 1) == '')\n"
                 "-- TIFF horizontal differencing: the whole data comes back\n"
                 "assert(Tolm.unpredictPNG('\\1\\1\\1\\1\\5\\1', 3, -8, 1, 8) ==\n"
                 "       '\\1\\2\\3\\1\\6\\7')"),
            "");
}

TEST_F(TolmModule, UnpredictSizeMismatch)
{
  testing::internal::CaptureStderr();
  const std::string result = exec("r = Tolm.unpredictPNG('\\0abc\\0def\\0g', 3, 0, 1, 8)");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, "");
  EXPECT_EQ(err, "unpredict size mismatch: 8 10\n");
  EXPECT_EQ(exec("assert(r == 'abcdef')"), "");
}

TEST_F(TolmModule, CCITTAgainstLibtiff)
{
  if (!needFixtures())
    GTEST_SKIP();
  // libtiff codes the stored 0 bits as white runs; the file says 0 is
  // black, so its bits come back with blackIs1.
  EXPECT_EQ(exec("local g4 = read('g4.strip')\n"
                 "local n = select('#', Tolm.ccittDecode(g4, 61, 29))\n"
                 "assert(n == 2, 'two results, got ' .. n)\n"
                 "local rows, at = Tolm.ccittDecode(g4 .. 'trailing bytes', 61, 29, -1, false,\n"
                 "                                  true, true)\n"
                 "assert(rows == read('g4.pixels'), 'rows')\n"
                 "assert(at == #g4, 'stopped at ' .. at .. ' of ' .. #g4)\n"
                 "-- height 0: until the data end\n"
                 "assert(Tolm.ccittDecode(g4, 61, 0, nil, nil, true) == rows, 'to the end')\n"
                 "-- 1 = white, the default, gives the inverse\n"
                 "local inv = Tolm.ccittDecode(g4, 61, 29)\n"
                 "assert(#inv == #rows)\n"
                 "for i = 1, #rows, 8 do\n"
                 "  assert(inv:byte(i) == 255 - rows:byte(i), 'inverse at ' .. i)\n"
                 "end\n"
                 "local none, pos = Tolm.ccittDecode('', 8, 4)\n"
                 "assert(none == '' and pos == 0)"),
            "");
}

TEST_F(TolmModule, LZWAgainstLibtiff)
{
  if (!needFixtures())
    GTEST_SKIP();
  EXPECT_EQ(exec("assert(Tolm.lzwDecode(read('lzw.strip'), true) == read('gray.pixels'))\n"
                 "-- a code beyond the table\n"
                 "assert(select('#', Tolm.lzwDecode('\\128\\75\\0\\0\\0\\0')) == 0)"),
            "");
}

TEST_F(TolmModule, ArgumentErrors)
{
  const struct {
    const char* code;
    const char* message;
  } cases[] = {
    {"Tolm.predictPNG('abc', 0, 0)", "width must be positive"},
    {"Tolm.predictPNG('abc', -3, 0)", "width must be positive"},
    {"Tolm.unpredictPNG('abc', -1, 0, 1, 8)", "row bytes must not be negative"},
    {"Tolm.unpredictPNG('abc', -7, 10, 1, 8)", "row bytes must not be negative"},
    {"Tolm.ccittDecode('', -5, 10)", "width out of range"},
    {"Tolm.ccittDecode('', 0, 10)", "width out of range"},
    {"Tolm.ccittDecode('', 2^30, 10)", "width out of range"},
    {"Tolm.ccittDecode('', 8, -1)", "height must not be negative"},
    {"Tolm.exit()", "cannot convert argument #1 from no value to int"},
    {"Tolm.addTimer(function() end)", "cannot convert argument #2 from no value to double"},
    {"Tolm.addTimer(1, 1)", "cannot convert argument #1 from number to LuaWrapper::LuaFunction"},
    {"Tolm.zlibDecode({})", "cannot convert argument #1 from table to std::string"},
    {"Tolm.zlibDecode('x', 'y')", "cannot convert argument #2 from string to int"},
    {"Tolm.lzwDecode('x', 1)", "cannot convert argument #2 from number to bool"},
    {"Tolm.ccittDecode('x', 8, 8, -1, 0)", "cannot convert argument #5 from number to bool"},
  };
  for (const auto& c : cases)
    EXPECT_NE(exec(c.code).find(c.message), std::string::npos) << c.code << ": " << exec(c.code);
}

TEST_F(TolmModule, PDFCodecFromScripts)
{
  const std::string head =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"\n"
    "\"http://www.w3.org/TR/html4/loose.dtd\">\n"
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
    "</head><body>\n";
  EXPECT_EQ(exec("local d = Tolm.PDFCodec.new(dir .. '/a.html', 'html', 'x')\n"
                 "d:beginText() d:textTo(1, 2) d:showText('Helvetica', 'no', 12) d:endText()\n"
                 "d:beginPage(10, 10)\n"
                 "d:delete() d:delete()\n"
                 "assert(not pcall(d.beginPage, d, 1, 1))\n"
                 "-- collected without delete\n"
                 "Tolm.PDFCodec.new(dir .. '/b.html', 'html', 'x')\n"
                 "collectgarbage('collect')\n"
                 "-- a text page, page number left out\n"
                 "local t = Tolm.PDFCodec.new(dir .. '/c.txt', 'txt', 'x', nil, nil, nil, nil)\n"
                 "assert(t:hocr2pdf('<span class=\"ocr_line\" title=\"bbox 10 10 90 30\">'\n"
                 "                  .. 'words</span>', 300, 300) == true)\n"
                 "t:delete()"),
            "");
  EXPECT_EQ(readFile(fixtures->file("a.html")), head + "\n</body></html>\n");
  EXPECT_EQ(readFile(fixtures->file("b.html")), head + "\n</body></html>\n");
  EXPECT_EQ(readFile(fixtures->file("c.txt")), "words\n");

  const std::string message =
    exec("local d = Tolm.PDFCodec.new(dir .. '/missing/d.pdf', 'pdf', 'x')");
  EXPECT_NE(message.find("error opening file"), std::string::npos) << message;
  const std::string wrong = exec("Tolm.PDFCodec.new(dir .. '/e.pdf', 'pdf', 'x', {})");
  EXPECT_NE(wrong.find("cannot convert argument #4 from table to std::string"), std::string::npos)
    << wrong;
  const std::string self = exec("local d = Tolm.PDFCodec.new(dir .. '/f.pdf', 'pdf', 'x')\n"
                                "d.beginPage(Tolm.Codec.new(dir .. '/g.tif'), 1, 1)");
  EXPECT_NE(self.find("cannot convert argument #1 from userdata to PDFCodec"), std::string::npos)
    << self;
}

TEST_F(TolmModule, PDFOnStandardOutputStaysOpen)
{
  testing::internal::CaptureStdout();
  const std::string result = exec("local d = Tolm.PDFCodec.new('-', 'pdf', 'scan')\n"
                                  "d:beginPage(10, 10)\n"
                                  "d:delete()\n"
                                  "io.write('after') io.stdout:flush()");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, "");
  EXPECT_EQ(out.compare(0, 9, "%PDF-1.5\n"), 0);
  EXPECT_EQ(out.substr(out.size() - 11), "%%EOF\nafter");
}

TEST_F(TolmModule, CodecFromScripts)
{
  EXPECT_EQ(exec("local img = Tolm.Image.new()\n"
                 "img:setImageData(4, 3, 1, 8, string.rep('\\200', 12))\n"
                 "local c = Tolm.Codec.new('tif:' .. dir .. '/pages')\n"
                 "for i = 0, 2 do assert(c:writeMultiImage(img, 75, '', i), i) end\n"
                 "c:delete()\n"
                 "local back = Tolm.Image.new()\n"
                 "assert(Tolm.Codec.readImage(dir .. '/pages', back, '', 0) == 3)\n"
                 "assert(Tolm.Codec.readImage(dir .. '/pages', back, '', 2) == 1)\n"
                 "assert(Tolm.Codec.readImage(dir .. '/none.tif', back, '', 0) == 0)\n"
                 "assert(back:width() == 4 and back:height() == 3)\n"
                 "local m = Tolm.Codec.new(dir .. '/missing/pages.tif')\n"
                 "assert(m:writeMultiImage(img, 75, '', 0) == false)\n"
                 "assert(Tolm.Codec.writeImage(dir .. '/one.png', img) == true)\n"
                 "assert(Tolm.Codec.writeImage(dir .. '/one.xyz', img) == false)\n"
                 "assert(Tolm.Codec.writeImage('-', img) == false, 'no codec for -')"),
            "");
  const struct {
    const char* code;
    const char* message;
  } cases[] = {
    {"Tolm.Codec.new(dir .. '/x.tif'):writeMultiImage(Tolm.Codec.new(dir .. '/y.tif'), 75, '', 0)",
     "cannot convert argument #2 from userdata to Image"},
    {"Tolm.Codec.new(dir .. '/x.tif'):writeMultiImage(Tolm.Image.new(), 75, '')",
     "cannot convert argument #5 from no value to int"},
    {"Tolm.Codec.readImage(dir .. '/x.tif', {}, '', 0)",
     "cannot convert argument #2 from table to Image"},
    {"Tolm.PDFCodec.new(dir .. '/x.pdf', 'pdf', 'x'):showImage(Tolm.Image.new(), 0, 0, 1, 1, 75)",
     "cannot convert argument #8 from no value to std::string"},
  };
  for (const auto& c : cases)
    EXPECT_NE(exec(c.code).find(c.message), std::string::npos) << c.code << ": " << exec(c.code);
  // A codec prefix before "-" writes to standard output.
  testing::internal::CaptureStdout();
  EXPECT_EQ(exec("local img = Tolm.Image.new()\n"
                 "img:setImageData(2, 2, 1, 8, 'abcd')\n"
                 "assert(Tolm.Codec.writeImage('png:-', img) == true)"),
            "");
  const std::string png = testing::internal::GetCapturedStdout();
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
}
