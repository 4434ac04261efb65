// Multi-page files and documents written through the script classes Codec
// and PDFCodec, checked byte for byte and with independent PDF tools.
#include "host/xcodec.hh"
#include "host/XImage.hh"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// Two lines of text on a 600 x 400 pixel page.
const char* const kHocr =
  "<div class='ocr_page' title=\"bbox 0 0 600 400\">\n"
  "<span class='ocr_line' title=\"bbox 50 50 300 80; baseline 0 -5\">"
  "<span class='ocrx_word' title=\"bbox 50 50 150 80\">Hello</span> "
  "<span class='ocrx_word' title=\"bbox 170 50 300 80\">world</span></span>"
  "<span class='ocr_line' title=\"bbox 50 200 330 230; baseline 0 -5\">"
  "<span class='ocrx_word' title=\"bbox 50 200 200 230\">second</span> "
  "<span class='ocrx_word' title=\"bbox 220 200 330 230\">line</span></span>\n"
  "</div>\n";

const char* const kHtmlHead =
  "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"\n"
  "\"http://www.w3.org/TR/html4/loose.dtd\">\n"
  "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
  "</head><body>\n";

// A script image holding the raster of `source`.
std::unique_ptr<XImage> scriptImage(const Image& source)
{
  std::unique_ptr<XImage> image(new XImage);
  static_cast<Image&>(*image) = source;
  return image;
}

bool exists(const std::string& path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The value after `key` in `text` (first match of key followed by a number).
long long numberAfter(const std::string& text, const std::string& key, bool last = false)
{
  const std::regex re(key + "\\s*(\\d+)");
  long long v = -1;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
       ++it) {
    v = std::stoll((*it)[1]);
    if (!last)
      break;
  }
  return v;
}

// A small tmpfs mounted on a folder for as long as it lives (root only).
struct SmallDisk {
  std::string path;
  bool mounted = false;
  std::string why;
  SmallDisk(const std::string& at, const char* size) : path(at)
  {
    mkdir(at.c_str(), 0755);
    if (geteuid() != 0)
      why = "mounting a small file system needs root";
    else if (mount("tmpfs", at.c_str(), "tmpfs", 0, size) != 0)
      why = std::string("cannot mount a small tmpfs: ") + std::strerror(errno);
    else
      mounted = true;
  }
  ~SmallDisk()
  {
    if (mounted)
      umount2(path.c_str(), MNT_DETACH);
    rmdir(path.c_str());
  }
};

} // namespace

TEST(PDFCodecDocuments, TextFormatsGoldenBytes)
{
  TempDir dir;
  const struct {
    const char* format;
    bool withPage;
    std::string golden;
  } cases[] = {
    {"html", false, std::string(kHtmlHead) + "\n</body></html>\n"},
    {"html", true,
     std::string(kHtmlHead) + "Hello world<br>second line<br>" + "\n</body></html>\n"},
    {"rtf", false, "{\\rtf1\\ansi\n}\n"},
    {"rtf", true, "{\\rtf1\\ansi\nHello world\\\nsecond line\\\n}\n"},
    {"txt", true, "Hello world\nsecond line\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.format) + (c.withPage ? " with a page" : ""));
    const std::string path = dir.file("doc" + std::to_string(++n));
    {
      XPDFCodec doc(path, c.format, "test");
      // The PDF calls do nothing on a text document.
      doc.beginPage(100, 100);
      doc.beginText();
      doc.textTo(10, 10);
      doc.showText("Helvetica", "not written", 12);
      doc.endText();
      doc.showImage(*scriptImage(patterned(8, 8, {1, 8}, 1)), 0, 0, 10, 10, 75, "");

      if (c.withPage) {
        EXPECT_TRUE(doc.hocr2pdf(kHocr, 300, 300));
      }
    }
    EXPECT_EQ(readFile(path), c.golden);
  }
}

TEST(PDFCodecDocuments, MultiPagePdfWithEveryPixelTypeAndTextLayer)
{
  REQUIRE_TOOL(qpdf, "qpdf");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  REQUIRE_TOOL(pdftotext, "pdftotext");
  TempDir dir;
  const std::string path = dir.file("pages.pdf");
  {
    XPDFCodec doc(path, "pdf", "test", "0123456789abcdef", "fedcba9876543210");
    for (const PixelType& t : kPixelTypes) {
      // 600 x 400 pixels at 300 dpi: 144 x 96 points.
      doc.beginPage(144, 96);
      doc.showImage(*scriptImage(patterned(600, 400, t, 7, 0)), 0, 0, 144, 96, 75, "");
      EXPECT_TRUE(doc.hocr2pdf(kHocr, 300, 300));
    }
    doc.beginText();
    doc.textTo(10, 80);
    doc.showText("Helvetica", "Caf\xc3\xa9 closing", 12);
    doc.endText();
  }
  std::string out;
  EXPECT_EQ(run(qpdf + " --check '" + path + "' 2>&1", &out), 0) << out;
  ASSERT_EQ(run(pdfinfo + " '" + path + "'", &out), 0);
  EXPECT_EQ(numberAfter(out, "Pages:"), 8) << out;

  ASSERT_EQ(run(pdfimages + " -list '" + path + "'", &out), 0);
  std::istringstream lines(out);
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);
  const char* const listed[] = {"1 gray 1 1 ccitt", "2 gray 1 2 image", "3 gray 1 4 image",
                                "4 gray 1 8 image", "5 gray 1 16 image", "6 rgb 3 8 image",
                                "7 rgb 3 8 image",  "8 rgb 3 16 image"};
  for (const char* want : listed) {
    ASSERT_TRUE(std::getline(lines, line));
    std::istringstream words(line);
    std::string page, num, type, w, h, color, comp, bpc, enc;
    words >> page >> num >> type >> w >> h >> color >> comp >> bpc >> enc;
    EXPECT_EQ(page + " " + color + " " + comp + " " + bpc + " " + enc, want) << line;
    EXPECT_EQ(w + "x" + h, "600x400");
  }

  ASSERT_EQ(run(pdftotext + " -layout '" + path + "' -", &out), 0);
  size_t count = 0;
  for (size_t at = out.find("Hello world"); at != std::string::npos;
       at = out.find("Hello world", at + 1))
    ++count;
  EXPECT_EQ(count, 8u) << out;
  EXPECT_NE(out.find("second line"), std::string::npos);
  EXPECT_NE(out.find("Caf\xc3\xa9 closing"), std::string::npos) << out;
}

TEST(PDFCodecDocuments, IncrementalUpdateOntoAnotherToolsFile)
{
  REQUIRE_TOOL(img2pdf, "img2pdf");
  REQUIRE_TOOL(qpdf, "qpdf");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  TempDir dir;
  Image first = patterned(60, 40, {1, 8}, 3, 0);
  ASSERT_TRUE(writePNM(first, dir.file("first.pgm")));
  const std::string path = dir.file("doc.pdf");
  ASSERT_EQ(run(img2pdf + " --engine internal '" + dir.file("first.pgm") + "' -o '" + path + "'"),
            0);
  const std::string original = readFile(path);
  ASSERT_FALSE(original.empty());

  // What a reader of the file would hand the writer: the last
  // cross-reference position, the object count, the page tree, the pages.
  std::string json;
  ASSERT_EQ(run(qpdf + " --show-object=trailer '" + path + "'", &json), 0);
  const long long size = numberAfter(json, "/Size");
  const long long root = numberAfter(json, "/Root");
  ASSERT_GT(size, 0);
  ASSERT_EQ(run(qpdf + " --show-object=" + std::to_string(root) + " '" + path + "'", &json), 0);
  const long long pages = numberAfter(json, "/Pages");
  const long long startxref = numberAfter(original, "startxref", true);
  ASSERT_GT(pages, 0);
  ASSERT_GT(startxref, 0);
  {
    XPDFCodec doc(path, "pdf", "test", "", "", (unsigned)startxref, (unsigned)size - 1,
                  (unsigned)pages, 1);
    doc.beginPage(72, 48);
    doc.showImage(*scriptImage(patterned(30, 20, {3, 8}, 4, 0)), 0, 0, 72, 48, 75, "");
  }
  const std::string updated = readFile(path);
  ASSERT_GT(updated.size(), original.size());
  EXPECT_EQ(updated.compare(0, original.size(), original), 0) << "original bytes changed";
  std::string out;
  EXPECT_EQ(run(qpdf + " --check '" + path + "' 2>&1", &out), 0) << out;
  ASSERT_EQ(run(pdfinfo + " '" + path + "'", &out), 0);
  EXPECT_EQ(numberAfter(out, "Pages:"), 2) << out;
  ASSERT_EQ(run(pdfimages + " -list '" + path + "'", &out), 0);
  EXPECT_NE(out.find("1     0 image      60    40  gray    1   8"), std::string::npos) << out;
  EXPECT_NE(out.find("2     1 image      30    20  rgb     3   8"), std::string::npos) << out;
}


TEST(PDFCodecDocuments, StandardOutputStaysOpen)
{
  testing::internal::CaptureStdout();
  {
    XPDFCodec doc("-", "pdf", "scan");
    doc.beginPage(10, 10);
  }
  std::cout << "after" << std::flush;
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.compare(0, 9, "%PDF-1.5\n"), 0);
  EXPECT_NE(out.find("%%EOF\nafter"), std::string::npos);
  EXPECT_TRUE(std::cout.good());
}

TEST(PDFCodecDocuments, FailedWritesAreReportedNotThrown)
{
  if (access("/dev/full", W_OK) != 0)
    GTEST_SKIP() << "no /dev/full";
  for (const char* format : {"pdf", "html", "rtf", "txt"}) {
    testing::internal::CaptureStderr();
    {
      XPDFCodec doc("/dev/full", format, "x");
      doc.beginPage(10, 10);
      // Enough text that some of it reaches the device before the end.
      for (int i = 0; i < 2000; ++i)
        doc.hocr2pdf("<span class='ocr_line' title=\"bbox 10 10 90 30\">words</span>", 72, 72);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("PDFCodec: error writing the document\n"), std::string::npos)
      << format << ": " << err.substr(0, 300);
  }
}

TEST(PDFCodecDocuments, UnopenableFileIsAnError)
{
  TempDir dir;
  for (const char* format : {"pdf", "html", "txt"}) {
    try {
      XPDFCodec doc(dir.file("missing/doc"), format, "x");
      ADD_FAILURE() << format << ": no error";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "error opening file");
    }
  }
}

TEST(CodecMultiPage, PagesPrefixAndMissingDirectory)
{
  TempDir dir;
  // The prefix picks the codec; the file is named without it.
  const std::string name = dir.file("pages");
  {
    XCodec codec("tif:" + name);
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(codec.writeMultiImage(*scriptImage(patterned(20 + i, 10, {1, 8}, i, 0)), 75, "", i));
    }
  }
  EXPECT_FALSE(exists(dir.file("tif:pages")));
  XImage image;
  EXPECT_EQ(tolm::readImage(name, image, "", 0), 3);
  EXPECT_EQ(image.w, 20);
  EXPECT_EQ(tolm::readImage(name, image, "", 2), 1);
  EXPECT_EQ(image.w, 22);

  XCodec missing(dir.file("missing/pages.tif"));
  auto page = scriptImage(patterned(4, 4, {1, 8}, 1, 0));
  EXPECT_FALSE(missing.writeMultiImage(*page, 75, "", 0));
  // A format that has no multi-page writer.
  XCodec png(dir.file("pages.png"));
  EXPECT_FALSE(png.writeMultiImage(*page, 75, "", 0));
}

TEST(CodecWholeFile, WriteAndReadBack)
{
  TempDir dir;
  auto image = scriptImage(patterned(9, 7, {3, 8}, 5, 0));
  EXPECT_TRUE(tolm::writeImage(dir.file("a.png"), *image));
  EXPECT_TRUE(tolm::writeImage("tif:" + dir.file("b.img"), *image, 80, ""));
  EXPECT_FALSE(tolm::writeImage(dir.file("c.unknown"), *image));
  for (const char* f : {"a.png", "b.img"}) {
    XImage back;
    EXPECT_EQ(tolm::readImage(dir.file(f), back, "", 0), 1) << f;
    EXPECT_TRUE(samePixels(back, *image)) << f;
  }
  XImage none;
  EXPECT_EQ(tolm::readImage(dir.file("missing.png"), none, "", 0), 0);
}

// Every path a script writes to: a write that fails (an image without
// pixels, a writer given no page) leaves the file it would have replaced
// as it was and nothing beside it; one that succeeds replaces it.
TEST(CodecWholeFile, AFailedWriteKeepsTheOldFile)
{
  TempDir dir;
  const std::string old = "the user's own bytes\n";
  auto good = scriptImage(patterned(40, 30, {1, 8}, 3, 0));
  XImage empty;
  const struct {
    const char* name;
    const char* file;
    std::function<bool(const std::string&)> write; // whether it reports success
    bool replaces;
  } cases[] = {
    {"png of no pixels", "v.png", [&](const std::string& f) { return tolm::writeImage(f, empty); }, false},
    {"tiff of no pixels", "v.tif", [&](const std::string& f) { return tolm::writeImage(f, empty); }, false},
    {"pdf of no pixels", "v.pdf", [&](const std::string& f) { return tolm::writeImage(f, empty); }, false},
    {"multi-page writer without a page", "m.tif", [&](const std::string& f) {
       XCodec codec(f);
       return false;
     }, false},
    {"multi-page writer given only an empty page", "m.tif", [&](const std::string& f) {
       XCodec codec(f);
       return codec.writeMultiImage(empty, 75, "", 0);
     }, false},
    {"png", "v.png", [&](const std::string& f) { return tolm::writeImage(f, *good); }, true},
    {"two pages, the empty one refused", "m.tif", [&](const std::string& f) {
       XCodec codec(f);
       bool ok = codec.writeMultiImage(*good, 75, "", 0);
       ok = !codec.writeMultiImage(empty, 75, "", 1) && ok;
       return codec.writeMultiImage(*good, 75, "", 1) && ok;
     }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.file(c.file);
    writeFile(file, old);
    chmod(file.c_str(), 0640);
    EXPECT_EQ(c.write(file), c.replaces);
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{c.file});
    if (!c.replaces) {
      EXPECT_EQ(readFile(file), old);
    } else {
      XImage back;
      EXPECT_GE(tolm::readImage(file, back, "", 0), 1);
      EXPECT_TRUE(samePixels(back, *good));
      struct stat st;
      EXPECT_EQ(stat(file.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replacement keeps the file's permissions";
    }
    std::remove(file.c_str());
  }
  // a link is followed: the file it names is replaced, the link stays
  writeFile(dir.file("target.png"), old);
  ASSERT_EQ(symlink("target.png", dir.file("link.png").c_str()), 0);
  EXPECT_TRUE(tolm::writeImage(dir.file("link.png"), *good));
  struct stat st;
  ASSERT_EQ(lstat(dir.file("link.png").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(readFile(dir.file("target.png")), old);
}

// A full disk part-way through a write: the old file stays whole, nothing
// is left beside it, and the space is given back.
TEST(CodecWholeFile, AFullDiskKeepsTheOldFile)
{
  TempDir dir;
  SmallDisk disk(dir.file("small"), "size=64k");
  if (!disk.mounted) {
    if (underCI() && geteuid() == 0)
      FAIL() << disk.why;
    GTEST_SKIP() << disk.why;
  }
  // 270 KB of pixels uncompressed: more than the disk holds
  auto big = scriptImage(patterned(300, 300, {3, 8}, 7, 0));
  auto small = scriptImage(patterned(60, 40, {1, 8}, 2, 0));
  const std::string file = disk.path + "/victim.tif";
  ASSERT_TRUE(tolm::writeImage(file, *small, 80, "none"));
  const std::string old = readFile(file);
  ASSERT_FALSE(old.empty());

  EXPECT_FALSE(tolm::writeImage(file, *big, 80, "none"));
  EXPECT_EQ(readFile(file), old);
  EXPECT_EQ(listing(disk.path), std::vector<std::string>{"victim.tif"});

  {
    XCodec codec(file);
    EXPECT_TRUE(codec.writeMultiImage(*small, 75, "none", 0));
    EXPECT_FALSE(codec.writeMultiImage(*big, 75, "none", 1));
    EXPECT_FALSE(codec.writeMultiImage(*small, 75, "none", 2)) << "a spoilt file takes no page";
  }
  EXPECT_EQ(readFile(file), old);
  EXPECT_EQ(listing(disk.path), std::vector<std::string>{"victim.tif"});

  const std::string pdf = disk.path + "/victim.pdf";
  writeFile(pdf, old);
  testing::internal::CaptureStderr();
  {
    XPDFCodec doc(pdf, "pdf", "x");
    doc.beginPage(300, 300);
    EXPECT_FALSE(doc.showImage(*big, 0, 0, 300, 300, 75, "none"));
  }
  EXPECT_NE(testing::internal::GetCapturedStderr().find("PDFCodec: "), std::string::npos);
  EXPECT_EQ(readFile(pdf), old);
  EXPECT_EQ(listing(disk.path), (std::vector<std::string>{"victim.pdf", "victim.tif"}));

  // with the space back, the same write replaces the file
  std::remove(pdf.c_str());
  EXPECT_TRUE(tolm::writeImage(file, *small, 80, ""));
  XImage back;
  EXPECT_EQ(tolm::readImage(file, back, "", 0), 1);
  EXPECT_TRUE(samePixels(back, *small));
  EXPECT_EQ(listing(disk.path), std::vector<std::string>{"victim.tif"});
}
