// A script run by the tolm executable: a multi-page TIFF file becomes a PDF
// file with a text layer, checked with independent PDF tools.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "tests/support/TestSupport.hh"

using namespace testsupport;

#ifdef TOLM_EXE

namespace {

// One line of three words per page, at 150 dpi.
std::string pageHocr(int page)
{
  std::ostringstream s;
  // word boxes about as wide as the words set at the line's height
  s << "<div class='ocr_page' title=\"bbox 0 0 600 300\">"
    << "<span class='ocr_line' title=\"bbox 20 40 460 80; baseline 0 -5\">"
    << "<span class='ocrx_word' title=\"bbox 20 40 140 80\">page</span> "
    << "<span class='ocrx_word' title=\"bbox 160 40 340 80\">number</span> "
    << "<span class='ocrx_word' title=\"bbox 370 40 460 80\">p" << page << "x</span>"
    << "</span></div>\n";
  return s.str();
}

} // namespace

TEST(TolmScript, MultiPageTiffToPdfWithTextLayer)
{
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(qpdf, "qpdf");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  REQUIRE_TOOL(pdftotext, "pdftotext");
  TempDir dir;
  REQUIRE_TOOL(tiffcp, "tiffcp");
  // Three pages written by libtiff: bilevel G4, gray LZW, RGB deflate.
  const std::string make =
    "from PIL import Image, ImageDraw\n"
    "for n, (mode, c) in enumerate((('1', 'group4'), ('L', 'tiff_lzw'),\n"
    "                               ('RGB', 'tiff_adobe_deflate'))):\n"
    "    im = Image.new(mode, (600, 300), 'white')\n"
    "    ImageDraw.Draw(im).rectangle((100, 150, 500, 250), fill='black')\n"
    "    im.save('" + dir.path() + "/p%d.tif' % n, dpi=(150, 150), compression=c)\n";
  ASSERT_TRUE(writeFile(dir.file("make.py"), make));
  ASSERT_EQ(run(python + " '" + dir.file("make.py") + "'"), 0);
  ASSERT_EQ(run(tiffcp + " '" + dir.file("p0.tif") + "' '" + dir.file("p1.tif") + "' '" +
                dir.file("p2.tif") + "' '" + dir.file("in.tif") + "'"),
            0);
  for (int page = 1; page <= 3; ++page)
    ASSERT_TRUE(writeFile(dir.file("page" + std::to_string(page) + ".hocr"), pageHocr(page)));

  const std::string pdf = dir.file("out.pdf");
  std::string out;
  EXPECT_EQ(run(std::string(TOLM_EXE) + " --script '" + sourceDir() +
                  "/tests/host/scripts/tiff2pdf.lua' '" + dir.file("in.tif") + "' '" + pdf +
                  "' '" + dir.file("page%d.hocr") + "' 2>&1",
                &out),
            0)
    << out;
  EXPECT_EQ(out, "");

  EXPECT_EQ(run(qpdf + " --check '" + pdf + "' 2>&1", &out), 0) << out;
  ASSERT_EQ(run(pdfinfo + " '" + pdf + "'", &out), 0);
  EXPECT_NE(out.find("Pages:           3\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Page size:       288 x 144 pts"), std::string::npos) << out;
  ASSERT_EQ(run(pdfimages + " -list '" + pdf + "'", &out), 0);
  std::istringstream lines(out);
  std::string line;
  std::getline(lines, line); // the two heading lines
  std::getline(lines, line);
  for (const char* want : {"1 image 600x300 gray 1 1 ccitt", "2 image 600x300 gray 1 8 image",
                           "3 image 600x300 rgb 3 8 image"}) {
    ASSERT_TRUE(std::getline(lines, line)) << out;
    std::istringstream words(line);
    std::string page, num, type, w, h, color, comp, bpc, enc;
    words >> page >> num >> type >> w >> h >> color >> comp >> bpc >> enc;
    EXPECT_EQ(page + " " + type + " " + w + "x" + h + " " + color + " " + comp + " " + bpc + " " +
                enc,
              want);
  }
  for (int page = 1; page <= 3; ++page) {
    const std::string p = std::to_string(page);
    ASSERT_EQ(run(pdftotext + " -f " + p + " -l " + p + " '" + pdf + "' -", &out), 0);
    // Word gaps are pdftotext's guess: compare the letters.
    std::string letters;
    for (char c : out)
      if (!isspace((unsigned char)c))
        letters += c;
    EXPECT_EQ(letters, "pagenumberp" + p + "x") << out;
  }
}

#endif
