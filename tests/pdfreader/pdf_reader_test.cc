// Reading PDF pages through the codec registry: the PDF reading script on
// documents of several producers, each page drawn once, every way opening
// can fail, and pages compared with pdftoppm.
#include "pdfreader/pdf_reader.hh"

#include "codecs/PDF.hh"
#include "host/Modules.hh"
#include "image/Image.hh"
#include "image/ImageCodec.hh"
#include "pdfreader/poppler_page.hh"
#include "tests/support/TestSupport.hh"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

using namespace testsupport;

namespace {

// Sets TOLM_RESOURCE_DIR for the life of the object.
class ResourceDir {
public:
  explicit ResourceDir(const std::string& dir)
  {
    const char* old = std::getenv("TOLM_RESOURCE_DIR");
    had = old != nullptr;
    if (old)
      saved = old;
    setenv("TOLM_RESOURCE_DIR", dir.c_str(), 1);
  }
  ~ResourceDir()
  {
    if (had)
      setenv("TOLM_RESOURCE_DIR", saved.c_str(), 1);
    else
      unsetenv("TOLM_RESOURCE_DIR");
  }

private:
  bool had;
  std::string saved;
};

std::string shippedResources() { return sourceDir() + "/resources"; }

bool tolmModuleLinked()
{
  for (unsigned i = 0; i < extmodn; ++i)
    if (std::strcmp(extmods[i].name, "Tolm") == 0)
      return true;
  return false;
}

// Reads page `index` of the bytes through the registry; the stream goes to
// the reader on success.
int readBytes(const std::string& bytes, Image& image, int index, const std::string& codec = "")
{
  auto* in = new std::istringstream(bytes, std::ios::in | std::ios::binary);
  const int res = ImageCodec::Read(in, image, codec, "", index);
  if (res >= 0)
    delete in;
  return res;
}

// A page drawn by hand: a black box in the lower left quarter and a gray
// bar along the top, on a page of the given size turned by /Rotate.
std::string handPage(int wPt, int hPt)
{
  std::ostringstream c;
  c << "0 0 0 rg 36 36 " << wPt / 4 << " " << hPt / 4 << " re f\n"
    << "0.5 g 0 " << hPt - 20 << " " << wPt << " 20 re f\n";
  return c.str();
}

// A classic PDF with one page per content string; `extraTail` goes after the
// file (an incremental update).
std::string handPdf(const std::vector<std::string>& contents, int wPt, int hPt, int rotate)
{
  std::vector<std::string> objs;
  std::string kids;
  const size_t n = contents.size();
  objs.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  for (size_t i = 0; i < n; ++i)
    kids += std::to_string(3 + 2 * i) + " 0 R ";
  objs.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>");
  for (size_t i = 0; i < n; ++i) {
    objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(wPt) + " " +
                   std::to_string(hPt) + "] /Rotate " + std::to_string(rotate) +
                   " /Contents " + std::to_string(4 + 2 * i) + " 0 R >>");
    objs.push_back("<< /Length " + std::to_string(contents[i].size()) + " >>\nstream\n" +
                   contents[i] + "endstream");
  }
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objs.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objs.size() + 1) + "\n0000000000 65535 f \n";
  char row[32];
  for (size_t o : offsets) {
    std::snprintf(row, sizeof row, "%010zu 00000 n \n", o);
    out += row;
  }
  out += "trailer\n<< /Size " + std::to_string(objs.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

// Appends an update that adds one more page to a handPdf of `pages` pages.
std::string incrementalUpdate(const std::string& base, int pages, int wPt, int hPt)
{
  const size_t prev = std::stoul(base.substr(base.rfind("startxref") + 10));
  const int page = 3 + 2 * pages, content = page + 1;
  const std::string c = "0 0 1 rg 10 10 50 50 re f\n";
  std::string kids;
  for (int i = 0; i < pages; ++i)
    kids += std::to_string(3 + 2 * i) + " 0 R ";
  kids += std::to_string(page) + " 0 R";
  std::string out = base;
  const size_t o2 = out.size();
  out += "2 0 obj\n<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages + 1) +
         " >>\nendobj\n";
  const size_t o3 = out.size();
  out += std::to_string(page) + " 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " +
         std::to_string(wPt) + " " + std::to_string(hPt) + "] /Contents " +
         std::to_string(content) + " 0 R >>\nendobj\n";
  const size_t o4 = out.size();
  out += std::to_string(content) + " 0 obj\n<< /Length " + std::to_string(c.size()) +
         " >>\nstream\n" + c + "endstream\nendobj\n";
  const size_t xref = out.size();
  char row[32];
  out += "xref\n2 1\n";
  std::snprintf(row, sizeof row, "%010zu 00000 n \n", o2);
  out += row;
  out += std::to_string(page) + " 2\n";
  std::snprintf(row, sizeof row, "%010zu 00000 n \n", o3);
  out += row;
  std::snprintf(row, sizeof row, "%010zu 00000 n \n", o4);
  out += row;
  out += "trailer\n<< /Size " + std::to_string(content + 1) + " /Root 1 0 R /Prev " +
         std::to_string(prev) + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

// A hybrid file: its table lists the page tree and the pages as free, and
// the cross-reference stream named by /XRefStm places them in a compressed
// object stream.
std::string hybridPdf()
{
  const std::string objects[] = {"<< /Type /Pages /Kids [4 0 R 5 0 R] /Count 2 >>",
                                 "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 80] >>",
                                 "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 80] >>"};
  std::string header, body;
  const int numbers[] = {2, 4, 5};
  for (int i = 0; i < 3; ++i) {
    header += std::to_string(numbers[i]) + " " + std::to_string(body.size()) + " ";
    body += objects[i] + "\n";
  }
  const std::string plain = header + body;
  uLongf packedSize = compressBound(plain.size());
  std::string packed(packedSize, '\0');
  compress2((Bytef*)&packed[0], &packedSize, (const Bytef*)plain.data(), plain.size(), 9);
  packed.resize(packedSize);

  std::string out = "%PDF-1.5\n";
  std::vector<size_t> offsets(7, 0);
  offsets[1] = out.size();
  out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  offsets[3] = out.size();
  out += "3 0 obj\n<< /Type /ObjStm /N 3 /First " + std::to_string(header.size()) +
         " /Filter /FlateDecode /Length " + std::to_string(packed.size()) + " >>\nstream\n" +
         packed + "\nendstream\nendobj\n";
  // rows: type 2, object stream 3, index
  std::string rows;
  for (int i = 0; i < 3; ++i)
    rows += std::string{2, 0, 3, char(i)};
  offsets[6] = out.size();
  out += "6 0 obj\n<< /Type /XRef /W [1 2 1] /Index [2 1 4 2] /Size 7 /Length " +
         std::to_string(rows.size()) + " >>\nstream\n" + rows + "\nendstream\nendobj\n";
  const size_t xref = out.size();
  out += "xref\n0 7\n";
  char row[32];
  for (int i = 0; i < 7; ++i) {
    if (offsets[i])
      std::snprintf(row, sizeof row, "%010zu 00000 n \n", offsets[i]);
    else
      std::snprintf(row, sizeof row, "%010d %05d f \n", 0, i ? 1 : 65535);
    out += row;
  }
  out += "trailer\n<< /Size 7 /Root 1 0 R /XRefStm " + std::to_string(offsets[6]) +
         " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

// Images placed on pages by our own writer: a gradient with a dark block,
// different on every page.
Image pageImage(int w, int h, int seed)
{
  Image image;
  image.bps = 8;
  image.spp = 3;
  image.resize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = image.getRawData() + (size_t)y * image.stride() + (size_t)x * 3;
      const bool block = x > w / 4 + seed * 7 && x < w / 2 + seed * 7 && y > h / 3 && y < h / 2;
      p[0] = block ? 20 : uint8_t(x * 255 / w);
      p[1] = block ? 20 : uint8_t(y * 255 / h);
      p[2] = block ? 200 : uint8_t((seed * 80) & 255);
    }
  image.setResolution(72, 72);
  return image;
}

std::string ourPdf(int pages, int w = 120, int h = 90)
{
  std::ostringstream out(std::ios::out | std::ios::binary);
  {
    PDFCodec writer(&out, "Tolm test");
    for (int i = 0; i < pages; ++i) {
      Image image = pageImage(w, h, i);
      writer.beginPage(w, h);
      writer.showImage(image, 0, 0, w, h, 90, "flate");
    }
  }
  return out.str();
}

// The page as pdftoppm draws it at dpi.
bool pdftoppm(const std::string& tool, const std::string& file, int page, int dpi, Image& out)
{
  const std::string prefix = file + "-ref";
  const std::string cmd = tool + " -r " + std::to_string(dpi) + " -f " + std::to_string(page) +
                          " -l " + std::to_string(page) + " -singlefile " + file + " " + prefix;
  if (run(cmd) != 0)
    return false;
  return readPNM(out, prefix + ".ppm");
}

bool allGray(const Image& image)
{
  for (int y = 0; y < image.h; ++y)
    for (int x = 0; x < image.w; ++x)
      if (sampleAt(image, x, y, 0) != sampleAt(image, x, y, 1) ||
          sampleAt(image, x, y, 1) != sampleAt(image, x, y, 2))
        return false;
  return true;
}

// Our page against pdftoppm's (RGB): the same size, gray exactly when
// pdftoppm's pixels are all gray, mean difference small and few pixels far
// off.
void expectClose(const Image& a, const Image& b, const std::string& what)
{
  ASSERT_EQ(b.spp, 3) << what;
  ASSERT_EQ(a.spp, allGray(b) ? 1 : 3) << what;
  ASSERT_EQ(a.w, b.w) << what;
  ASSERT_EQ(a.h, b.h) << what;
  const int w = a.w, h = a.h;
  uint64_t sum = 0, far = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        const int d = std::abs(sampleAt(a, x, y, a.spp == 1 ? 0 : c) - sampleAt(b, x, y, c));
        sum += d;
        if (d > 40)
          ++far;
      }
  const double n = double(w) * h * 3;
  EXPECT_LT(sum / n, 1.5) << what;
  EXPECT_LT(far / n, 0.005) << what;
}

} // namespace

TEST(PDFReader, ThreePagesReadAtIndexOneGiveThatPageDrawnOnce)
{
  REQUIRE_TOOL(ppm, "pdftoppm");
  ResourceDir res(shippedResources());
  TempDir tmp;
  const std::string pdf = ourPdf(3);
  ASSERT_TRUE(writeFile(tmp.file("three.pdf"), pdf));

  Image image;
  const int64_t drawings = pdfreader::PopplerDocument::drawings();
  ASSERT_EQ(ImageCodec::Read(tmp.file("three.pdf"), image, "", 1), -3);
  EXPECT_EQ(image.getDecoderID(), "PDF");
  // drawn when read, once: 120 x 90 pt at 300 dpi
  EXPECT_EQ(pdfreader::PopplerDocument::drawings(), drawings + 1);
  EXPECT_EQ(image.w, 500);
  EXPECT_EQ(image.h, 375);
  EXPECT_EQ(image.bps, 8);
  EXPECT_EQ(image.spp, 3);
  EXPECT_EQ(image.resX, 300);
  EXPECT_EQ(image.resY, 300);
  EXPECT_NE(image.data, nullptr);
  EXPECT_FALSE(image.pixelsDirty);
  EXPECT_FALSE(image.metaDirty);
  ASSERT_NE(dynamic_cast<PDFReader*>(image.getCodec()), nullptr);

  ASSERT_NE(image.getRawData(), nullptr);
  EXPECT_EQ(pdfreader::PopplerDocument::drawings(), drawings + 1);
  EXPECT_FALSE(image.pixelsDirty);
  EXPECT_EQ(image.w, 500);
  EXPECT_EQ(image.h, 375);
  EXPECT_EQ(image.spp, 3);
  EXPECT_EQ(image.resX, 300);
  EXPECT_EQ(image.resY, 300);
  Image ref;
  ASSERT_TRUE(pdftoppm(ppm, tmp.file("three.pdf"), 2, 300, ref));
  expectClose(image, ref, "page 2");
  // page 2 differs from page 1
  Image first;
  ASSERT_TRUE(pdftoppm(ppm, tmp.file("three.pdf"), 1, 300, first));
  EXPECT_FALSE(samePixels(first, ref));
}

TEST(PDFReader, PastTheLastPageOrBeforeTheFirstIsNotRead)
{
  ResourceDir res(shippedResources());
  const std::string pdf = ourPdf(2);
  for (int index : {2, 7, -1}) {
    Image image;
    EXPECT_EQ(readBytes(pdf, image, index, "pdf"), 0) << index;
    EXPECT_EQ(image.getCodec(), nullptr);
  }
}

// Each page is drawn once, when read, and is gray exactly when every pixel
// pdftoppm draws is: a speck or a hairline of colour makes it colour,
// colour painted over makes it no colour. Counting pages draws none.
TEST(PDFReader, EachPageDrawnOnceItsFormatFromTheDrawing)
{
  REQUIRE_TOOL(ppm, "pdftoppm");
  ResourceDir res(shippedResources());
  TempDir tmp;
  struct Case {
    const char* name;
    std::string content;
    int spp;
  } cases[] = {
    {"gray shapes", handPage(200, 150) + "0.25 G 2 w 10 10 m 190 140 l S\n", 1},
    {"colour box", "0 0.4 1 rg 20 20 100 60 re f\n", 3},
    // a tenth of a point of red
    {"speck of colour", handPage(200, 150) + "1 0 0 rg 150.3 70.3 0.1 0.1 re f\n", 3},
    {"hairline in colour", "0 0.6 0 RG 0 w 5 5 m 195 6 l S\n", 3},
    {"colour under white", "1 0 0 rg 20 20 50 50 re f 1 g 10 10 80 80 re f\n", 1},
    {"empty page", "", 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string file = tmp.file("case" + std::to_string(n++) + ".pdf");
    ASSERT_TRUE(writeFile(file, handPdf({c.content, c.content}, 200, 150, 0)));
    const int64_t before = pdfreader::PopplerDocument::drawings();
    Image counted;
    ASSERT_EQ(ImageCodec::Read(file, counted, "count", 0), 2) << c.name;
    EXPECT_EQ(pdfreader::PopplerDocument::drawings(), before) << c.name;
    for (int page = 0; page < 2; ++page) {
      Image image;
      ASSERT_EQ(ImageCodec::Read(file, image, "", page), -2) << c.name;
      EXPECT_EQ(image.spp, c.spp) << c.name;
      ASSERT_NE(image.getRawData(), nullptr) << c.name;
      EXPECT_EQ(image.spp, c.spp) << c.name;
      EXPECT_EQ(pdfreader::PopplerDocument::drawings(), before + 1 + page) << c.name;
      Image ref;
      ASSERT_TRUE(pdftoppm(ppm, file, page + 1, 300, ref)) << c.name;
      expectClose(image, ref, c.name);
    }
  }
}

TEST(PDFReader, DocumentsOfSeveralProducers)
{
  REQUIRE_TOOL(ppm, "pdftoppm");
  REQUIRE_TOOL(qpdf, "qpdf");
  REQUIRE_TOOL(img2pdf, "img2pdf");
  REQUIRE_TOOL(cairo, "pdftocairo");
  ResourceDir res(shippedResources());
  TempDir tmp;

  const std::string ours = tmp.file("ours.pdf");
  ASSERT_TRUE(writeFile(ours, ourPdf(2)));
  // img2pdf from two PNG files of our own
  for (int i = 0; i < 2; ++i) {
    Image image = pageImage(100 + 20 * i, 80, i + 1);
    ASSERT_TRUE(ImageCodec::Write(tmp.file("p" + std::to_string(i) + ".png"), image));
  }
  ASSERT_EQ(run(img2pdf + " " + tmp.file("p0.png") + " " + tmp.file("p1.png") + " -o " +
                tmp.file("img2pdf.pdf")),
            0);
  ASSERT_EQ(run(qpdf + " --object-streams=generate " + ours + " " + tmp.file("objstm.pdf")), 0);
  ASSERT_EQ(run(qpdf + " --linearize " + ours + " " + tmp.file("linear.pdf")), 0);
  ASSERT_EQ(run(cairo + " -pdf " + ours + " " + tmp.file("cairo.pdf")), 0);
  const std::string two = handPdf({handPage(200, 150), handPage(200, 150)}, 200, 150, 0);
  ASSERT_TRUE(writeFile(tmp.file("updated.pdf"), incrementalUpdate(two, 2, 200, 150)));
  ASSERT_TRUE(writeFile(tmp.file("rotated.pdf"), handPdf({handPage(200, 150)}, 200, 150, 90)));
  // the table's offsets all point 7 bytes early, and startxref nowhere
  std::string damaged = handPdf({handPage(160, 120), handPage(160, 120)}, 160, 120, 0);
  damaged.insert(9, "%shift!\n");
  damaged.replace(damaged.rfind("startxref") + 10, 3, "999");
  ASSERT_TRUE(writeFile(tmp.file("damaged.pdf"), damaged));

  struct Case {
    const char* file;
    int pages;
    bool needsInflate; // structure only in compressed streams
  } cases[] = {
      {"ours.pdf", 2, false},   {"img2pdf.pdf", 2, false}, {"objstm.pdf", 2, true},
      {"linear.pdf", 2, false}, {"cairo.pdf", 2, false},   {"updated.pdf", 3, false},
      {"rotated.pdf", 1, false}, {"damaged.pdf", 2, false},
  };
  for (const Case& c : cases) {
    if (c.needsInflate && !tolmModuleLinked()) {
      std::cerr << "skipped " << c.file << ": the Tolm module is not linked" << std::endl;
      continue;
    }
    const std::string file = tmp.file(c.file);
    const int last = c.pages - 1;
    Image image;
    ASSERT_EQ(ImageCodec::Read(file, image, "", last), -c.pages) << c.file;
    ASSERT_NE(image.getRawData(), nullptr) << c.file;
    Image ref;
    ASSERT_TRUE(pdftoppm(ppm, file, c.pages, 300, ref)) << c.file;
    expectClose(image, ref, c.file);
  }
}

TEST(PDFReader, RotatedPageComesOutTurned)
{
  ResourceDir res(shippedResources());
  Image image;
  ASSERT_EQ(readBytes(handPdf({handPage(200, 150)}, 200, 150, 90), image, 0), -1);
  ASSERT_NE(image.getRawData(), nullptr);
  EXPECT_EQ(image.w, 625); // 150 pt wide as shown
  EXPECT_EQ(image.h, 834);
  // the gray bar along the page's top runs down the right side
  EXPECT_EQ(pixelAt(image, image.w - 20, image.h / 2), (std::vector<int>{128}));
}

TEST(PDFReader, A4At300Dpi)
{
  ResourceDir res(shippedResources());
  Image image;
  ASSERT_EQ(readBytes(handPdf({handPage(595, 842)}, 595, 842, 0), image, 0), -1);
  ASSERT_NE(image.getRawData(), nullptr);
  EXPECT_EQ(image.w, 2480); // as pdftoppm: 2479.17 rounded up
  EXPECT_EQ(image.h, 3509);
}

TEST(PDFReader, UntouchedPageWrittenAsPdfIsAValidDocument)
{
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  ResourceDir res(shippedResources());
  TempDir tmp;
  Image image;
  ASSERT_EQ(readBytes(ourPdf(2), image, 1), -2);
  ASSERT_TRUE(ImageCodec::Write(tmp.file("again.pdf"), image));
  std::string info;
  ASSERT_EQ(run(pdfinfo + " " + tmp.file("again.pdf"), &info), 0);
  EXPECT_NE(info.find("\nPages:           1\n"), std::string::npos) << info;
}

// Fixture scripts for the ways opening fails: each time nothing is read,
// the stream is handed back whole at position 0 and the next codec reads.
TEST(PDFReader, FailedOpeningsHandTheStreamBack)
{
  const std::string pdf = ourPdf(1);
  const std::string common =
      "function pdfInfo(d) end\nfunction pdfRasterize() return false end\n"
      "function pdfClose(d) end\n";
  struct Case {
    const char* what;
    const char* script; // null: no script at all
    const char* message;
  } cases[] = {
      {"missing script", nullptr, "there were errors loading "},
      {"script does not compile", "function (", "there were errors loading "},
      {"script raises while loading", "error('not today')", "not today"},
      {"no pdfOpen", "function pdfPages() return 1 end", ""},
      {"pdfOpen raises", "function pdfOpen(s) error('cannot open') end\n"
                         "function pdfPages() return 1 end",
       "failed to open PDF: "},
      {"pdfOpen returns no table", "function pdfOpen(s) return 42 end", ""},
      {"pdfOpen closes and deletes the stream",
       "function pdfOpen(s) s:read(10); s:close(); s:delete(); return nil end", ""},
      {"pdfOpen reads to the end", "function pdfOpen(s) s:read('*all'); s:read(5) end", ""},
      {"pdfInfo raises", "function pdfOpen(s) return {s = s} end\n"
                         "function pdfInfo(d) error('bad info') end",
       "bad info"},
      {"zero pages", "function pdfOpen(s) return {s = s} end\n"
                     "function pdfPages(d) return 0 end",
       ""},
      {"pdfPages raises", "function pdfOpen(s) return {s = s} end\n"
                          "function pdfPages(d) error('no count') end",
       "no count"},
  };
  Image png = pageImage(30, 20, 1);
  std::ostringstream pngBytes;
  ASSERT_TRUE(ImageCodec::Write(&pngBytes, png, "png", ""));

  for (const Case& c : cases) {
    TempDir dir;
    if (c.script) {
      const std::string rest = std::strstr(c.script, "pdfInfo") ? "" : common;
      ASSERT_TRUE(writeFile(dir.file("PDF.bcz"), c.script + std::string("\n") + rest));
    }
    ResourceDir res(dir.path());
    std::stringstream in(pdf, std::ios::in | std::ios::out | std::ios::binary);
    Image image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ImageCodec::Read(&in, image, ""), 0) << c.what;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.message), std::string::npos) << c.what << ": " << err;
    EXPECT_EQ(image.getCodec(), nullptr) << c.what;
    // the stream is still the caller's, whole and rewound
    EXPECT_TRUE(in.good()) << c.what;
    EXPECT_EQ(in.tellg(), 0) << c.what;
    EXPECT_EQ(in.str(), pdf) << c.what;
    // and the next image on it reads
    in.str(pngBytes.str());
    in.clear();
    EXPECT_EQ(ImageCodec::Read(&in, image, ""), 1) << c.what;
    EXPECT_EQ(image.getDecoderID(), "PNG") << c.what;
    EXPECT_TRUE(samePixels(image, png)) << c.what;
  }
}

TEST(PDFReader, PostScriptReachesTheScriptAndIsDeclined)
{
  ResourceDir res(shippedResources());
  const std::string ps = "%!PS-Adobe-3.0\n%%Pages: 1\nnewpath 0 0 moveto showpage\n%%EOF\n";
  std::istringstream in(ps);
  Image image;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ImageCodec::Read(&in, image, ""), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(in.good());
  EXPECT_EQ(in.tellg(), 0);
}

// The reader keeps its own hold on the input: dropping the script's istream
// or closing it changes nothing, the page is drawn from the document poppler
// holds.
TEST(PDFReader, TheScriptsHoldOnTheStream)
{
  const std::string pdf = handPdf({handPage(100, 100)}, 100, 100, 0);
  const std::string base =
      "function pdfPages(d) return 1 end\nfunction pdfRasterize() return false end\n"
      "function pdfClose(d) end\n";
  {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("PDF.bcz"),
                          base + "function pdfOpen(s) return {} end\n"
                                 "function pdfInfo(d) collectgarbage('collect') end\n"));
    ResourceDir res(dir.path());
    Image image;
    ASSERT_EQ(readBytes(pdf, image, 0), -1);
    ASSERT_NE(image.getRawData(), nullptr);
    EXPECT_EQ(image.w, 417);
  }
  {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("PDF.bcz"),
                          base + "function pdfOpen(s) return {s = s} end\n"
                                 "function pdfInfo(d) d.s:close() end\n"));
    ResourceDir res(dir.path());
    Image image;
    ASSERT_EQ(readBytes(pdf, image, 0), -1);
    ASSERT_NE(image.getRawData(), nullptr);
    EXPECT_EQ(image.w, 417);
  }
}

TEST(PDFReader, ScriptErrorsInTheProbeAndInPdfClose)
{
  const std::string pdf = handPdf({handPage(100, 100), handPage(100, 100)}, 100, 100, 0);
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.file("PDF.bcz"),
                        "function pdfOpen(s) return {s = s} end\nfunction pdfInfo(d) end\n"
                        "function pdfPages(d) return 2 end\n"
                        "function pdfRasterize(d, page, dpi, a, b, probe, q)\n"
                        "  error('probe ' .. page .. ' ' .. dpi .. ' ' .. tostring(a) ..\n"
                        "        tostring(b) .. tostring(probe) .. ' ' .. q)\nend\n"
                        "function pdfClose(d) error('close failed') end\n"));
  ResourceDir res(dir.path());
  testing::internal::CaptureStderr();
  {
    Image image;
    ASSERT_EQ(readBytes(pdf, image, 1), -2);
    // the probe failed: poppler draws the page
    ASSERT_NE(image.getRawData(), nullptr);
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("failed to get PDF image natively: "), std::string::npos) << err;
  EXPECT_NE(err.find("probe 2 300 falsetruetrue 10"), std::string::npos) << err;
  EXPECT_NE(err.find("failed to close PDF: "), std::string::npos) << err;
  EXPECT_NE(err.find("close failed"), std::string::npos) << err;
}

TEST(PDFReader, DocumentPopplerCannotOpenIsNotRead)
{
  // The script accepts anything starting with "%": poppler, which would
  // draw it, cannot open it, so it is not read.
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.file("PDF.bcz"),
                        "function pdfOpen(s) return {s = s} end\nfunction pdfInfo(d) end\n"
                        "function pdfPages(d) return 1 end\n"
                        "function pdfRasterize() return false end\nfunction pdfClose(d) end\n"));
  ResourceDir res(dir.path());
  Image image;
  testing::internal::CaptureStderr();
  EXPECT_EQ(readBytes("%not a document at all\n", image, 0), 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("PDF: poppler cannot open the document (1 pages found in it); not read\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(image.getCodec(), nullptr);
  EXPECT_TRUE(image.empty());
}

// A script that draws pages itself: the probe answers true and the render
// call returns a script Image, whose pixels the page takes over; anything
// else returned falls back to poppler.
TEST(PDFReader, ScriptDrawnPages)
{
  const std::string pdf = handPdf({handPage(100, 100), handPage(100, 100)}, 100, 100, 0);
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.file("PDF.bcz"),
                        "local Tolm = require('Tolm')\n"
                        "function pdfOpen(s) return {} end\nfunction pdfInfo(d) end\n"
                        "function pdfPages(d) return 2 end\n"
                        "function pdfRasterize(d, page, dpi, a, b, probe, q)\n"
                        "  if probe then return true end\n"
                        "  assert(a == false and b == true and probe == false and q == 10)\n"
                        "  if page == 2 then return 'no image' end\n"
                        "  local img = Tolm.Image.new()\n"
                        "  img:setImageData(3, 2, 1, 8, string.char(1, 2, 3, 4, 5, dpi % 256))\n"
                        "  img:setResolution(dpi)\n"
                        "  collectgarbage('collect')\n"
                        "  return img\n"
                        "end\nfunction pdfClose(d) end\n"));
  ResourceDir res(dir.path());
  Image first;
  ASSERT_EQ(readBytes(pdf, first, 0), -2);
  ASSERT_NE(first.getRawData(), nullptr);
  EXPECT_EQ(first.w, 3);
  EXPECT_EQ(first.h, 2);
  EXPECT_EQ(first.spp, 1);
  EXPECT_EQ(samplesOf(first), (std::vector<int>{1, 2, 3, 4, 5, 300 % 256}));
  EXPECT_EQ(first.resX, 300);
  Image second;
  ASSERT_EQ(readBytes(pdf, second, 1), -2);
  ASSERT_NE(second.getRawData(), nullptr);
  EXPECT_EQ(second.w, 417);
  EXPECT_EQ(second.spp, 1); // black and gray only
}

// The shipped script beside the real executable: PDF pages into a TIFF
// file and back into a PDF document.
TEST(PDFReader, TolmTurnsPdfPagesIntoATiffAndBack)
{
  REQUIRE_TOOL(ppm, "pdftoppm");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  const std::string tolm = binaryDir() + "/host/tolm";
  if (!std::ifstream(tolm)) {
    if (underCI())
      FAIL() << "tolm is not built";
    GTEST_SKIP() << "tolm is not built";
  }
  ASSERT_TRUE(std::ifstream(binaryDir() + "/host/PDF.bcz").good());
  TempDir tmp;
  ASSERT_TRUE(writeFile(tmp.file("in.pdf"), ourPdf(3)));
  const std::string script = sourceDir() + "/tests/pdfreader/scripts/pdf_tiff_pdf.lua";
  std::string out;
  // the resource directory is the executable's own
  const int rc = run("cd / && env -u TOLM_RESOURCE_DIR TOLM_HEADLESS=1 " + tolm + " --script " +
                         script + " " + tmp.file("in.pdf") + " " + tmp.file("pages.tif") + " " +
                         tmp.file("back.pdf") + " 2>&1",
                     &out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_EQ(out, "3\t3\n");
  for (int page = 0; page < 3; ++page) {
    Image tiffPage, ref;
    ASSERT_NE(ImageCodec::Read(tmp.file("pages.tif"), tiffPage, "", page), 0) << page;
    ASSERT_TRUE(pdftoppm(ppm, tmp.file("in.pdf"), page + 1, 300, ref));
    expectClose(tiffPage, ref, "TIFF page " + std::to_string(page + 1));
  }
  std::string info;
  ASSERT_EQ(run(pdfinfo + " " + tmp.file("back.pdf"), &info), 0);
  EXPECT_NE(info.find("\nPages:           3\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Page size:       120 x 90 pts"), std::string::npos) << info;
}

TEST(PDFReader, HybridFileTakesCompressedObjectsFromItsStream)
{
  ResourceDir res(shippedResources());
  const std::string pdf = hybridPdf();
  Image image;
  // poppler does not take this one: its count is told, the file not read
  testing::internal::CaptureStderr();
  const int got = readBytes(pdf, image, 1);
  const std::string err = testing::internal::GetCapturedStderr();
  if (got == 0)
    EXPECT_NE(err.find("PDF: the page tree holds 2 pages, poppler finds 0"), std::string::npos)
        << err;
  else
    EXPECT_EQ(got, -2);
  if (std::string qpdf = findTool("qpdf"); !qpdf.empty()) {
    TempDir tmp;
    ASSERT_TRUE(writeFile(tmp.file("hybrid.pdf"), pdf));
    std::string pages;
    ASSERT_EQ(run(qpdf + " --show-npages " + tmp.file("hybrid.pdf"), &pages), 0);
    EXPECT_EQ(pages, "2\n");
  }
}

// Without any cross-reference data the script counts the pages in the file,
// one by one also where a page's type falls across two pieces of the scan.
TEST(PDFReader, DamagedFileCountedAcrossScanPieces)
{
  ResourceDir res(shippedResources());
  const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 80] >>";
  for (int k = -4; k <= 80; k += 3) {
    std::string pdf = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
                      "2 0 obj\n<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>\nendobj\n";
    // the first page's "/Type" starts k bytes before the 64 KiB mark
    const size_t at = 65536 - k - std::string("\n3 0 obj\n<< ").size();
    pdf += "%" + std::string(at - pdf.size() - 1, 'x');
    pdf += "\n3 0 obj\n" + page + "\nendobj\n4 0 obj\n" + page + "\nendobj\n5 0 obj\n" + page +
           "\nendobj\n%%EOF\n";
    ASSERT_EQ(pdf.find("/Type /Page "), size_t(65536 - k));
    // poppler, which would draw them, cannot open it without a trailer: the
    // file is not read, and the count the script found is told
    Image image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(readBytes(pdf, image, 0), 0) << k;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("PDF: poppler cannot open the document (3 pages found in it); not read\n"),
              std::string::npos)
        << k << ": " << err;
  }
}

// Damaged copies of real documents (bytes changed, cut short): each is
// either declined or read with a page count, never a crash or a hang.
TEST(PDFReader, DamagedCopiesAreDeclinedOrCounted)
{
  REQUIRE_TOOL(qpdf, "qpdf");
  ResourceDir res(shippedResources());
  TempDir tmp;
  ASSERT_TRUE(writeFile(tmp.file("ours.pdf"), ourPdf(3, 40, 30)));
  ASSERT_EQ(run(qpdf + " --object-streams=generate " + tmp.file("ours.pdf") + " " +
                tmp.file("objstm.pdf")),
            0);
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (const char* name : {"ours.pdf", "objstm.pdf"}) {
    const std::string original = readFile(tmp.file(name));
    ASSERT_FALSE(original.empty());
    for (int round = 0; round < 200; ++round) {
      std::string bytes = original;
      if (round % 4 == 3) {
        bytes.resize(1 + next() % bytes.size());
      } else {
        const int flips = 1 + round % 8;
        for (int i = 0; i < flips; ++i)
          bytes[1 + next() % (bytes.size() - 1)] = char(next());
      }
      Image image;
      testing::internal::CaptureStderr();
      const int res = readBytes(bytes, image, 0);
      // the page of some of them is drawn too: always the page announced
      if (res < 0 && round % 5 == 0) {
        const int w = image.w, h = image.h, spp = image.spp;
        EXPECT_GT(w, 0);
        EXPECT_GT(h, 0);
        EXPECT_NE(image.getRawData(), nullptr);
        EXPECT_EQ(image.w, w);
        EXPECT_EQ(image.h, h);
        EXPECT_EQ(image.spp, spp);
      }
      testing::internal::GetCapturedStderr();
      EXPECT_LE(res, 0) << name << " round " << round;
      EXPECT_GE(res, -100000) << name << " round " << round;
    }
  }
}

// A file read page by page through the registry, as the jobs read it (its
// count, then each page, each time by name): one document is opened and
// shared, and goes once its pages are read and their images gone. The
// same name holding another file is read again.
TEST(PDFReader, OneDocumentForTheCountAndEveryPage)
{
  ResourceDir res(shippedResources());
  TempDir tmp;
  const std::string file = tmp.file("doc.pdf");
  ASSERT_TRUE(writeFile(file, ourPdf(4)));
  const int before = PDFReader::documentsOpened();
  Image counted;
  ASSERT_EQ(ImageCodec::Read(file, counted, "count", 0), 4);
  EXPECT_EQ(counted.getCodec(), nullptr);
  for (int page = 0; page < 4; ++page) {
    Image image;
    ASSERT_EQ(ImageCodec::Read(file, image, "", page), -4) << page;
    ASSERT_NE(image.getRawData(), nullptr) << page;
    Image ref;
    ASSERT_EQ(readBytes(ourPdf(4), ref, page), -4);
    EXPECT_TRUE(samePixels(image, ref)) << page;
  }
  // the readBytes above read streams, which are no file: each its own
  EXPECT_EQ(PDFReader::documentsOpened(), before + 1 + 4);
  // every page was read and its image is gone: so is the document
  ASSERT_EQ(ImageCodec::Read(file, counted, "count", 0), 4);
  EXPECT_EQ(PDFReader::documentsOpened(), before + 6);
  // another file under the same name
  ASSERT_TRUE(writeFile(file, ourPdf(2)));
  ASSERT_EQ(ImageCodec::Read(file, counted, "count", 0), 2);
  EXPECT_EQ(PDFReader::documentsOpened(), before + 7);
}

// Bytes that spell a calibrated gray array outside any colour space, in an
// uncompressed image and in a shown string, reach poppler as they are: the
// page is drawn as pdftoppm draws it and its text is what pdftotext reads.
TEST(PDFReader, CalibratedGrayBytesOutsideColourSpacesUntouched)
{
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(ppm, "pdftoppm");
  REQUIRE_TOOL(text, "pdftotext");
  ResourceDir res(shippedResources());
  TempDir tmp;
  const std::string file = tmp.file("spell.pdf");
  ASSERT_EQ(run(python + " " + sourceDir() + "/tests/pdfreader/scripts/make_pdf.py calspell " +
                file),
            0);
  Image image;
  ASSERT_EQ(ImageCodec::Read(file, image, "", 0), -1);
  auto* reader = dynamic_cast<PDFReader*>(image.getCodec());
  ASSERT_NE(reader, nullptr);
  ASSERT_NE(reader->poppler, nullptr);
  const std::vector<char>& seen = reader->poppler->data();
  ASSERT_TRUE(writeFile(tmp.file("seen.pdf"), std::string(seen.begin(), seen.end())));
  std::string want, got;
  ASSERT_EQ(run(text + " " + file + " -", &want), 0);
  ASSERT_EQ(run(text + " " + tmp.file("seen.pdf") + " -", &got), 0);
  EXPECT_NE(want.find("[/CalGray <</Gamma 2.2>>]"), std::string::npos) << want;
  EXPECT_EQ(got, want);
  Image ref;
  ASSERT_TRUE(pdftoppm(ppm, file, 1, 300, ref));
  const uint8_t* ours = image.getRawData();
  ASSERT_NE(ours, nullptr);
  // the page is gray (read as one sample a pixel): each against pdftoppm's
  // red, which equals its green and blue
  ASSERT_EQ(image.w, ref.w);
  ASSERT_EQ(image.h, ref.h);
  int differ = 0;
  for (int y = 0; y < image.h; ++y)
    for (int x = 0; x < image.w; ++x)
      differ += ours[size_t(y) * image.stride() + size_t(x) * image.spp] !=
                ref.getRawData()[size_t(y) * ref.stride() + size_t(x) * ref.spp];
  EXPECT_EQ(differ, 0);
}
