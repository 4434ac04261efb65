#include "codecs/FileIn.hh"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "codecs/Codecs.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

std::string bytesOf(size_t n, uint32_t seed)
{
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s)
    c = (char)(rng() & 0xff);
  return s;
}

} // namespace

// Whatever a codec does with a stream (reads of any length, seeks from the
// start, the current place and the end, peeks, positions), the file reader
// behaves as the standard file stream on the same file.
TEST(FileIn, BehavesLikeTheBytesInMemory)
{
  TempDir dir;
  const size_t size = 3 * FileInBuf::kBlock + 123;
  const std::string bytes = bytesOf(size, 7);
  ASSERT_TRUE(writeFile(dir.file("f"), bytes));

  FileIn file(dir.file("f"));
  ASSERT_TRUE(file);
  std::ifstream memory(dir.file("f"), std::ios::binary);
  std::mt19937 rng(3);
  for (int step = 0; step < 4000; ++step) {
    SCOPED_TRACE(step);
    switch (rng() % 6) {
    case 0:
    case 1: {
      // Mostly short reads, now and then one longer than a block.
      const size_t n = rng() % 8 == 0 ? rng() % (2 * FileInBuf::kBlock) : rng() % 600;
      std::string a(n, '\0'), b(n, '\0');
      file.read(&a[0], (std::streamsize)n);
      memory.read(&b[0], (std::streamsize)n);
      ASSERT_EQ(file.gcount(), memory.gcount());
      a.resize((size_t)file.gcount());
      b.resize((size_t)memory.gcount());
      ASSERT_TRUE(a == b);
      break;
    }
    case 2: {
      const std::streamoff to = (std::streamoff)(rng() % (size + 10));
      file.seekg(to);
      memory.seekg(to);
      break;
    }
    case 3: {
      const std::streamoff by = (std::streamoff)(rng() % 20000) - 10000;
      file.seekg(by, std::ios::cur);
      memory.seekg(by, std::ios::cur);
      break;
    }
    case 4: {
      const std::streamoff back = -(std::streamoff)(rng() % 5000);
      file.seekg(back, std::ios::end);
      memory.seekg(back, std::ios::end);
      break;
    }
    default:
      ASSERT_EQ(file.peek(), memory.peek());
      break;
    }
    ASSERT_EQ(file.tellg(), memory.tellg());
    ASSERT_EQ(file.eof(), memory.eof());
    ASSERT_EQ(file.fail(), memory.fail());
    if (!file || !memory) {
      file.clear();
      memory.clear();
    }
  }
}

TEST(FileIn, MissingFilesAndFoldersFail)
{
  TempDir dir;
  EXPECT_FALSE(FileIn(dir.file("none")));
  EXPECT_FALSE(FileIn(dir.path()));
  Image img;
  EXPECT_EQ(ImageCodec::Read(dir.file("none"), img), 0);
  EXPECT_EQ(ImageCodec::Read(dir.path(), img), 0);
}

// Pages written by another program: decoding one reads the file about once
// (strips are read after seeks to them, inside the block read before),
// counting the pages reads no more than the headers, and either leaves the
// pixels as a whole read gives them.
TEST(FileIn, ReadsEachFileAboutOnce)
{
  REQUIRE_TOOL(python, "python3");
  TempDir dir;
  const std::string script =
      "import sys, random\n"
      "from PIL import Image, ImageDraw\n"
      "d = sys.argv[1]\n"
      "random.seed(5)\n"
      "pages = []\n"
      "for n in range(3):\n"
      "    im = Image.new('L', (1240, 1754), 245)\n"
      "    dr = ImageDraw.Draw(im)\n"
      "    for _ in range(900):\n"
      "        x, y = random.randrange(1200), random.randrange(1700)\n"
      "        dr.rectangle([x, y, x + random.randrange(40), y + 12], fill=random.randrange(80))\n"
      "    pages.append(im)\n"
      "pages[0].save(d + '/lzw.tif', compression='tiff_lzw', dpi=(150, 150))\n"
      "pages[0].convert('RGB').save(d + '/deflate.tif', compression='tiff_adobe_deflate')\n"
      "pages[0].save(d + '/multi.tif', compression='tiff_lzw', save_all=True,\n"
      "              append_images=pages[1:])\n"
      "pages[0].save(d + '/page.png', dpi=(150, 150))\n";
  ASSERT_TRUE(writeFile(dir.file("make.py"), script));
  ASSERT_EQ(run(python + " " + dir.file("make.py") + " " + dir.path()), 0);

  const struct {
    const char* name;
    int pages;
  } cases[] = {{"lzw.tif", 1}, {"deflate.tif", 1}, {"multi.tif", 3}, {"page.png", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.name);
    const uint64_t size = readFile(path).size();

    Image whole;
    {
      FileIn in(path);
      ASSERT_EQ(ImageCodec::Read(&in, whole, ""), c.pages);
      // The file once, and a few blocks of headers.
      EXPECT_LE(in.bytesRead(), size + 12 * 1024);
    }
    std::ifstream plain(path, std::ios::binary);
    Image reference;
    ASSERT_EQ(ImageCodec::Read(&plain, reference, ""), c.pages);
    EXPECT_TRUE(samePixels(whole, reference));

    Image untouched = uniform(3, 2, 1, 8, 77);
    untouched.setResolution(72, 72);
    FileIn in(path);
    EXPECT_EQ(ImageCodec::Read(&in, untouched, "", "count"), c.pages);
    EXPECT_LE(in.bytesRead(), 16u * 1024);
    EXPECT_TRUE(samePixels(untouched, uniform(3, 2, 1, 8, 77)));
    EXPECT_EQ(untouched.resolutionX(), 72);
  }
}

// Counting refuses what reading refuses up to the pixel data.
TEST(FileIn, CountingRefusesWhatIsNotAPage)
{
  TempDir dir;
  Image page = uniform(40, 30, 3, 8, 200);
  ASSERT_TRUE(ImageCodec::Write(dir.file("ok.png"), page));
  ASSERT_TRUE(ImageCodec::Write(dir.file("ok.tif"), page));
  const std::string png = readFile(dir.file("ok.png"));
  const std::string tif = readFile(dir.file("ok.tif"));
  std::string badDepth = png;
  badDepth[8 + 8 + 8] = 7; // IHDR bit depth
  const struct {
    const char* name;
    std::string bytes;
    int count;
  } cases[] = {
      {"ok.png", png, 1},
      {"ok.tif", tif, 1},
      {"text", "not an image\n", 0},
      {"header only.png", png.substr(0, 12), 0},
      {"depth 7.png", badDepth, 0},
      {"header only.tif", tif.substr(0, 8), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(writeFile(dir.file(c.name), c.bytes));
    Image img;
    EXPECT_EQ(ImageCodec::Read(dir.file(c.name), img, "count"), c.count);
    EXPECT_EQ(img.getRawData(), nullptr);
  }
}
