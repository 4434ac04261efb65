// Image entries that go through the codec registry: files and memory, in
// and out, including files that are missing or damaged.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "host/XImage.hh"
#include "tests/host/ximage_support.hh"
#include "tests/support/TestSupport.hh"

using ximagetest::Result;
using ximagetest::Script;

namespace {

void setString(Script& s, const char* name, const std::string& v)
{
  lua_pushlstring(s.L, v.data(), v.size());
  lua_setglobal(s.L, name);
}

} // namespace

// writeImageMem, then setImageMem and setImage of the same bytes give the
// pixels back, for each lossless format and compression.
TEST(XImageIO, RoundTrips)
{
  struct Case {
    const char* codec;
    const char* compression;
    testsupport::PixelType t;
    const char* magic;
  } cases[] = {
    {"tif", "", {1, 8}, "II*"},         {"tif", "g4", {1, 1}, "II*"},
    {"tif", "none", {3, 16}, "II*"},    {"tif", "deflate", {4, 8}, "II*"},
    {"png", "", {1, 1}, "\x89PNG"},     {"png", "", {1, 4}, "\x89PNG"},
    {"png", "", {3, 8}, "\x89PNG"},     {"png", "", {1, 16}, "\x89PNG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.codec) + " " + c.compression + " " + testsupport::typeName(c.t));
    Script s;
    Image page = testsupport::patterned(13, 5, c.t, 9, 0);
    page.resX = page.resY = 300;
    s.give("img", page);
    Result r = s.run(std::string("return img:writeImageMem('") + c.codec + "', 75, '" +
                     c.compression + "')");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.count(), 1u);
    const std::string bytes = r.str(0);
    EXPECT_EQ(bytes.compare(0, strlen(c.magic), c.magic), 0);

    setString(s, "bytes", bytes);
    r = s.run("back = Tolm.Image.new() return back:setImageMem(bytes)");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.boolean(0));
    EXPECT_TRUE(testsupport::samePixels(*s.image("back"), page));
    EXPECT_NEAR(s.image("back")->resX, 300, 1); // PNG keeps dots per metre

    // Forcing the codec by name reads the same bytes.
    r = s.run(std::string("forced = Tolm.Image.new() return forced:setImageMem(bytes, '") + c.codec +
              "')");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.boolean(0));
    EXPECT_TRUE(testsupport::samePixels(*s.image("forced"), page));

    testsupport::TempDir dir;
    const std::string file = dir.file("page");
    ASSERT_TRUE(testsupport::writeFile(file, bytes));
    setString(s, "file", file);
    r = s.run("fromFile = Tolm.Image.new() return fromFile:setImage(file)");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.boolean(0));
    EXPECT_TRUE(testsupport::samePixels(*s.image("fromFile"), page));
  }
}

TEST(XImageIO, PeersReadWhatIsWritten)
{
  REQUIRE_TOOL(tiffinfo, "tiffinfo");
  REQUIRE_TOOL(pngcheck, "pngcheck");
  REQUIRE_TOOL(qpdf, "qpdf");
  testsupport::TempDir dir;
  Script s;
  s.give("img", testsupport::patterned(40, 30, {3, 8}, 4, 0));
  s.give("bw", testsupport::patterned(40, 30, {1, 1}, 4, 0));
  struct Case {
    const char* call;
    std::string check;
  } cases[] = {
    {"bw:writeImageMem('tif', 75, 'g4')", tiffinfo + " %s | grep -q 'CCITT Group 4'"},
    {"img:writeImageMem('png', 75, '')", pngcheck + " -q %s"},
    {"img:writeImageMem('pdf', 75, '')", qpdf + " --check %s >/dev/null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    Result r = s.run(std::string("return ") + c.call);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.count(), 1u);
    const std::string file = dir.file("out");
    ASSERT_TRUE(testsupport::writeFile(file, r.str(0)));
    char cmd[512];
    snprintf(cmd, sizeof cmd, c.check.c_str(), file.c_str());
    EXPECT_EQ(testsupport::run(cmd), 0) << cmd;
  }
}

TEST(XImageIO, FailuresAreResultsNotCrashes)
{
  testsupport::TempDir dir;
  Script s;
  XImage* img = s.give("img", testsupport::patterned(16, 8, {1, 8}, 2, 0));
  Result r = s.run("return img:writeImageMem('tif', 75, '')");
  ASSERT_TRUE(r.ok);
  const std::string tiff = r.str(0);

  struct Case {
    const char* name;
    std::string bytes;
    bool diagnosed;
  } cases[] = {
    {"empty", "", false},
    {"not an image", "hello, world", false},
    {"truncated tiff", tiff.substr(0, tiff.size() / 2), true},
    {"header only", tiff.substr(0, 8), true},
    {"damaged directory", [&] {
       std::string t = tiff;
       for (size_t i = 8; i < t.size(); i += 7)
         t[i] = (char)0xff;
       return t;
     }(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.file("bad");
    ASSERT_TRUE(testsupport::writeFile(file, c.bytes));
    setString(s, "file", file);
    setString(s, "bytes", c.bytes);
    testing::internal::CaptureStderr();
    r = s.run("local a, b = Tolm.Image.new(), Tolm.Image.new() return a:setImage(file), b:setImageMem(bytes)");
    const std::string message = testing::internal::GetCapturedStderr();
    // A damaged file of a known format says what is wrong with it.
    EXPECT_EQ(message.empty(), !c.diagnosed) << message;
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.boolean(0));
    EXPECT_FALSE(r.boolean(1));
  }

  r = s.run("local a = Tolm.Image.new() return a:setImage('/nonexistent/dir/page.tif')");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(r.boolean(0));

  // Nothing to write, or no such codec: no results.
  r = s.run("return Tolm.Image.new():writeImageMem('png', 75, '')");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.count(), 0u);
  r = s.run("return img:writeImageMem('xyz', 75, '')");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.count(), 0u);
  EXPECT_EQ(img->w, 16);
}

// A PDF page is read lazily: the first pixel access renders it, and the
// pixel entries see the rendered page, not the placeholder before it. The
// PDF reader lives in the tolm executable.
TEST(XImageIO, PDFPagesDecodeOnFirstPixelAccess)
{
  const std::string tolm = testsupport::binaryDir() + "/host/tolm";
  struct stat st;
  if (stat(tolm.c_str(), &st) != 0)
    GTEST_SKIP() << "no tolm executable";
  testsupport::TempDir dir;
  const std::string script = dir.file("pdf.lua");
  ASSERT_TRUE(testsupport::writeFile(script, R"(
    local ok, Tolm = pcall(require, 'Tolm')
    if not ok then io.write('no module') return end
    local img = Tolm.Image.new()
    img:setImageData(40, 30, 3, 8, string.rep('\200\0\0', 1200))
    img:setResolution(72)
    local back = Tolm.Image.new()
    local read = back:setImageMem(img:writeImageMem('pdf', 75, ''))
    local r, g, b = back:pixel(20, 15)
    io.write(string.format('%s %.1f %.1f %.1f %s %d', tostring(read), r or -1, g or -1, b or -1,
                           tostring(back:width() > 20), back:getSPP())))"));
  std::string out;
  ASSERT_EQ(testsupport::run("cd / && " + tolm + " --script " + script + " 2>&1", &out), 0);
  if (out == "no module")
    GTEST_SKIP() << "no Tolm module";
  EXPECT_EQ(out, "true 0.8 0.0 0.0 true 3");
}
