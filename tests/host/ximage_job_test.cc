// A whole page job as a script runs it: load a skewed scan, deskew,
// binarise, read its barcode, save as Group 4 TIFF; the same steps done
// directly give the same file and the same code.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "deskew/Deskew.hh"
#include "bardecode/read_barcodes.hh"
#include "image/ImageCodec.hh"
#include "filters/optimize2bw.hh"
#include "host/XImage.hh"
#include "image/Colorspace.hh"
#include "image/Composite.hh"
#include "image/Rotate.hh"
#include "tests/support/SyntheticScan.hh"
#include "tests/host/ximage_support.hh"
#include "tests/support/TestSupport.hh"

using ximagetest::Script;

namespace {

const char kCode[] = "Tolm-7";

// A sheet-fed scan: an upright sheet with a Code 128 symbol below its text,
// turned by 2 degrees on the dark scanner background. Empty without zint.
bool makeScan(const std::string& zint, const testsupport::TempDir& dir, Image& page)
{
  const std::string symbolFile = dir.file("symbol.tif");
  if (testsupport::run(zint + " -b CODE128 --scale=2 --height=12 --notext --whitesp=10 -d '" +
                       kCode + "' -o " + symbolFile + " >/dev/null 2>&1") != 0)
    return false;
  Image symbol;
  if (ImageCodec::Read(symbolFile, symbol) == 0 || !colorspace_by_name(symbol, "gray8"))
    return false;
  synthetic::Scan scan;
  scan.noise = 2;
  Image upright = synthetic::make(scan);
  // Below the text block, inside the sheet (sheet rows 95..945 of the scan).
  copy(upright, 230, 860, symbol.w, symbol.h, symbol, 0, 0);
  Image::iterator background(&upright, false);
  background.value[0] = scan.background;
  rotate(upright, 2.0, background);
  page = upright;
  page.resX = page.resY = upright.resX;
  return true;
}

} // namespace

TEST(XImageJob, WholePageScriptMatchesTheDirectSteps)
{
  REQUIRE_TOOL(zint, "zint");
  testsupport::TempDir dir;
  Image scan;
  ASSERT_TRUE(makeScan(zint, dir, scan));
  const std::string input = dir.file("scan.tif");
  {
    std::ofstream f(input, std::ios::binary);
    ASSERT_TRUE(ImageCodec::Write(&f, scan, "tif", "", 75, "deflate"));
  }

  // The steps done directly.
  Image direct;
  ASSERT_GT(ImageCodec::Read(input, direct), 0);
  ASSERT_TRUE(deskew(direct, 10, 10));
  optimize2bw(direct, 0, 0, 0, 0, 3, 2.1);
  ASSERT_TRUE(colorspace_by_name(direct, "bw", 127));
  const auto codes = BarDecode::read_barcodes(direct, BarDecode::bardecode_types("code128"));
  std::ostringstream directTiff;
  ASSERT_TRUE(ImageCodec::Write(&directTiff, direct, "tif", "", 75, "g4"));
  ASSERT_EQ(codes.size(), 1u);
  EXPECT_EQ(codes[0].code, kCode);

  // The script.
  const std::string job = testsupport::sourceDir() + "/tests/host/scripts/ximage_page_job.lua";
  const std::string output = dir.file("page.tif");
  Script s;
  ASSERT_EQ(luaL_loadfile(s.L, job.c_str()), 0) << lua_tostring(s.L, -1);
  lua_pushstring(s.L, input.c_str());
  lua_pushstring(s.L, output.c_str());
  testing::internal::CaptureStdout();
  const int status = lua_pcall(s.L, 2, 2, 0);
  const std::string printed = testing::internal::GetCapturedStdout();
  ASSERT_EQ(status, 0) << lua_tostring(s.L, -1);
  EXPECT_STREQ(lua_tostring(s.L, -2), kCode);
  EXPECT_EQ(lua_tonumber(s.L, -1), 1);
  EXPECT_EQ(printed, std::string("code128\t") + kCode + "\n");
  EXPECT_TRUE(testsupport::readFile(output) == directTiff.str());

  // A peer agrees that it is Group 4 and has the deskewed size.
  if (std::string tiffinfo = testsupport::findTool("tiffinfo"); !tiffinfo.empty()) {
    std::string info;
    testsupport::run(tiffinfo + " " + output, &info);
    EXPECT_NE(info.find("CCITT Group 4"), std::string::npos) << info;
    EXPECT_NE(info.find("Image Width: " + std::to_string(direct.w)), std::string::npos) << info;
  }

  // Through the tolm executable, once it and the Tolm module are built.
  const std::string tolm = testsupport::binaryDir() + "/host/tolm";
  struct stat st;
  if (stat(tolm.c_str(), &st) != 0)
    return;
  const std::string probe = dir.file("probe.lua");
  ASSERT_TRUE(testsupport::writeFile(probe, "io.write(tostring((pcall(require, 'Tolm'))))\n"));
  std::string hasModule;
  testsupport::run("cd / && " + tolm + " --script " + probe + " 2>/dev/null", &hasModule);
  if (hasModule != "true")
    return;
  const std::string viaTolm = dir.file("via-tolm.tif");
  std::string out;
  const int rc = testsupport::run("cd / && " + tolm + " --script " + job + " " + input + " " +
                                    viaTolm + " 2>&1",
                                  &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find(std::string("code128\t") + kCode), std::string::npos) << out;
  EXPECT_TRUE(testsupport::readFile(viaTolm) == directTiff.str());
}
