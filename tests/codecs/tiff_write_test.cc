#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "codecs/Codecs.hh"
#include "codecs/TIFF.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// In this order: each file's pattern seed is its place in the run.
const PixelType kTypes[] = {{1, 1}, {1, 2}, {1, 4}, {1, 8}, {1, 16}, {3, 8}, {3, 16}, {4, 8}};

// Every pixel as 16-bit RGBA, little-endian: what ImageMagick's
// "-depth 16 -endian LSB rgba:" gives for any TIFF it reads.
std::string canonicalRGBA16(const Image& img)
{
  const int max = (1 << img.bps) - 1;
  std::string out;
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x)
      for (int c = 0; c < 4; ++c) {
        int v = c == 3 ? (img.spp == 4 ? sampleAt(img, x, y, 3) : max)
                       : sampleAt(img, x, y, img.spp == 1 ? 0 : c);
        v = (int)((int64_t)v * 65535 / max);
        out += (char)(v & 0xff);
        out += (char)(v >> 8);
      }
  return out;
}

std::string tiffinfoWarnings(const std::string& tiffinfo, const std::string& file,
                             std::string* info = nullptr)
{
  std::string err;
  EXPECT_EQ(run(tiffinfo + " -D " + file + " 2>&1 >" + file + ".info", &err), 0) << file;
  if (info)
    *info = readFile(file + ".info");
  return err;
}

int countOf(const std::string& haystack, const std::string& needle)
{
  int n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + 1))
    ++n;
  return n;
}

// An output that cannot seek, like a pipe.
class PipeOut : public std::streambuf {
public:
  std::string data;
protected:
  int_type overflow(int_type c) override
  {
    if (!traits_type::eq_int_type(c, traits_type::eof()))
      data += traits_type::to_char_type(c);
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override
  {
    data.append(s, (size_t)n);
    return n;
  }
};

} // namespace

// Every pixel type with every writer option: tiffinfo -D reads the file
// without a word of complaint, and both we and libtiff (through
// ImageMagick) read back the pixels written.
TEST(TIFFWrite, EveryPixelTypeAndOptionReadsBackInLibtiff)
{
  REQUIRE_TOOL(tiffinfo, "tiffinfo");
  REQUIRE_TOOL(convert, "convert");
  TempDir tmp;
  const char* options[] = {"", "none", "deflate", "g4", "bigendian", "BigEndian,none"};
  std::string script;
  struct Written {
    std::string file, trace;
    Image image;
  };
  std::vector<std::unique_ptr<Written>> written;
  for (const PixelType& t : kTypes)
    for (const char* opt : options) {
      auto w = std::make_unique<Written>();
      w->trace = typeName(t) + " [" + opt + "]";
      w->file = tmp.file(typeName(t) + "-" + std::to_string(written.size()) + ".tif");
      // Every other image with padded rows: the writer must not copy them.
      const unsigned padded = (29 * t.spp * t.bps + 7) / 8 + 5;
      w->image = makeImage(29, 13, t.spp, t.bps, written.size() % 2 ? padded : 0, 0x5A);
      fillPattern(w->image, (uint32_t)written.size());
      w->image.setResolution(300, 150);
      testing::internal::CaptureStderr();
      EXPECT_TRUE(ImageCodec::Write(w->file, w->image, 75, opt)) << w->trace;
      const std::string err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(err.empty(), !(std::string(opt) == "g4" && t.bps * t.spp != 1)) << err;
      script += convert + " " + w->file + " -depth 16 -endian LSB rgba:" + w->file + ".rgba\n";
      written.push_back(std::move(w));
    }
  ASSERT_TRUE(writeFile(tmp.file("convert.sh"), script));
  ASSERT_EQ(run("sh " + tmp.file("convert.sh")), 0);
  for (const auto& w : written) {
    SCOPED_TRACE(w->trace);
    EXPECT_EQ(tiffinfoWarnings(tiffinfo, w->file), "");
    Image back;
    ASSERT_EQ(ImageCodec::Read(w->file, back), 1);
    EXPECT_TRUE(samePixels(back, w->image));
    EXPECT_EQ(back.resX, 300);
    EXPECT_EQ(back.resY, 150);
    EXPECT_TRUE(readFile(w->file + ".rgba") == canonicalRGBA16(w->image));
  }
}

TEST(TIFFWrite, OptionsDecideCompressionPhotometricAndByteOrder)
{
  REQUIRE_TOOL(tiffinfo, "tiffinfo");
  TempDir tmp;
  struct Case {
    int spp, bps;
    const char* opts;
    std::vector<std::string> expected;
    const char* magic;
  } cases[] = {
      {1, 1, "", {"CCITT Group 4", "min-is-white"}, "II"},
      {1, 1, "none", {"Compression Scheme: None", "min-is-black"}, "II"},
      {1, 1, "G4,none", {"CCITT Group 4"}, "II"},
      {1, 8, "", {"AdobeDeflate", "min-is-black"}, "II"},
      {1, 8, "g4", {"AdobeDeflate"}, "II"}, // Group 4 only codes 1-bit rows
      {3, 8, "bigendian,littleendian", {"RGB color", "Samples/Pixel: 3"}, "II"},
      {3, 16, "bigendian", {"Bits/Sample: 16"}, "MM"},
      {4, 8, "zip", {"Extra Samples: 1<unassoc-alpha>"}, "II"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.opts);
    Image img = makeImage(16, 4, c.spp, c.bps, 0, 0);
    fillPattern(img);
    const std::string file = tmp.file("x.tif");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(ImageCodec::Write(file, img, 75, c.opts));
    testing::internal::GetCapturedStderr();
    std::string info;
    EXPECT_EQ(tiffinfoWarnings(tiffinfo, file, &info), "");
    for (const std::string& e : c.expected)
      EXPECT_NE(info.find(e), std::string::npos) << e << "\n" << info;
    EXPECT_EQ(readFile(file).substr(0, 2), c.magic);
  }

  // Only the resolutions that are set.
  Image img = makeImage(4, 4, 1, 8, 0, 0);
  img.resX = 0;
  img.resY = 300;
  std::stringstream s;
  ASSERT_TRUE(ImageCodec::Write(&s, img, "tif", ""));
  Image back;
  ASSERT_EQ(ImageCodec::Read(&s, back, "tif"), 1);
  EXPECT_EQ(back.resX, 0);
  EXPECT_EQ(back.resY, 300);
}

TEST(TIFFWrite, QualityChoosesTheDeflateLevel)
{
  Image img = makeImage(64, 64, 1, 8, 0, 0);
  fillPattern(img);
  std::string sizes[2];
  for (int q : {100, 0}) {
    std::ostringstream s;
    ASSERT_TRUE(ImageCodec::Write(&s, img, "tif", "", q, "deflate"));
    sizes[q == 0] = s.str();
  }
  // Level 0: stored blocks, bigger than the pixels; level 9 is not.
  EXPECT_GT(sizes[0].size(), 64u * 64u);
  EXPECT_NE(sizes[0], sizes[1]);
  std::ostringstream bad;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ImageCodec::Write(&bad, img, "tif", "", -1000, "deflate"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "failed to init zlib encoder\n");
}

TEST(TIFFWrite, MultiPageAndAppend)
{
  REQUIRE_TOOL(tiffinfo, "tiffinfo");
  TempDir tmp;
  Image pages[3] = {makeImage(10, 5, 1, 1, 0, 0), makeImage(7, 3, 1, 8, 0, 0),
                    makeImage(9, 4, 3, 8, 0, 0)};
  for (int i = 0; i < 3; ++i)
    fillPattern(pages[i], (uint32_t)i + 3);
  const std::string file = tmp.file("multi.tif");
  {
    std::ofstream out(file, std::ios::binary);
    std::unique_ptr<ImageCodec> w(ImageCodec::MultiWrite(&out, "", "tif"));
    ASSERT_TRUE(w);
    for (int i = 0; i < 2; ++i)
      ASSERT_TRUE(w->Write(pages[i], 75, "", i));
  }
  // Appending takes the file's byte order whatever the options say.
  {
    std::fstream io(file, std::ios::in | std::ios::out | std::ios::binary);
    std::unique_ptr<ImageCodec> w(ImageCodec::MultiWrite(&io, "", "tif", "append"));
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->Write(pages[2], 75, "bigendian", 0));
  }
  std::string info;
  EXPECT_EQ(tiffinfoWarnings(tiffinfo, file, &info), "");
  EXPECT_EQ(countOf(info, "TIFF Directory at offset"), 3);
  EXPECT_EQ(countOf(info, "Subfile Type: multi-page document"), 2);
  EXPECT_EQ(readFile(file).substr(0, 2), "II");
  Image back;
  EXPECT_EQ(ImageCodec::Read(file, back), 3);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(ImageCodec::Read(file, back, "", i), i ? 1 : 3);
    EXPECT_TRUE(samePixels(back, pages[i])) << i;
  }

  // Appending to an empty file starts one; to a file that is not TIFF it
  // refuses and leaves the file alone.
  const std::string empty = tmp.file("empty.tif");
  writeFile(empty, "");
  {
    std::fstream io(empty, std::ios::in | std::ios::out | std::ios::binary);
    std::unique_ptr<ImageCodec> w(ImageCodec::MultiWrite(&io, "", "tif", "append"));
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->Write(pages[1], 75, "append", 0));
  }
  EXPECT_EQ(ImageCodec::Read(empty, back), 1);
  const std::string text = tmp.file("text.tif");
  writeFile(text, "not a tiff at all");
  {
    std::fstream io(text, std::ios::in | std::ios::out | std::ios::binary);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ImageCodec::MultiWrite(&io, "", "tif", "append"), nullptr);
    testing::internal::GetCapturedStderr();
  }
  EXPECT_EQ(readFile(text), "not a tiff at all");
  // Nor to a file cut short: linked to the last whole page, the new one
  // would drop the pages after the cut unnoticed.
  const std::string cut = tmp.file("cut.tif");
  const std::string multi = readFile(file);
  writeFile(cut, multi.substr(0, multi.size() - 20));
  {
    std::fstream io(cut, std::ios::in | std::ios::out | std::ios::binary);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ImageCodec::MultiWrite(&io, "", "tif", "append"), nullptr);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("TIFF: cannot append: the file is cut short"), std::string::npos) << said;
  }
  EXPECT_EQ(readFile(cut), multi.substr(0, multi.size() - 20));

  // A later page index on a fresh stream: a warning, and a valid file.
  std::stringstream late;
  std::unique_ptr<ImageCodec> w(ImageCodec::MultiWrite(&late, "tif", ""));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(w->Write(pages[0], 75, "", 2));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Warning: TIFF file not started with page 0, is: 2\n");
  EXPECT_EQ(ImageCodec::Read(&late, back, "tif"), 1);
  EXPECT_TRUE(samePixels(back, pages[0]));
}

// An output that cannot seek gets the file built in memory first.
TEST(TIFFWrite, OutputThatCannotSeek)
{
  Image a = makeImage(33, 7, 1, 1, 0, 0), b = makeImage(5, 5, 1, 16, 0, 0);
  fillPattern(a);
  fillPattern(b);
  PipeOut pipe;
  std::ostream out(&pipe);
  ASSERT_TRUE(ImageCodec::Write(&out, a, "tif", ""));
  Image back;
  std::istringstream first(pipe.data);
  ASSERT_EQ(ImageCodec::Read(&first, back, "tif"), 1);
  EXPECT_TRUE(samePixels(back, a));

  PipeOut pipe2;
  std::ostream out2(&pipe2);
  {
    std::unique_ptr<ImageCodec> w(ImageCodec::MultiWrite(&out2, "tif", ""));
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->Write(a, 75, "", 0));
    ASSERT_TRUE(w->Write(b, 75, "bigendian", 1));
  }
  std::istringstream in(pipe2.data);
  EXPECT_EQ(ImageCodec::Read(&in, back, "tif", "", 1), 1);
  EXPECT_TRUE(samePixels(back, b));
}
