#include "codecs/Codecs.hh"
#include "codecs/PDF.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <unistd.h>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// A codec for tests: reads streams that start with its magic, records which
// instance wrote, and can be told to throw.
class FakeCodec : public ImageCodec {
public:
  FakeCodec(std::string id, std::string magic) : id(std::move(id)), magic(std::move(magic)) {}
  std::string getID() override { return id; }
  using ImageCodec::readImage;
  int readImage(std::istream* s, Image& image, const std::string&, int index) override
  {
    ++reads;
    if (throwOnRead)
      throw std::runtime_error("read error");
    std::string head(magic.size(), '\0');
    s->read(&head[0], head.size());
    if (!*s || head != magic)
      return 0;
    image.spp = 1;
    image.bps = 8;
    image.resize(1, 1);
    image.data[0] = (uint8_t)index;
    return pages;
  }
  bool writeImage(std::ostream* s, Image&, int, const std::string&) override
  {
    ++writes;
    if (throwOnWrite)
      throw std::bad_alloc();
    *s << magic;
    return true;
  }
  std::string id, magic;
  int reads = 0, writes = 0, pages = 1;
  bool throwOnRead = false, throwOnWrite = false;
};

std::vector<std::string> registryNames()
{
  std::vector<std::string> names;
  for (const ImageCodec::loader_ref* e = ImageCodec::firstLoader(); e; e = e->next)
    names.push_back(e->extension);
  return names;
}

// Registers fakes at the front for the duration of one test; the
// destructors unregister them.
struct Fakes {
  FakeCodec aaa{"AAA", "AAA"}, bbb{"BBB", "BBB"};
  Fakes()
  {
    ImageCodec::registerCodec("bbb", &bbb);
    ImageCodec::registerCodec("bbx", &bbb); // a second name: extension only
    ImageCodec::registerCodec("aaa", &aaa);
  }
};

} // namespace

TEST(Args, SplitsLowercasesAndKeepsOddWords)
{
  struct Case {
    const char* options;
    bool lowercase;
    std::set<std::string> words;
  } cases[] = {
    {"G4,Deflate|none", true, {"g4", "deflate", "none"}},
    {"G4,Deflate|none", false, {"G4", "Deflate", "none"}},
    {"a,,b", true, {"", "a", "b"}},
    {",a", true, {"", "a"}},
    {"a;", true, {"a"}},
    {"a, g4", true, {"a", " g4"}},
    {"", true, {}},
    {"x,x,X", true, {"x"}},
  };
  for (const Case& c : cases) {
    Args args(c.options, c.lowercase);
    EXPECT_EQ(std::set<std::string>(args.begin(), args.end()), c.words) << c.options;
  }
  Args args("g4,G4,lzw");
  EXPECT_TRUE(args.containsAndRemove("g4"));
  EXPECT_FALSE(args.containsAndRemove("g4"));
  EXPECT_FALSE(args.containsAndRemove("deflate"));
  EXPECT_TRUE(args.containsAndRemove("lzw"));
  EXPECT_TRUE(args.empty());
}

TEST(Registry, CodecPrefixAndExtension)
{
  struct Case {
    const char* name;
    const char* codec;
    const char* rest;
    const char* ext;
  } cases[] = {
    {"tif:-", "tif", "-", ""},
    {"png:scan.tif", "png", "scan.tif", "tif"},
    {"/tmp/a:b", "", "/tmp/a:b", ""},
    {":x", "", ":x", ""},
    {"out.TIF", "", "out.TIF", "TIF"},
    {"out", "", "out", ""},
    {".tif", "", ".tif", ""},
    {"dir.old/out", "", "dir.old/out", "old/out"},
    {"a.b.png", "", "a.b.png", "png"},
  };
  for (const Case& c : cases) {
    std::string name = c.name;
    EXPECT_EQ(ImageCodec::getCodec(name), c.codec) << c.name;
    EXPECT_EQ(name, c.rest) << c.name;
    EXPECT_EQ(ImageCodec::getExtension(name), c.ext) << c.name;
  }
}

TEST(Registry, ProbesInOrderAndSetsDecoderId)
{
  Fakes f;
  std::vector<std::string> names = registryNames();
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names[0], "aaa");
  EXPECT_EQ(names[1], "bbx");
  EXPECT_EQ(names[2], "bbb");

  Image img;
  std::istringstream bbbData("BBB...");
  EXPECT_EQ(ImageCodec::Read(&bbbData, img, ""), 1);
  EXPECT_EQ(img.getDecoderID(), "BBB");
  EXPECT_EQ(f.aaa.reads, 1); // probed first, declined; the stream was rewound
  EXPECT_EQ(f.bbb.reads, 1); // the non-primary "bbx" is never probed

  // A forced codec reads only as itself, with the index passed on and no
  // decoder id set.
  Image forced;
  std::istringstream aaaData("AAA");
  f.aaa.pages = 5;
  EXPECT_EQ(ImageCodec::Read(&aaaData, forced, "AAA", "", 3), 5);
  EXPECT_EQ(forced.data[0], 3);
  EXPECT_EQ(forced.getDecoderID(), "");
  std::istringstream again("AAA");
  EXPECT_EQ(ImageCodec::Read(&again, forced, "bbb"), 0);
  std::istringstream third("BBB");
  EXPECT_EQ(ImageCodec::Read(&third, forced, "bbx"), 0); // not a primary name
  std::istringstream none("zzz");
  EXPECT_EQ(ImageCodec::Read(&none, forced, "nosuch"), 0);
}

TEST(Registry, ExplicitOnlyIsNeverProbed)
{
  FakeCodec hidden("HID", "HID");
  ImageCodec::registerCodec("hid", &hidden, true);
  Image img;
  std::istringstream s("HID");
  EXPECT_EQ(ImageCodec::Read(&s, img, ""), 0);
  EXPECT_EQ(hidden.reads, 0);
  std::istringstream s2("HID");
  EXPECT_EQ(ImageCodec::Read(&s2, img, "hid"), 1);
}

TEST(Registry, WriteSelectsByPrefixThenExtension)
{
  Fakes f;
  TempDir dir;
  Image img = makeImage(2, 2, 1, 8);
  struct Case {
    std::string name;
    bool ok;
    const char* content;
  } cases[] = {
    {"out.aaa", true, "AAA"},
    {"out.AAA", true, "AAA"},
    {"out.bbx", true, "BBB"},       // second name: found by extension
    {"aaa:out.bbb", true, "AAA"},   // prefix wins over the extension
    {"bbx:out.aaa", false, nullptr}, // ... but only primary names
    {"out", false, nullptr},
    {".aaa", false, nullptr},
    {"dir.aaa/out", false, nullptr},
  };
  for (const Case& c : cases) {
    const std::string::size_type colon = c.name.find(':');
    const std::string prefix = colon == std::string::npos ? "" : c.name.substr(0, colon + 1);
    const std::string file = c.name.substr(prefix.size());
    // Names that find no codec are passed bare: nothing may be created.
    const std::string path = c.ok ? prefix + dir.file(file) : c.name;
    EXPECT_EQ(ImageCodec::Write(path, img), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(readFile(dir.file(file)), c.content) << c.name;
    } else {
      EXPECT_NE(access(file.c_str(), F_OK), 0) << c.name;
    }
  }
}

TEST(Registry, UnknownFormatLeavesExistingFileAlone)
{
  TempDir dir;
  const std::string path = dir.file("keep.unknownfmt");
  ASSERT_TRUE(writeFile(path, "precious"));
  Image img = makeImage(2, 2, 1, 8);
  EXPECT_FALSE(ImageCodec::Write(path, img));
  EXPECT_EQ(readFile(path), "precious");
  EXPECT_FALSE(ImageCodec::Write(dir.file("no/such/dir/x.pdf"), img));
}

TEST(Registry, UnchangedPixelsPassThroughTheAttachedCodec)
{
  Fakes f;
  auto* attached = new FakeCodec("AAA", "aaa-original");
  Image img = makeImage(2, 2, 1, 8);
  img.setCodec(attached); // owned by the image; clears pixelsDirty
  std::ostringstream out;
  EXPECT_TRUE(ImageCodec::Write(&out, img, "", "aaa"));
  EXPECT_EQ(out.str(), "aaa-original");
  EXPECT_EQ(f.aaa.writes, 0);

  // Metadata changes do not matter, pixel changes do.
  img.setResolution(300, 300);
  std::ostringstream out2;
  EXPECT_TRUE(ImageCodec::Write(&out2, img, "", "aaa"));
  EXPECT_EQ(out2.str(), "aaa-original");
  img.setRawData();
  std::ostringstream out3;
  EXPECT_TRUE(ImageCodec::Write(&out3, img, "", "aaa"));
  EXPECT_EQ(out3.str(), "AAA");
  EXPECT_EQ(f.aaa.writes, 1);

  // Another format re-encodes even with unchanged pixels.
  Image other = makeImage(2, 2, 1, 8);
  other.setCodec(new FakeCodec("AAA", "aaa-original"));
  std::ostringstream out4;
  EXPECT_TRUE(ImageCodec::Write(&out4, other, "bbb", "aaa"));
  EXPECT_EQ(out4.str(), "BBB");
}

TEST(Registry, CodecExceptionsBecomeFailureResults)
{
  Fakes f;
  f.aaa.throwOnRead = true;
  f.aaa.throwOnWrite = true;
  Image img = makeImage(2, 2, 1, 8);
  std::istringstream in("AAA");
  testing::internal::CaptureStderr();
  EXPECT_EQ(ImageCodec::Read(&in, img, ""), 0);
  std::ostringstream out;
  EXPECT_FALSE(ImageCodec::Write(&out, img, "aaa", ""));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("read error"), std::string::npos) << err;
  EXPECT_NE(err.find("std::bad_alloc"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
}

namespace {

// A multi-page writer: each page is one line on its stream.
class PagesCodec : public ImageCodec {
public:
  PagesCodec(std::ostream* s = nullptr, std::string opts = "") : out(s), opts(std::move(opts)) {}
  std::string getID() override { return "PGS"; }
  bool writeImage(std::ostream*, Image&, int, const std::string&) override { return false; }
  ImageCodec* instanciateForWrite(std::ostream* s, const std::string& compress) override
  {
    if (compress == "throw")
      throw std::runtime_error("write error");
    return new PagesCodec(s, compress);
  }
  bool Write(Image& image, int quality, const std::string&, int index) override
  {
    *out << opts << " page " << index << " q" << quality << " " << image.w << "\n";
    return true;
  }
  std::ostream* out;
  std::string opts;
};

} // namespace

TEST(Registry, MultiWrite)
{
  Fakes f;
  PagesCodec pages;
  ImageCodec::registerCodec("pgs", &pages);
  std::ostringstream out;
  EXPECT_EQ(ImageCodec::MultiWrite(&out, "aaa", ""), nullptr); // no multi-page writer
  EXPECT_EQ(ImageCodec::MultiWrite(&out, "", "nosuch"), nullptr);

  ImageCodec* w = ImageCodec::MultiWrite(&out, "", "PGS", "g4");
  ASSERT_NE(w, nullptr);
  Image a = makeImage(3, 1, 1, 8), b = makeImage(5, 1, 1, 8);
  EXPECT_TRUE(w->Write(a, 80, "g4", 0));
  EXPECT_TRUE(w->Write(b, 80, "g4", 1));
  const size_t before = registryNames().size();
  delete w; // finds no registry entry of its own
  EXPECT_EQ(registryNames().size(), before);
  EXPECT_EQ(out.str(), "g4 page 0 q80 3\ng4 page 1 q80 5\n");

  testing::internal::CaptureStderr();
  EXPECT_EQ(ImageCodec::MultiWrite(&out, "pgs", "", "throw"), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ImageCodec::MultiWrite: write error\n");
}

TEST(Registry, LastUnregisterDeletesTheRegistry)
{
  struct Saved {
    const char* ext;
    ImageCodec* proto;
    bool explicitOnly;
  };
  std::vector<Saved> saved;
  for (const ImageCodec::loader_ref* e = ImageCodec::firstLoader(); e; e = e->next) {
    ASSERT_TRUE(e->isPrimary) << e->extension; // the real prototypes have one name each
    saved.push_back({e->extension, e->prototype, e->explicitOnly});
  }
  for (const Saved& s : saved)
    ImageCodec::unregisterCodec(s.proto);
  EXPECT_EQ(ImageCodec::firstLoader(), nullptr);

  Image img;
  std::istringstream in("\x89PNG");
  EXPECT_EQ(ImageCodec::Read(&in, img, ""), 0);
  std::ostringstream out;
  EXPECT_FALSE(ImageCodec::Write(&out, img, "", "png"));
  testing::internal::CaptureStderr();
  ImageCodec::unregisterCodec(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "unregisterCodec: no codecs, unregister impossible!\n");

  // Restore; a placeholder first so that no prototype is taken for a
  // further name of the codec registered last.
  FakeCodec placeholder("X", "X");
  ImageCodec::registerCodec("x", &placeholder, false, true);
  for (const Saved& s : saved)
    ImageCodec::registerCodec(s.ext, s.proto, s.explicitOnly, true);
  ImageCodec::unregisterCodec(&placeholder);
  std::vector<std::string> names;
  for (const Saved& s : saved)
    names.push_back(s.ext);
  EXPECT_EQ(registryNames(), names);
}

TEST(Registry, OrderOfTheRegisteredCodecs)
{
  EXPECT_EQ(registryNames(), (std::vector<std::string>{"pdf", "png", "tif"}));
}

TEST(Registry, PdfIsProbedFirstAndDeclines)
{
  Image img;
  std::istringstream pdf("%PDF-1.5\n%\xe2\xe3\xcf\xd3\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(ImageCodec::Read(&pdf, img, ""), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "unsupported: reading PDF files\n");
  EXPECT_TRUE(img.getDecoderID().empty());
}

// A header after other bytes is found where poppler looks for one: starting
// within the first 1019 bytes. The stream is handed back at its start.
TEST(Registry, PdfHeaderWithinTheFirstKilobyte)
{
  struct Case {
    size_t junk; // bytes before "%PDF-"
    bool pdf;
  } cases[] = {{0, true}, {13, true}, {1018, true}, {1019, false}, {4000, false}};
  for (const Case& c : cases) {
    const std::string bytes = std::string(c.junk, 'j') + "%PDF-1.5\n" + std::string(2000, 'x');
    std::istringstream in(bytes);
    EXPECT_EQ(PDFCodec::hasHeader(in), c.pdf) << c.junk;
    EXPECT_EQ(in.tellg(), 0) << c.junk;
    Image img;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ImageCodec::Read(&in, img, ""), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              c.pdf ? "unsupported: reading PDF files\n" : "")
        << c.junk;
  }
}

namespace {

// A pipe-like input: reads forward, cannot seek.
class PipeBuf : public std::streambuf {
public:
  explicit PipeBuf(std::string s) : data(std::move(s)) {}
protected:
  int_type underflow() override
  {
    if (pos >= data.size())
      return traits_type::eof();
    ch = data[pos++];
    setg(&ch, &ch, &ch + 1);
    return traits_type::to_int_type(ch);
  }
private:
  std::string data;
  size_t pos = 0;
  char ch = 0;
};

} // namespace

TEST(Registry, StandardInputIsBufferedBeforeProbing)
{
  Fakes f; // "aaa" probes first and reads ahead before declining
  PipeBuf pipe("BBB-data");
  std::streambuf* old = std::cin.rdbuf(&pipe);
  Image img;
  const int res = ImageCodec::Read("-", img);
  std::cin.rdbuf(old);
  EXPECT_EQ(res, 1);
  EXPECT_EQ(img.getDecoderID(), "BBB");
  EXPECT_EQ(f.aaa.reads, 1);
}
