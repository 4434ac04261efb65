#include <gtest/gtest.h>

#include <dirent.h>

#include <sstream>

#include "codecs/PDF.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

std::string writePDF(Image& image, const std::string& options)
{
  std::ostringstream s;
  EXPECT_TRUE(ImageCodec::Write(&s, image, "pdf", "pdf", 75, options));
  return s.str();
}

// The one image line of `pdfimages -list`: type w h color comp bpc enc.
std::string listImage(const std::string& pdfimages, const std::string& path)
{
  std::string out;
  run(pdfimages + " -list '" + path + "'", &out);
  std::istringstream lines(out);
  std::string line, last;
  while (std::getline(lines, line))
    last = line;
  std::istringstream words(last);
  std::string page, num, type, w, h, color, comp, bpc, enc;
  words >> page >> num >> type >> w >> h >> color >> comp >> bpc >> enc;
  return type + " " + w + "x" + h + " " + color + " " + comp + " " + bpc + " " + enc;
}

std::string firstFile(const std::string& dir, const std::string& prefix)
{
  std::string found;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name).rfind(prefix, 0) == 0)
        found = dir + "/" + e->d_name;
    closedir(d);
  }
  return found;
}

// The three images the encoding cases use, with rows padded so that
// padding never leaks into the file.
Image sample(int spp, int bps)
{
  Image image = makeImage(53, 37, spp, bps, bps == 1 ? 9 : 53 * spp * bps / 8 + 5);
  fillPattern(image, (uint32_t)(spp * 100 + bps));
  return image;
}

} // namespace

TEST(PDFImage, EncodingsListAndDecodeInPoppler)
{
  REQUIRE_TOOL(pdfimages, "pdfimages");
  REQUIRE_TOOL(qpdf, "qpdf");
  TempDir dir;
  const struct {
    int spp, bps;
    const char* options;
    const char* listed;
  } cases[] = {
    {1, 1, "", "image 53x37 gray 1 1 ccitt"},
    {1, 1, "fax,device", "image 53x37 gray 1 1 ccitt"},
    {1, 1, "flate", "image 53x37 gray 1 1 image"},
    {1, 1, "none", "image 53x37 gray 1 1 image"},
    {1, 8, "", "image 53x37 gray 1 8 image"},
    {1, 8, "hex", "image 53x37 gray 1 8 image"},
    {1, 8, "ASCII85", "image 53x37 gray 1 8 image"},
    {1, 8, "icc", "image 53x37 gray 1 8 image"},
    {1, 4, "", "image 53x37 gray 1 4 image"},
    {3, 8, "", "image 53x37 rgb 3 8 image"},
    {3, 8, "icc", "image 53x37 icc 3 8 image"},
    {3, 8, "none|device", "image 53x37 rgb 3 8 image"},
    {3, 8, "ascii85", "image 53x37 rgb 3 8 image"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.spp) + "x" + std::to_string(c.bps) + " '" + c.options + "'");
    Image image = sample(c.spp, c.bps);
    const Image original(image);
    const unsigned stride = image.rowStride;
    const std::string path = dir.file("case" + std::to_string(++n) + ".pdf");
    ASSERT_TRUE(writeFile(path, writePDF(image, c.options)));
    EXPECT_TRUE(samePixels(image, original));
    EXPECT_EQ(image.rowStride, stride);
    std::string check;
    EXPECT_EQ(run(qpdf + " --check '" + path + "' 2>&1", &check), 0) << check;
    EXPECT_EQ(listImage(pdfimages, path), c.listed);

    if (std::string(c.listed).find("ccitt") != std::string::npos) {
      // qpdf does not decode fax data; pdfimages writes its bilevel images
      // unconverted.
      const std::string prefix = "out" + std::to_string(n);
      ASSERT_EQ(run(pdfimages + " '" + path + "' '" + dir.file(prefix) + "'"), 0);
      Image decoded;
      ASSERT_TRUE(readPNM(decoded, firstFile(dir.path(), prefix)));
      EXPECT_TRUE(samePixels(decoded, image));
    } else {
      // The image is object 4 of a one-page file; qpdf undoes every filter
      // and predictor and gives the raw samples.
      std::string samples;
      ASSERT_EQ(run(qpdf + " --show-object=4 --filtered-stream-data '" + path + "'", &samples), 0);
      Image tight(image);
      ASSERT_EQ(samples.size(), (size_t)tight.stridefill() * tight.h);
      EXPECT_EQ(samples, std::string((const char*)tight.getRawData(), samples.size()));
    }
  }
}

TEST(PDFImage, SixteenBitSamplesAreBigEndianRawRows)
{
  REQUIRE_TOOL(pdfimages, "pdfimages");
  REQUIRE_TOOL(qpdf, "qpdf");
  TempDir dir;
  Image image = sample(3, 16);
  const Image original(image);
  const std::string pdf = writePDF(image, "");
  EXPECT_TRUE(samePixels(image, original)) << "the caller's samples were swapped";
  EXPECT_NE(pdf.find("/BitsPerComponent 16/Filter/FlateDecode/Length"), std::string::npos);
  ASSERT_TRUE(writeFile(dir.file("16.pdf"), pdf));
  EXPECT_EQ(listImage(pdfimages, dir.file("16.pdf")), "image 53x37 rgb 3 16 image");
  std::string samples, expected;
  ASSERT_EQ(run(qpdf + " --show-object=4 --filtered-stream-data '" + dir.file("16.pdf") + "'",
                &samples),
            0);
  for (int y = 0; y < image.h; ++y)
    for (int x = 0; x < image.w; ++x)
      for (int ch = 0; ch < 3; ++ch) {
        const int v = sampleAt(image, x, y, ch);
        expected += (char)(v >> 8);
        expected += (char)(v & 255);
      }
  EXPECT_EQ(samples, expected);
}

TEST(PDFImage, DictionaryEntries)
{
  const struct {
    int spp, bps;
    const char* options;
    std::vector<const char*> present, absent;
  } cases[] = {
    {1, 1, "", {"/ColorSpace/DeviceGray/BitsPerComponent 1/Filter/CCITTFaxDecode"
                "/DecodeParms<</K -1/Columns 53/Rows 37>>"}, {"/BlackIs1", "/Predictor"}},
    {1, 1, "calibrated", {"[/CalGray<</WhitePoint[0.950455 1 1.08905]>>]"}, {"/Gamma"}},
    {1, 8, "", {"/ColorSpace[/CalGray<</WhitePoint[0.950455 1 1.08905]/Gamma 2.2>>]"
                "/BitsPerComponent 8/Filter/FlateDecode/DecodeParms<</Predictor 12/Columns 53>>"},
     {"/Colors"}},
    {3, 8, "", {"[/CalRGB<</WhitePoint[0.950455 1 1.08905]/Gamma[2.2 2.2 2.2]/Matrix[0.412384 "
                "0.212646 0.0193176 0.35759 0.715164 0.119171 0.180496 0.0721893 0.950546]>>]",
                "/DecodeParms<</Predictor 12/Columns 53/Colors 3>>"}, {}},
    {3, 8, "hex", {"/Filter/ASCIIHexDecode/Length"}, {"/Predictor"}},
    {1, 8, "none", {"/BitsPerComponent 8/Length"}, {"/BitsPerComponent 8/Filter"}},
    // The RGB profile does not describe gray samples.
    {1, 8, "icc", {"/CalGray"}, {"/ICCBased", "/N 3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.spp) + "x" + std::to_string(c.bps) + " '" + c.options + "'");
    Image image = sample(c.spp, c.bps);
    const std::string pdf = writePDF(image, c.options);
    for (const char* text : c.present)
      EXPECT_NE(pdf.find(text), std::string::npos) << text;
    for (const char* text : c.absent)
      EXPECT_EQ(pdf.find(text), std::string::npos) << text;
  }
}

TEST(PDFImage, ICCProfileFollowsTheImage)
{
  Image image = sample(3, 8);
  const std::string pdf = writePDF(image, "icc");
  // Image 4 and its length 5; the profile 6 and its length 7 are written
  // between them.
  EXPECT_NE(pdf.find("4 0 obj\n<</Type/XObject/Subtype/Image/Width 53/Height 37"
                     "/ColorSpace[/ICCBased 6 0 R]"),
            std::string::npos);
  const size_t profile = pdf.find("endstream \nendobj\n6 0 obj\n<</N 3/Alternate/DeviceRGB"
                                  "/Filter/FlateDecode\n/Length 7 0 R>>stream\n");
  ASSERT_NE(profile, std::string::npos);
  EXPECT_LT(pdf.find("\n7 0 obj\n"), pdf.find("\n5 0 obj\n"));
  EXPECT_LT(pdf.find("4 0 obj\n"), profile);
  REQUIRE_TOOL(qpdf, "qpdf");
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.file("icc.pdf"), pdf));
  std::string profileBytes;
  ASSERT_EQ(run(qpdf + " --show-object=6 --filtered-stream-data '" + dir.file("icc.pdf") + "'",
                &profileBytes),
            0);
  ASSERT_EQ(profileBytes.size(), 3048u);
  EXPECT_EQ(profileBytes.compare(36, 4, "acsp"), 0);
}

TEST(PDFImage, WarningsAndFallbacks)
{
  const struct {
    int spp, bps;
    const char* options;
    const char* warning;
    const char* filter;
  } cases[] = {
    {1, 8, "hex,flate", "PDFCodec: Unrecognized encoding option 'flate'\n", "/ASCIIHexDecode"},
    {1, 8, "recompress", "", "/FlateDecode"},
    {1, 8, "Ccitt", "PDFCodec: ccitt needs 1 bit per sample, using the default filter\n",
     "/FlateDecode"},
    {3, 8, "jpeg2000", "PDFCodec: no jp2 codec for jpeg2000, using the default filter\n",
     "/FlateDecode"},
    {1, 1, "jpeg2000,sharp,bright",
     "PDFCodec: no jp2 codec for jpeg2000, using the default filter\n"
     "PDFCodec: Unrecognized encoding option 'bright,sharp'\n",
     "/CCITTFaxDecode"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Image image = sample(c.spp, c.bps);
    CaptureStderr();
    const std::string pdf = writePDF(image, c.options);
    EXPECT_EQ(GetCapturedStderr(), c.warning);
    EXPECT_NE(pdf.find(std::string("/Filter") + c.filter + "/"), std::string::npos);
  }
}

TEST(PDFImage, RGBAIsWrittenAsRGBWithoutTouchingTheCaller)
{
  REQUIRE_TOOL(pdfimages, "pdfimages");
  TempDir dir;
  Image image = sample(4, 8);
  const Image original(image);
  const std::string pdf = writePDF(image, "device");
  EXPECT_TRUE(samePixels(image, original));
  EXPECT_EQ(image.spp, 4);
  ASSERT_TRUE(writeFile(dir.file("rgba.pdf"), pdf));
  EXPECT_EQ(listImage(pdfimages, dir.file("rgba.pdf")), "image 53x37 rgb 3 8 image");
  ASSERT_EQ(run(pdfimages + " '" + dir.file("rgba.pdf") + "' '" + dir.file("x") + "'"), 0);
  Image decoded;
  ASSERT_TRUE(readPNM(decoded, firstFile(dir.path(), "x")));
  ASSERT_EQ(decoded.spp, 3);
  for (int y = 0; y < image.h; y += 7)
    for (int x = 0; x < image.w; x += 5)
      for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(sampleAt(decoded, x, y, ch), sampleAt(image, x, y, ch)) << x << "," << y;
}

TEST(PDFImage, RenderedPagesGiveBackThePixels)
{
  REQUIRE_TOOL(pdftocairo, "pdftocairo");
  REQUIRE_TOOL(mutool, "mutool");
  TempDir dir;
  // Cairo places an unscaled image without resampling (Splash smooths it).
  for (int bps : {1, 8, 24}) {
    const int spp = bps == 24 ? 3 : 1;
    Image image = sample(spp, bps == 24 ? 8 : bps);
    image.resX = image.resY = 144; // rendered at 144 dpi: one pixel per sample
    const std::string name = "c" + std::to_string(bps);
    ASSERT_TRUE(writeFile(dir.file(name + ".pdf"), writePDF(image, "device")));
    ASSERT_EQ(run(pdftocairo + " -png -r 144 -singlefile '" + dir.file(name + ".pdf") + "' '" +
                  dir.file(name) + "'"),
              0);
    Image png;
    ASSERT_GT(ImageCodec::Read(dir.file(name + ".png"), png), 0);
    ASSERT_EQ(png.w, image.w);
    ASSERT_EQ(png.h, image.h);
    int wrong = 0;
    for (int y = 0; y < image.h; ++y)
      for (int x = 0; x < image.w; ++x)
        for (int ch = 0; ch < 3; ++ch)
          wrong += sampleAt(png, x, y, ch) !=
                   sampleAt(image, x, y, spp == 1 ? 0 : ch) * (bps == 1 ? 255 : 1);
    EXPECT_EQ(wrong, 0) << bps;

    ASSERT_EQ(run(mutool + " draw -q -r 144 -c rgb -o '" + dir.file(name + ".ppm") + "' '" +
                  dir.file(name + ".pdf") + "' 1 2>/dev/null"),
              0);
    Image ppm;
    ASSERT_TRUE(readPNM(ppm, dir.file(name + ".ppm")));
    ASSERT_EQ(ppm.w, image.w);
    ASSERT_EQ(ppm.h, image.h);
    wrong = 0;
    for (int y = 0; y < image.h; ++y)
      for (int x = 0; x < image.w; ++x)
        for (int ch = 0; ch < 3; ++ch)
          wrong += sampleAt(ppm, x, y, ch) !=
                   sampleAt(image, x, y, spp == 1 ? 0 : ch) * (bps == 1 ? 255 : 1);
    EXPECT_EQ(wrong, 0) << bps << " (mutool)";
  }
}

TEST(PDFImage, ImagesWithoutPixelsAreRefused)
{
  Image none;
  std::ostringstream s;
  CaptureStderr();
  EXPECT_FALSE(ImageCodec::Write(&s, none, "pdf", "pdf"));
  std::ostringstream page;
  {
    PDFCodec writer(&page, "t");
    writer.beginPage(100, 100);
    Image zero = makeImage(0, 0, 1, 8);
    EXPECT_FALSE(writer.showImage(zero, 0, 0, 10, 10));
  }
  GetCapturedStderr();
  EXPECT_EQ(page.str().find("/Width 0"), std::string::npos);
  EXPECT_EQ(page.str().find("/XObject"), std::string::npos);
}
