#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "codecs/PDF.hh"
#include "tests/codecs/PDFWriterProbe.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// The number after `key` (and blanks) in text, or -1.
long numberAfter(const std::string& text, const std::string& key)
{
  size_t at = text.find(key);
  if (at == std::string::npos)
    return -1;
  at = text.find_first_not_of(" \t", at + key.size());
  if (at == std::string::npos || !isdigit((unsigned char)text[at]))
    return -1;
  return std::stol(text.substr(at));
}

int pdfinfoPages(const std::string& pdfinfo, const std::string& path)
{
  std::string out;
  if (run(pdfinfo + " '" + path + "'", &out) != 0)
    return -1;
  return (int)numberAfter(out, "Pages:");
}

// The whitespace-separated words of every line.
std::vector<std::vector<std::string>> tableOf(const std::string& text)
{
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    rows.emplace_back();
    for (std::string w; words >> w;)
      rows.back().push_back(w);
  }
  return rows;
}

} // namespace

TEST(PDFPage, PathColourAndLineOperators)
{
  std::ostringstream s;
  PDFCodec writer(&s, "t");
  writer.beginPage(200, 100);
  writer.moveTo(10, 20);
  writer.addLineTo(30.25, 99.96);
  writer.addCurveTo(1, 2, 3, 4, 5, 6);
  writer.closePath();
  writer.showPath(PDFCodec::fill_non_zero);
  writer.showPath(PDFCodec::fill_even_odd);
  writer.showPath((PDFCodec::filling_rule_t)0);
  writer.setFillColor(0.5, 0.5, 0.5);
  writer.setFillColor(1, 0, 0);
  writer.setLineWidth(2.25);
  const double dashes[] = {3, 1.5};
  writer.setLineDash(0.5, dashes, 2);
  writer.setLineDash(0.5, std::vector<double>{3, 1.5});
  writer.setLineDash(0, std::vector<double>());
  EXPECT_EQ(operatorsOf(writer),
            "10 80 m\n"
            "30.2 0 l\n"
            "1 98 3 96 5 94 c\n"
            "h\n"
            "f\n"
            "f*\n"
            "S\n"
            "0.5 G\n0.5 g\n"
            "1 0 0 RG\n1 0 0 rg\n"
            "2.2 w\n"
            "[ 3 1.5 ] 0.5 d\n"
            "[ 3 1.5 ] 0.5 d\n"
            "[ ] 0 d\n");
}

TEST(PDFPage, OperationsBeforeTheFirstPageAreIgnored)
{
  REQUIRE_TOOL(qpdf, "qpdf");
  TempDir dir;
  std::ostringstream s;
  CaptureStderr();
  {
    PDFCodec writer(&s, "t");
    Image image = makeImage(4, 4, 1, 8);
    EXPECT_FALSE(writer.showImage(image, 0, 0, 4, 4));
    writer.moveTo(1, 1);
    writer.setFillColor(0, 0, 0);
    writer.showPath(PDFCodec::fill_non_zero);
  }
  const std::string err = GetCapturedStderr();
  EXPECT_NE(err.find("PDFCodec: showImage before beginPage ignored\n"), std::string::npos);
  EXPECT_NE(err.find("PDFCodec: moveTo before beginPage ignored\n"), std::string::npos);
  EXPECT_EQ(s.str().find("/XObject"), std::string::npos);
  ASSERT_TRUE(writeFile(dir.file("none.pdf"), s.str()));
  std::string out;
  EXPECT_EQ(run(qpdf + " --check '" + dir.file("none.pdf") + "' 2>&1", &out), 0) << out;
}

TEST(PDFPage, ImagesAreNamedAndListedOnce)
{
  std::ostringstream s;
  PDFCodec writer(&s, "t");
  writer.beginPage(100, 100);
  Image gray = makeImage(8, 8, 1, 8), rgb = makeImage(8, 8, 3, 8);
  ASSERT_TRUE(writer.showImage(gray, 0, 0, 50, 50));
  ASSERT_TRUE(writer.showImage(gray, 10.25, 20, 50, 50.04));
  ASSERT_TRUE(writer.showImage(rgb, 0, 0, 1, 1));
  EXPECT_EQ(operatorsOf(writer), "q 50 0 0 50 0 0 cm /I1 Do Q\n"
                                 "q 50 0 0 50.04 10.25 20 cm /I2 Do Q\n"
                                 "q 1 0 0 1 0 0 cm /I3 Do Q\n");
  PDFPage* page = writer.context->currentPage;
  page->addResource(writer.context->images[0]);
  EXPECT_EQ(page->otherResources.size(), 3u);
  writer.beginPage(100, 100);
  ASSERT_TRUE(writer.showImage(gray, 0, 0, 50, 50));
  ASSERT_TRUE(writer.finish());
  const std::string pdf = s.str();
  // The first page 4 with its content 5 and length 6, images 7, 9, 11; the
  // second page 13, its image 16.
  EXPECT_NE(pdf.find("4 0 obj\n<</Type/Page/Parent 2 0 R/MediaBox[0 0 100 100]/Contents 5 0 R"
                     "/Resources<</ProcSet[/PDF/ImageB/ImageC]/XObject<</I1 7 0 R/I2 9 0 R"
                     "/I3 11 0 R>>>>>>"),
            std::string::npos);
  EXPECT_NE(pdf.find("/Contents 14 0 R/Resources<</ProcSet[/PDF/ImageB]/XObject<</I4 16 0 R>>>>>>"),
            std::string::npos);
}

TEST(PDFPage, VectorDrawingRendersWhereExpected)
{
  REQUIRE_TOOL(pdftoppm, "pdftoppm");
  REQUIRE_TOOL(qpdf, "qpdf");
  TempDir dir;
  std::ofstream file(dir.file("v.pdf"), std::ios::binary);
  {
    PDFCodec writer(&file, "t");
    writer.beginPage(72, 36); // 72 x 36 pixels at 72 dpi
    writer.setFillColor(0, 0, 0);
    // A black square in the top-left quarter (origin at the top left).
    writer.moveTo(8, 4);
    writer.addLineTo(24, 4);
    writer.addLineTo(24, 16);
    writer.addLineTo(8, 16);
    writer.closePath();
    writer.showPath(PDFCodec::fill_non_zero);
    // A red stroked line near the bottom.
    writer.setFillColor(1, 0, 0);
    writer.setLineWidth(4);
    writer.moveTo(40, 30);
    writer.addLineTo(70, 30);
    writer.showPath((PDFCodec::filling_rule_t)0);
    EXPECT_TRUE(writer.finish());
  }
  file.close();
  std::string out;
  ASSERT_EQ(run(qpdf + " --check '" + dir.file("v.pdf") + "' 2>&1", &out), 0) << out;
  ASSERT_EQ(run(pdftoppm + " -r 72 -aa no -aaVector no -singlefile '" + dir.file("v.pdf") + "' '" +
                dir.file("v") + "'"),
            0);
  Image page;
  ASSERT_TRUE(readPNM(page, dir.file("v.ppm")));
  ASSERT_EQ(page.w, 72);
  ASSERT_EQ(page.h, 36);
  const struct {
    int x, y, r, g, b;
  } probes[] = {{12, 8, 0, 0, 0},       {20, 14, 0, 0, 0},     {4, 8, 255, 255, 255},
                {12, 20, 255, 255, 255}, {50, 30, 255, 0, 0},  {50, 25, 255, 255, 255},
                {30, 8, 255, 255, 255}};
  for (const auto& p : probes) {
    EXPECT_EQ(sampleAt(page, p.x, p.y, 0), p.r) << p.x << "," << p.y;
    EXPECT_EQ(sampleAt(page, p.x, p.y, 1), p.g) << p.x << "," << p.y;
    EXPECT_EQ(sampleAt(page, p.x, p.y, 2), p.b) << p.x << "," << p.y;
  }
}

TEST(PDFPage, IncrementalUpdateAppendsPagesToAnotherToolsFile)
{
  REQUIRE_TOOL(img2pdf, "img2pdf");
  REQUIRE_TOOL(qpdf, "qpdf");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  TempDir dir;
  Image source = makeImage(30, 20, 1, 8);
  fillPattern(source);
  ASSERT_TRUE(writePNM(source, dir.file("a.pgm")));
  ASSERT_EQ(run(img2pdf + " '" + dir.file("a.pgm") + "' '" + dir.file("a.pgm") + "' -o '" +
                dir.file("base.pdf") + "'"),
            0);

  for (int order : {1, -1}) {
    const std::string path = dir.file(order > 0 ? "after.pdf" : "before.pdf");
    ASSERT_EQ(run("cp '" + dir.file("base.pdf") + "' '" + path + "'"), 0);
    // What the caller reads from the existing file: the last cross-reference
    // section, the highest object number, the page tree root and its count.
    const std::string original = readFile(path);
    const size_t sx = original.rfind("startxref");
    ASSERT_NE(sx, std::string::npos);
    const unsigned prevXref = (unsigned)std::stoul(original.substr(sx + 10));
    std::string trailer, catalog;
    ASSERT_EQ(run(qpdf + " --show-object=trailer '" + path + "'", &trailer), 0);
    ASSERT_GT(numberAfter(trailer, "/Size"), 0);
    const unsigned objBase = (unsigned)numberAfter(trailer, "/Size") - 1;
    const long root = numberAfter(trailer, "/Root");
    ASSERT_GT(root, 0);
    ASSERT_EQ(run(qpdf + " --show-object=" + std::to_string(root) + " '" + path + "'", &catalog), 0);
    const int pagesRef = (int)numberAfter(catalog, "/Pages");
    ASSERT_GT(pagesRef, 0);

    {
      std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary | std::ios::app);
      ASSERT_TRUE(file.good());
      PDFCodec writer(&file, "t", "", "", prevXref, objBase, pagesRef * order, 2);
      writer.beginPage(144, 72);
      Image bilevel = makeImage(64, 32, 1, 1);
      fillPattern(bilevel);
      ASSERT_TRUE(writer.showImage(bilevel, 0, 0, 144, 72));
      writer.setFillColor(0, 0, 1);
      writer.moveTo(0, 0);
      writer.addLineTo(10, 10);
      writer.showPath((PDFCodec::filling_rule_t)0);
      ASSERT_TRUE(writer.finish());
    }
    const std::string updated = readFile(path);
    EXPECT_EQ(updated.compare(0, original.size(), original), 0) << "existing bytes changed";
    std::string out;
    EXPECT_EQ(run(qpdf + " --check '" + path + "' 2>&1", &out), 0) << out;
    EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
    EXPECT_EQ(pdfinfoPages(pdfinfo, path), 3);
    // The new page is last or first as asked.
    ASSERT_EQ(run(pdfimages + " -list '" + path + "'", &out), 0);
    bool listed = false;
    for (const auto& row : tableOf(out))
      if (row.size() > 8 && row[0] == (order > 0 ? "3" : "1") && row[3] == "64" && row[4] == "32" &&
          row[5] == "gray" && row[7] == "1" && row[8] == "ccitt")
        listed = true;
    EXPECT_TRUE(listed) << out;
  }
}

TEST(PDFPage, OnePageDocumentSizes)
{
  const struct {
    int w, h, res;
    const char* box;
  } cases[] = {
    // whole pixels at 300 dpi are whole hundredths of a point; poppler
    // reads "595.2" a hair above it (745 px at 90 dpi), so that side is
    // written a hair below
    {2480, 3508, 300, "/MediaBox[0 0 595.19999999 841.92]"},
    {1240, 1754, 150, "/MediaBox[0 0 595.19999999 841.92]"},
    {100, 50, 0, "/MediaBox[0 0 100 50]"},
    {100, 50, 200, "/MediaBox[0 0 36 18]"},
    // a resolution that makes no page is none (72 dpi)
    {100, 50, 1000000000, "/MediaBox[0 0 100 50]"},
    {100, 50, 1, "/MediaBox[0 0 7200 3600]"},
    // only where 72 dpi brings the page into range, or makes a page where
    // the stored resolution makes none
    {1, 1, 72, "/MediaBox[0 0 1 1]"},
    {1, 1, 1000000000, "/MediaBox[0 0 1 1]"},
    {100000, 10, 300, "/MediaBox[0 0 24000 2.4]"},
  };
  for (const auto& c : cases) {
    Image image = makeImage(c.w, c.h, 1, 1);
    image.resX = image.resY = c.res;
    std::ostringstream s;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(ImageCodec::Write(&s, image, "pdf", "pdf"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(s.str().find(c.box), std::string::npos) << c.box;
    // a page no resolution brings into range says so
    const bool outside = c.w == 1 || c.w == 100000;
    EXPECT_EQ(err.find("pt, outside the 3 to 14,400 pt a PDF page may have") != std::string::npos,
              outside)
      << c.box << ": " << err;
  }
}
