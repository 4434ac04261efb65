// Page drawing through poppler, checked against pdftoppm on the same pages.
#include "pdfreader/poppler_page.hh"

#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace testsupport;

namespace {

// A one-page PDF drawn by hand: a black box in the lower left quarter of a
// page of the given size, turned by /Rotate.
std::string boxPdf(double wPt, double hPt, int rotate, const std::string& extra = "")
{
  std::ostringstream content, size;
  content << "0 0 0 rg 36 36 " << int(wPt) / 4 << " " << int(hPt) / 4 << " re f\n" << extra;
  size << wPt << " " << hPt;
  std::string c = content.str();
  std::vector<std::string> objs = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + size.str() + "] /Rotate " +
          std::to_string(rotate) +
          " /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>"
          " /Contents 4 0 R >>",
      "<< /Length " + std::to_string(c.size()) + " >>\nstream\n" + c + "endstream"};
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objs.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
  }
  size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objs.size() + 1) + "\n0000000000 65535 f \n";
  char row[32];
  for (size_t o : offsets) {
    std::snprintf(row, sizeof row, "%010zu 00000 n \n", o);
    out += row;
  }
  out += "trailer << /Size " + std::to_string(objs.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

bool render(const std::string& pdf, Image& image, int page, int dpi)
{
  std::istringstream in(pdf);
  return pdfreader::renderPage(in, image, page, dpi);
}

} // namespace

TEST(PopplerPage, A4At300DpiHasTheSizeOfItsCropBox)
{
  Image image;
  ASSERT_TRUE(render(boxPdf(595, 842, 0), image, 1, 300));
  EXPECT_EQ(image.w, 2480); // as pdftoppm: 2479.17 rounded up
  EXPECT_EQ(image.h, 3509);
  EXPECT_EQ(image.spp, 3);
  EXPECT_EQ(image.bps, 8);
  EXPECT_EQ(image.resX, 300);
  EXPECT_EQ(image.resY, 300);
  // white paper, the black box near the lower left corner
  EXPECT_EQ(pixelAt(image, 10, 10), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(pixelAt(image, 300, image.h - 300), (std::vector<int>{0, 0, 0}));
}

TEST(PopplerPage, RotatedPageComesOutAsAViewerShowsIt)
{
  Image image;
  ASSERT_TRUE(render(boxPdf(200, 100, 90), image, 1, 72));
  EXPECT_EQ(image.w, 100);
  EXPECT_EQ(image.h, 200);
  // turned clockwise: the box at the page's lower left lands top left
  EXPECT_EQ(pixelAt(image, 45, 45), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(pixelAt(image, 90, 190), (std::vector<int>{255, 255, 255}));
}

TEST(PopplerPage, MatchesPdftoppm)
{
  REQUIRE_TOOL(pdftoppm, "pdftoppm");
  TempDir dir;
  // text, curves and colour: something anti-aliased to compare
  std::string pdf = dir.file("doc.pdf");
  ASSERT_TRUE(writeFile(pdf, boxPdf(300, 200, 0,
                                    "0.2 0.4 0.9 rg 150 100 m 200 180 250 20 290 100 c f\n"
                                    "0.8 0.1 0.1 rg BT /F1 28 Tf 20 160 Td (Tolm page) Tj ET\n")));
  for (int dpi : {72, 150}) {
    Image ours;
    std::ifstream in(pdf, std::ios::binary);
    ASSERT_TRUE(pdfreader::renderPage(in, ours, 1, dpi));
    ASSERT_EQ(run(pdftoppm + " -r " + std::to_string(dpi) + " -f 1 -l 1 -singlefile " + pdf + " " +
                  dir.file("ref")), 0);
    Image ref;
    ASSERT_TRUE(readPNM(ref, dir.file("ref.ppm")));
    ASSERT_EQ(ours.w, ref.w);
    ASSERT_EQ(ours.h, ref.h);
    size_t off = 0, total = 0;
    for (int y = 0; y < std::min(ours.h, ref.h); ++y)
      for (int x = 0; x < std::min(ours.w, ref.w); ++x) {
        std::vector<int> a = pixelAt(ours, x, y), b = pixelAt(ref, x, y);
        for (int c = 0; c < 3; ++c, ++total)
          if (std::abs(a[c] - b[c]) > 8)
            ++off;
      }
    EXPECT_LT(off, total / 500) << "dpi " << dpi;
  }
}

// A page a fraction of a point short of a whole size: sized as pdftoppm
// sizes it (rounded up), its last column and row drawn, not left white.
TEST(PopplerPage, FractionalPageSizeAsPdftoppm)
{
  REQUIRE_TOOL(pdftoppm, "pdftoppm");
  TempDir dir;
  const std::string pdf = dir.file("frac.pdf");
  // a gray fill over the whole page
  ASSERT_TRUE(writeFile(pdf, boxPdf(611.97, 791.97, 0, "0.5 g 0 0 612 792 re f\n")));
  struct Case {
    int dpi, w, h;
  } cases[] = {{300, 2550, 3300}, {72, 612, 792}, {150, 1275, 1650}};
  for (const Case& c : cases) {
    Image ours;
    std::ifstream in(pdf, std::ios::binary);
    ASSERT_TRUE(pdfreader::renderPage(in, ours, 1, c.dpi));
    ASSERT_EQ(run(pdftoppm + " -r " + std::to_string(c.dpi) + " -singlefile " + pdf + " " +
                  dir.file("ref")), 0);
    Image ref;
    ASSERT_TRUE(readPNM(ref, dir.file("ref.ppm")));
    EXPECT_EQ(ours.w, ref.w) << c.dpi;
    EXPECT_EQ(ours.h, ref.h) << c.dpi;
    EXPECT_EQ(ours.w, c.w) << c.dpi;
    EXPECT_EQ(ours.h, c.h) << c.dpi;
    // the last pixel is part of the page: not white
    EXPECT_EQ(pixelAt(ours, ours.w - 1, ours.h - 1), pixelAt(ref, ref.w - 1, ref.h - 1)) << c.dpi;
    EXPECT_LT(pixelAt(ours, ours.w - 1, ours.h - 1)[0], 255) << c.dpi;
  }
}

TEST(PopplerPage, FailuresLeaveNoPixels)
{
  struct Case {
    const char* name;
    std::string data;
    int page;
    int dpi;
  } cases[] = {
      {"not a pdf", "%!PS-Adobe-3.0\nshowpage\n", 1, 72},
      {"empty", "", 1, 72},
      {"page past the end", boxPdf(100, 100, 0), 2, 72},
      {"page zero", boxPdf(100, 100, 0), 0, 72},
      {"bad resolution", boxPdf(100, 100, 0), 1, 0},
      {"huge page", boxPdf(14400, 14400, 0), 1, 3000},
      {"truncated", boxPdf(100, 100, 0).substr(0, 60), 1, 72},
  };
  for (const Case& c : cases) {
    Image image;
    EXPECT_FALSE(render(c.data, image, c.page, c.dpi)) << c.name;
    EXPECT_EQ(image.getRawData(), nullptr) << c.name;
  }
}
