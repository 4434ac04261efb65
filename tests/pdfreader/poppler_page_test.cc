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

// Numbers the objects from 1 and adds the cross-reference table.
std::string document(const std::vector<std::string>& objs)
{
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

std::string streamObject(const std::string& dict, const std::string& data)
{
  return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
         "\nendstream";
}

// A one-page PDF drawn by hand: a black box in the lower left quarter of a
// page of the given size, turned by /Rotate.
std::string boxPdf(double wPt, double hPt, int rotate, const std::string& extra = "")
{
  std::ostringstream content, size;
  content << "0 0 0 rg 36 36 " << int(wPt) / 4 << " " << int(hPt) / 4 << " re f\n" << extra;
  size << wPt << " " << hPt;
  return document(
      {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + size.str() + "] /Rotate " +
           std::to_string(rotate) +
           " /Resources << /Font << /F1 << /Type /Font /Subtype /Type1"
           " /BaseFont /Helvetica >> >> >> /Contents 4 0 R >>",
       streamObject("", content.str())});
}

// A page of the given size in points showing one uncompressed image,
// /Im0, by the content given; resources beside the image's.
std::string imagePdf(const std::string& size, const std::string& content,
                     const std::string& imageDict, const std::string& samples,
                     const std::string& resources = "")
{
  return document({"<< /Type /Catalog /Pages 2 0 R >>",
                   "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + size +
                       "] /Resources << /XObject << /Im0 5 0 R >> " + resources +
                       " >> /Contents 4 0 R >>",
                   streamObject("", content),
                   streamObject("/Type /XObject /Subtype /Image " + imageDict, samples)});
}

// Page 1 of the file as pdftoppm draws it.
bool pdftoppmPage(const std::string& pdftoppm, const std::string& pdf, int dpi, TempDir& dir,
                  Image& ref)
{
  return run(pdftoppm + " -r " + std::to_string(dpi) + " -f 1 -l 1 -singlefile " + pdf + " " +
             dir.file("ref")) == 0 &&
         readPNM(ref, dir.file("ref.ppm"));
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
    Image ref;
    ASSERT_TRUE(pdftoppmPage(pdftoppm, pdf, dpi, dir, ref));
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
    Image ref;
    ASSERT_TRUE(pdftoppmPage(pdftoppm, pdf, c.dpi, dir, ref));
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

// An image on the device's pixels at its own size is the page as written:
// its samples copied, not resampled (Splash's filter moved edges a fraction
// of a pixel, so a page read back and written again drifted each time),
// clipped by a rectangle when one is set. Pages written with two decimals
// (134 x 138 px at 300 dpi is 32.16 x 33.12 pt, read a hair larger) keep
// their pixel count. Any other image is drawn as pdftoppm draws it.
TEST(PopplerPage, ImagesAtTheirOwnSizeAreCopied)
{
  enum Kind { Gray, Rgb, Bits };
  constexpr int kAsPdftoppm = -1000, P = kAsPdftoppm;
  struct Case {
    const char* name;
    Kind kind;
    int w, h; // the image's pixels
    int dpi;
    std::string size, content;
    int x, y; // where the image lands, from the top left; P: the page as pdftoppm draws it
    int clipX0, clipY0, clipX1, clipY1; // in device pixels; all 0: none
    int samplesRows; // rows of samples present
  } cases[] = {
      {"gray at 300 dpi", Gray, 134, 138, 300, "32.16 33.12", "q 32.16 0 0 33.12 0 0 cm /Im0 Do Q",
       0, 0, 0, 0, 0, 0, 138},
      {"rgb at 300 dpi", Rgb, 134, 138, 300, "32.16 33.12", "q 32.16 0 0 33.12 0 0 cm /Im0 Do Q",
       0, 0, 0, 0, 0, 0, 138},
      {"1 bit at 300 dpi", Bits, 134, 138, 300, "32.16 33.12",
       "q 32.16 0 0 33.12 0 0 cm /Im0 Do Q", 0, 0, 0, 0, 0, 0, 138},
      {"placed inside the page", Rgb, 40, 30, 72, "100 100", "q 40 0 0 30 10 20 cm /Im0 Do Q", 10,
       50, 0, 0, 0, 0, 30},
      {"running off the page", Gray, 40, 30, 72, "100 100", "q 40 0 0 30 70 -10 cm /Im0 Do Q", 70,
       80, 0, 0, 0, 0, 30},
      {"running off the top left", Rgb, 40, 30, 72, "100 100", "q 40 0 0 30 -10 85 cm /Im0 Do Q",
       -10, -15, 0, 0, 0, 0, 30},
      {"clipped by a rectangle", Gray, 40, 30, 72, "100 100",
       "q 15 25 20 10 re W n 40 0 0 30 10 20 cm /Im0 Do Q", 10, 50, 15, 65, 35, 75, 30},
      {"short of samples", Gray, 40, 30, 72, "100 100", "q 40 0 0 30 10 20 cm /Im0 Do Q", 10, 50,
       0, 0, 0, 0, 12},
      {"scaled", Gray, 100, 100, 72, "72 72", "q 72 0 0 72 0 0 cm /Im0 Do Q", P, P, 0, 0, 0, 0,
       100},
      {"half a pixel off", Rgb, 40, 30, 72, "100 100", "q 40 0 0 30 10.5 20 cm /Im0 Do Q", P, P,
       0, 0, 0, 0, 30},
      {"turned", Gray, 40, 30, 72, "100 100", "q 0 40 -30 0 60 20 cm /Im0 Do Q", P, P, 0, 0, 0,
       0, 30},
      {"clipped through pixels", Gray, 40, 30, 72, "100 100",
       "q 15.5 25 20 10.25 re W n 40 0 0 30 10 20 cm /Im0 Do Q", P, P, 0, 0, 0, 0, 30},
      {"clipped by a triangle", Gray, 40, 30, 72, "100 100",
       "q 30 35 m 30 45 l 40 35 l h W n 40 0 0 30 10 20 cm /Im0 Do Q", P, P, 0, 0, 0, 0, 30},
      {"half opaque", Gray, 40, 30, 72, "100 100",
       "q /G0 gs 40 0 0 30 10 20 cm /Im0 Do Q", P, P, 0, 0, 0, 0, 30},
  };
  // hard edges everywhere: a sample differs from each neighbour
  auto sample = [](int x, int y, int c) {
    return (x * 37 + y * 91 + (x * y) % 13 * 11 + c * 85) & 255;
  };
  auto bit = [](int x, int y) { return (x / 3 + y / 2) % 3 == 0; };
  REQUIRE_TOOL(pdftoppm, "pdftoppm");
  TempDir dir;
  for (const Case& c : cases) {
    std::string samples, dict;
    const int rowBytes = c.kind == Bits ? (c.w + 7) / 8 : c.w * (c.kind == Rgb ? 3 : 1);
    for (int y = 0; y < c.samplesRows; ++y) {
      std::string row(size_t(rowBytes), '\0');
      for (int x = 0; x < c.w; ++x) {
        if (c.kind == Bits)
          row[size_t(x / 8)] = char(row[size_t(x / 8)] | (bit(x, y) ? 0x80 >> (x % 8) : 0));
        else if (c.kind == Rgb)
          for (int k = 0; k < 3; ++k)
            row[size_t(x * 3 + k)] = char(sample(x, y, k));
        else
          row[size_t(x)] = char(sample(x, y, 0));
      }
      samples += row;
    }
    dict = "/Width " + std::to_string(c.w) + " /Height " + std::to_string(c.h) +
           (c.kind == Bits  ? " /ColorSpace /DeviceGray /BitsPerComponent 1"
            : c.kind == Rgb ? " /ColorSpace /DeviceRGB /BitsPerComponent 8"
                            : " /ColorSpace /DeviceGray /BitsPerComponent 8");
    const std::string pdf = imagePdf(c.size, c.content + "\n", dict, samples,
                                     "/ExtGState << /G0 << /ca 0.5 >> >>");
    Image ours;
    ASSERT_TRUE(render(pdf, ours, 1, c.dpi)) << c.name;
    if (c.x == kAsPdftoppm) {
      const std::string file = dir.file("in.pdf");
      ASSERT_TRUE(writeFile(file, pdf));
      Image ref;
      ASSERT_TRUE(pdftoppmPage(pdftoppm, file, c.dpi, dir, ref));
      ASSERT_EQ(ours.w, ref.w) << c.name;
      ASSERT_EQ(ours.h, ref.h) << c.name;
      int off = 0;
      for (int y = 0; y < ours.h; ++y)
        for (int x = 0; x < ours.w; ++x)
          if (pixelAt(ours, x, y) != pixelAt(ref, x, y) && off++ < 5)
            ADD_FAILURE() << c.name << " at " << x << "," << y << ": " << pixelAt(ours, x, y)[0]
                          << " vs " << pixelAt(ref, x, y)[0];
      EXPECT_EQ(off, 0) << c.name;
      continue;
    }
    const int pw = c.dpi == 300 ? c.w : 100, ph = c.dpi == 300 ? c.h : 100;
    ASSERT_EQ(ours.w, pw) << c.name;
    ASSERT_EQ(ours.h, ph) << c.name;
    const bool clipped = c.clipX1 > 0;
    int off = 0;
    for (int y = 0; y < ph; ++y)
      for (int x = 0; x < pw; ++x) {
        const int ix = x - c.x, iy = y - c.y;
        // samples missing read as white (poppler's end of data is all ones)
        const bool shown = ix >= 0 && iy >= 0 && ix < c.w && iy < c.samplesRows &&
                           (!clipped || (x >= c.clipX0 && x < c.clipX1 && y >= c.clipY0 &&
                                         y < c.clipY1));
        std::vector<int> want(3, 255);
        if (shown && c.kind == Bits)
          want.assign(3, bit(ix, iy) ? 255 : 0);
        else if (shown && c.kind == Rgb)
          want = {sample(ix, iy, 0), sample(ix, iy, 1), sample(ix, iy, 2)};
        else if (shown)
          want.assign(3, sample(ix, iy, 0));
        if (pixelAt(ours, x, y) != want && off++ < 3)
          ADD_FAILURE() << c.name << " at " << x << "," << y << ": " << pixelAt(ours, x, y)[0]
                        << " for " << want[0];
      }
    EXPECT_EQ(off, 0) << c.name;
  }
}

// An image copied at its own size is coloured as Splash colours the same
// image: against pdftoppm drawing it at 4 times the size, where Splash
// repeats each sample in a 4 x 4 block without filtering, the block
// centres. CMYK images (plain, with an inverted /Decode, 4 bits, a CMYK
// JPEG) convert a line at a time in Splash, which rounds otherwise than
// one pixel at a time; the other spaces stand beside them.
TEST(PopplerPage, CopiedImagesInSplashColours)
{
  REQUIRE_TOOL(pdftoppm, "pdftoppm");
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(img2pdf, "img2pdf");
  TempDir dir;
  constexpr int W = 40, H = 30;
  auto sample = [](int x, int y, int c) {
    return (x * 37 + y * 91 + (x * y) % 13 * 11 + c * 71) & 255;
  };
  auto samples = [&](int comps, int bits) {
    std::string out;
    for (int y = 0; y < H; ++y) {
      std::string row(size_t((W * comps * bits + 7) / 8), '\0');
      for (int i = 0; i < W * comps; ++i) {
        const int v = sample(i / comps, y, i % comps) >> (8 - bits);
        const int bit = i * bits;
        row[size_t(bit / 8)] = char(row[size_t(bit / 8)] | (v << (8 - bits - bit % 8)));
      }
      out += row;
    }
    return out;
  };
  const std::string place = "q 40 0 0 30 10 20 cm /Im0 Do Q\n";
  auto raw = [&](const std::string& space, int comps, int bits, const std::string& extra = "") {
    return imagePdf("100 100", place,
                    "/Width 40 /Height 30 /ColorSpace " + space + " /BitsPerComponent " +
                        std::to_string(bits) + extra,
                    samples(comps, bits));
  };
  struct Case {
    const char* name;
    std::string pdf;
  } cases[] = {
      {"DeviceCMYK", raw("/DeviceCMYK", 4, 8)},
      {"DeviceCMYK inverted", raw("/DeviceCMYK", 4, 8, " /Decode [1 0 1 0 1 0 1 0]")},
      {"DeviceCMYK at 4 bits", raw("/DeviceCMYK", 4, 4)},
      {"DeviceRGB", raw("/DeviceRGB", 3, 8)},
      {"Lab", raw("[/Lab << /WhitePoint [0.9505 1 1.089] /Range [-100 100 -100 100] >>]", 3, 8)},
      {"Indexed CMYK", raw("[/Indexed /DeviceCMYK 255 <" + [&] {
                             std::string hex;
                             char b[3];
                             for (int i = 0; i < 256 * 4; ++i) {
                               std::snprintf(b, sizeof b, "%02x", (i * 53 + i / 4 * 29) & 255);
                               hex += b;
                             }
                             return hex;
                           }() + ">]",
                           1, 8)},
      {"CMYK JPEG", ""},
  };
  // the JPEG by Pillow, its page by img2pdf (which marks the Adobe
  // inversion with /Decode): 40 x 30 pt at 72 dpi
  ASSERT_EQ(run(python + " -c \"from PIL import Image\n"
                         "im = Image.new('CMYK', (40, 30))\n"
                         "im.putdata([((x * 37 + y * 91) & 255, (x * 11 + y * 5) & 255, "
                         "(x * y) & 255, (x + y * 3) & 255) for y in range(30) for x in range(40)])\n"
                         "im.save('" + dir.file("cmyk.jpg") + "', dpi=(72, 72), quality=90)\" && " +
                img2pdf + " " + dir.file("cmyk.jpg") + " -o " + dir.file("jpeg.pdf")),
            0);
  std::ifstream jpeg(dir.file("jpeg.pdf"), std::ios::binary);
  cases[6].pdf.assign(std::istreambuf_iterator<char>(jpeg), {});
  for (const Case& c : cases) {
    const bool isJpeg = std::string(c.name) == "CMYK JPEG";
    const int x0 = isJpeg ? 0 : 10, y0 = isJpeg ? 0 : 50;
    Image ours, ref;
    ASSERT_TRUE(render(c.pdf, ours, 1, 72)) << c.name;
    const std::string file = dir.file("in.pdf");
    ASSERT_TRUE(writeFile(file, c.pdf));
    ASSERT_TRUE(pdftoppmPage(pdftoppm, file, 288, dir, ref)) << c.name;
    ASSERT_EQ(ref.w, ours.w * 4) << c.name;
    int off = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const std::vector<int> a = pixelAt(ours, x0 + x, y0 + y),
                               b = pixelAt(ref, (x0 + x) * 4 + 2, (y0 + y) * 4 + 2);
        if (a != b && off++ < 3)
          ADD_FAILURE() << c.name << " at " << x << "," << y << ": " << a[0] << "," << a[1] << ","
                        << a[2] << " vs " << b[0] << "," << b[1] << "," << b[2];
      }
    EXPECT_EQ(off, 0) << c.name;
  }
}
