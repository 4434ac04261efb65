// PDF pages as a user meets them: documents made by other programs (or
// generated here, for the hostile and damaged ones) read by the real tolm,
// through a script and through doc2pdf, checked with poppler's and qpdf's
// tools.
#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::string tolmPath() { return binaryDir() + "/host/tolm"; }

#define REQUIRE_TOLM()                                                                             \
  do {                                                                                             \
    if (!std::ifstream(tolmPath())) {                                                              \
      if (underCI())                                                                               \
        FAIL() << "tolm is not built";                                                             \
      GTEST_SKIP() << "tolm is not built";                                                         \
    }                                                                                              \
  } while (0)

// tolm with its own resource directory, output and errors together.
int tolm(const std::string& args, std::string* out)
{
  return run("cd / && env -u TOLM_RESOURCE_DIR TOLM_HEADLESS=1 " + tolmPath() + " " + args +
                 " 2>&1",
             out);
}

// Writes a generated document (scripts/make_pdf.py).
void makePdf(const std::string& python, const std::string& args)
{
  const std::string gen = sourceDir() + "/tests/pdfreader/scripts/make_pdf.py";
  ASSERT_EQ(run(python + " " + gen + " " + args), 0) << args;
}

bool pdftoppm(const std::string& tool, const std::string& file, int page, Image& out,
              const std::string& prefix)
{
  const std::string cmd = tool + " -r 300 -f " + std::to_string(page) + " -l " +
                          std::to_string(page) + " -singlefile " + file + " " + prefix;
  return run(cmd) == 0 && readPNM(out, prefix + ".ppm");
}

int pagesOf(const std::string& pdfinfo, const std::string& file)
{
  std::string info;
  if (run(pdfinfo + " " + file, &info) != 0)
    return -1;
  const size_t at = info.find("\nPages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 7);
}

// The rows of pdfimages -list after its two header lines.
std::vector<std::string> imageList(const std::string& pdfimages, const std::string& file)
{
  std::string out;
  std::vector<std::string> rows;
  if (run(pdfimages + " -list " + file, &out) != 0)
    return rows;
  std::istringstream in(out);
  std::string line;
  for (int n = 0; std::getline(in, line); ++n)
    if (n >= 2)
      rows.push_back(line);
  return rows;
}

bool readFile(const std::string& path, std::string& out)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  out = all.str();
  return bool(in);
}

// Dark pixels in row y.
int darkInRow(const Image& image, int y)
{
  int n = 0;
  for (int x = 0; x < image.w; ++x)
    if (sampleAt(image, x, y, 0) < 128)
      ++n;
  return n;
}

// Pixels of two drawings of a page that differ by more than a level in a
// sample (a one-sample drawing counts as gray), or -1 when their sizes
// differ.
int pixelsApart(const Image& a, const Image& b)
{
  if (a.w != b.w || a.h != b.h || a.w <= 0 || a.h <= 0)
    return -1;
  int n = 0;
  for (int y = 0; y < a.h; ++y)
    for (int x = 0; x < a.w; ++x)
      for (int k = 0; k < 3; ++k)
        if (std::abs(sampleAt(a, x, y, a.spp == 1 ? 0 : k) -
                     sampleAt(b, x, y, b.spp == 1 ? 0 : k)) > 1) {
          ++n;
          break;
        }
  return n;
}

// The image doc2pdf stored for page `writtenPage` against page `inputPage`
// of its input as pdftoppm draws it: the same pixels. (pdftoppm's drawing
// of the written page would not do: it resamples an image even where it
// falls on whole pixels.)
void expectStoredAsDrawn(const std::string& pdfimages, const std::string& ppm,
                         const TempDir& tmp, const std::string& input, int inputPage,
                         const std::string& written, int writtenPage)
{
  Image ref, stored;
  ASSERT_TRUE(pdftoppm(ppm, input, inputPage, ref, tmp.file("ref")));
  const std::string prefix = tmp.file("stored");
  const std::string page = std::to_string(writtenPage);
  ASSERT_EQ(run("rm -f " + prefix + "-*; " + pdfimages + " -f " + page + " -l " + page + " " +
                written + " " + prefix),
            0);
  // one sample a pixel or three, as pdfimages likes
  ASSERT_TRUE(readPNM(stored, prefix + "-000.pgm") || readPNM(stored, prefix + "-000.ppm"));
  EXPECT_EQ(pixelsApart(ref, stored), 0) << "page " << inputPage;
}

// The one page doc2pdf wrote from a calibrated gray fixture (calgray or
// calcomments, 600 x 400 pt): one image, stored gray; white 255 at the top
// left and the ramp's grays as other renderers draw them (64 at 172 pt
// across, 136 pt down).
void expectNeutralGrayPage(const std::string& pdfimages, const std::string& ppm,
                           const TempDir& tmp, const std::string& written)
{
  const std::vector<std::string> rows = imageList(pdfimages, written);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_NE(rows[0].find(" gray "), std::string::npos) << rows[0];
  Image page;
  ASSERT_TRUE(pdftoppm(ppm, written, 1, page, tmp.file("p")));
  const int s = 300;
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(sampleAt(page, 10, 10, k), 255) << k;
    EXPECT_NEAR(sampleAt(page, (44 + 128) * s / 72, 136 * s / 72, k), 64, 2) << k;
  }
}

} // namespace

// Size, format, scale and crop of a page not yet drawn: what the page is
// when drawn, as pdftoppm draws it (611.97 pt: 2550 pixels at 300 dpi).
TEST(TolmPages, PageNotYetDrawnAnswersAsDrawn)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(ppm, "pdftoppm");
  TempDir tmp;
  makePdf(python, "colour " + tmp.file("colour.pdf"));
  makePdf(python, "gray " + tmp.file("gray.pdf"));
  struct Case {
    const char* file;
    int spp;
  } cases[] = {{"colour.pdf", 3}, {"gray.pdf", 1}};
  const std::string script = sourceDir() + "/tests/pdfreader/scripts/untouched_pages.lua";
  for (const Case& c : cases) {
    Image ref;
    ASSERT_TRUE(pdftoppm(ppm, tmp.file(c.file), 1, ref, tmp.file("ref")));
    std::string out;
    ASSERT_EQ(tolm("--script " + script + " " + tmp.file(c.file) + " 0 " + tmp.file("out"), &out),
              0)
        << out;
    const std::string w = std::to_string(ref.w), h = std::to_string(ref.h),
                      spp = std::to_string(c.spp);
    EXPECT_EQ(out, "pages\t1\nsize\t" + w + "\t" + h + "\t" + w + "\t" + h + "\t" + spp +
                       "\t8\nscale\t" + std::to_string(ref.w / 2) + "\t" +
                       std::to_string(ref.h / 2) + "\t" + spp + "\t8\ncrop\t300\t200\t" + spp +
                       "\t8\n")
        << c.file;
    if (std::string(c.file) == "colour.pdf") {
      EXPECT_EQ(ref.w, 2550);
      EXPECT_EQ(ref.h, 3300);
    }

    Image page, cropped, scaled;
    ASSERT_NE(ImageCodec::Read(tmp.file("out-page.png"), page), 0) << c.file;
    ASSERT_NE(ImageCodec::Read(tmp.file("out-cropped.png"), cropped), 0) << c.file;
    ASSERT_NE(ImageCodec::Read(tmp.file("out-scaled.png"), scaled), 0) << c.file;
    ASSERT_EQ(page.w, ref.w);
    ASSERT_EQ(page.h, ref.h);
    EXPECT_EQ(scaled.w, ref.w / 2);
    // the page and the crop of it against pdftoppm's page
    for (const auto& [img, x0, y0] : {std::tuple<const Image&, int, int>{page, 0, 0},
                                      std::tuple<const Image&, int, int>{cropped, 40, 60}}) {
      ASSERT_EQ(img.spp, c.spp) << c.file;
      uint64_t diff = 0;
      for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x)
          for (int k = 0; k < 3; ++k)
            diff += std::abs(sampleAt(img, x, y, c.spp == 1 ? 0 : k) -
                             sampleAt(ref, x + x0, y + y0, k));
      EXPECT_LT(double(diff) / (double(img.w) * img.h * 3), 1.0) << c.file << " at " << x0;
    }
  }
}

// A page tree whose /Count says 2 or 9 for 4 pages, also with the pages
// under intermediate nodes: all 4 pages, each its own.
TEST(TolmPages, WrongPageTreeCount)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(ppm, "pdftoppm");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  TempDir tmp;
  for (const std::string args : {"4 2", "4 9", "4 2 nested", "4 9 nested", "4 4 nested"}) {
    std::istringstream words(args);
    std::string n, count, nested;
    words >> n >> count >> nested;
    makePdf(python, "pages " + n + " " + count + " " + tmp.file("in.pdf") + " " + nested);
    std::string out;
    ASSERT_EQ(tolm("doc2pdf " + tmp.file("in.pdf") + " " + tmp.file("out.pdf"), &out), 0)
        << args << ": " << out;
    EXPECT_NE(out.find("wrote " + tmp.file("out.pdf") + ": 4 pages"), std::string::npos) << out;
    ASSERT_EQ(pagesOf(pdfinfo, tmp.file("out.pdf")), 4) << args;
    for (int i = 0; i < 4; ++i) {
      Image page;
      ASSERT_TRUE(pdftoppm(ppm, tmp.file("out.pdf"), i + 1, page, tmp.file("p")));
      // the box of page i: 50 + 20 i points wide, 36 to 86 pt from the bottom
      const int wide = darkInRow(page, page.h - 1 - 60 * 300 / 72);
      EXPECT_NEAR(wide, (50 + 20 * i) * 300 / 72, 2) << args << " page " << i + 1;
    }
  }
}

// Encrypted with an owner password only, objects in object streams: read
// as every viewer reads it. A user password: a clear refusal.
TEST(TolmPages, EncryptedObjectStreams)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(qpdf, "qpdf");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  TempDir tmp;
  makePdf(python, "pages 4 4 " + tmp.file("plain.pdf"));
  for (const char* user : {"\"\"", "secret"}) {
    ASSERT_EQ(run(qpdf + " --object-streams=generate --encrypt " + user + " owner 256 -- " +
                  tmp.file("plain.pdf") + " " + tmp.file("enc.pdf")),
              0);
    std::string out;
    const int rc = tolm("doc2pdf " + tmp.file("enc.pdf") + " " + tmp.file("out.pdf"), &out);
    if (std::string(user) == "\"\"") {
      ASSERT_EQ(rc, 0) << out;
      EXPECT_EQ(pagesOf(pdfinfo, tmp.file("out.pdf")), 4);
    } else {
      // one line, the job's, with the cause
      EXPECT_EQ(rc, 1) << out;
      EXPECT_EQ(out, "tolm doc2pdf: cannot read " + tmp.file("enc.pdf") +
                         ": the document is encrypted and needs a password\n");
    }
  }
}

// A page doc2pdf wrote reads back as written: doc2pdf of its own output
// gives the same pixels and the same file again, pass after pass, for
// gray, colour and black-and-white pages and a page whose size in points
// (32.16 x 33.12) poppler reads a hair larger than written.
TEST(TolmPages, OwnPagesReadBackAsWritten)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  const std::string script = sourceDir() + "/tests/pdfreader/scripts/read_back.py";
  struct Case {
    const char* kind;
    int w, h;
    const char* options;
  } cases[] = {
      {"gray", 1240, 1754, ""},
      {"rgb", 1240, 1754, ""},
      {"gray", 1240, 1754, "--bw "},
      {"rgb", 134, 138, ""},
  };
  TempDir tmp;
  for (const Case& c : cases) {
    const std::string name = std::string(c.options) + c.kind + " " + std::to_string(c.w) + "x" +
                             std::to_string(c.h);
    SCOPED_TRACE(name);
    ASSERT_EQ(run(python + " " + script + " page " + c.kind + " " + std::to_string(c.w) + " " +
                  std::to_string(c.h) + " " + tmp.file("scan.png")),
              0);
    // scan -> pass1 -> pass2 -> pass3, each pass reading the one before
    std::string from = tmp.file("scan.png"), out;
    std::vector<std::string> sizes;
    for (int pass = 1; pass <= 3; ++pass) {
      const std::string pdf = tmp.file("pass" + std::to_string(pass) + ".pdf");
      ASSERT_EQ(tolm("doc2pdf " + std::string(c.options) + from + " " + pdf, &out), 0) << out;
      ASSERT_EQ(run(pdfimages + " -png " + pdf + " " + tmp.file("pass" + std::to_string(pass))),
                0);
      std::string bytes;
      ASSERT_TRUE(readFile(pdf, bytes));
      sizes.push_back(std::to_string(bytes.size()));
      from = pdf;
    }
    auto same = [&](const std::string& a, const std::string& b) {
      std::string said;
      const int rc = run(python + " " + script + " same " + a + " " + b, &said);
      EXPECT_EQ(rc, 0) << a << " and " << b << ": " << said;
    };
    if (!*c.options)
      same(tmp.file("scan.png"), tmp.file("pass1-000.png"));
    same(tmp.file("pass1-000.png"), tmp.file("pass2-000.png"));
    same(tmp.file("pass2-000.png"), tmp.file("pass3-000.png"));
    EXPECT_EQ(sizes[1], sizes[0]);
    EXPECT_EQ(sizes[2], sizes[1]);
  }
}

// A gray page (a gray image, black marks) stored gray by doc2pdf; a colour
// page stays colour.
TEST(TolmPages, GrayPageStoredGray)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  TempDir tmp;
  makePdf(python, "gray " + tmp.file("gray.pdf"));
  makePdf(python, "colour " + tmp.file("colour.pdf"));
  std::string out;
  ASSERT_EQ(tolm("doc2pdf " + tmp.file("gray.pdf") + " " + tmp.file("colour.pdf") + " " +
                     tmp.file("out.pdf"),
                 &out),
            0)
      << out;
  const std::vector<std::string> rows = imageList(pdfimages, tmp.file("out.pdf"));
  ASSERT_EQ(rows.size(), 2u) << out;
  // page num type width height color comp ...
  auto field = [](const std::string& row, int k) {
    std::istringstream in(row);
    std::string word;
    for (int i = 0; i <= k; ++i)
      in >> word;
    return word;
  };
  EXPECT_EQ(field(rows[0], 5), "gray") << rows[0];
  EXPECT_EQ(field(rows[0], 6), "1") << rows[0];
  EXPECT_EQ(field(rows[1], 5), "rgb") << rows[1];
}

// Images in the calibrated gray space (poppler draws its white warm,
// (255, 249, 244)): the page is found gray and stored gray, white 255 and
// its grays as the other renderers draw them.
TEST(TolmPages, CalibratedGrayImagesFoundGray)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  REQUIRE_TOOL(ppm, "pdftoppm");
  TempDir tmp;
  makePdf(python, "calgray " + tmp.file("cal.pdf"));
  std::string out;
  ASSERT_EQ(tolm("doc2pdf " + tmp.file("cal.pdf") + " " + tmp.file("out.pdf"), &out), 0) << out;
  const std::vector<std::string> rows = imageList(pdfimages, tmp.file("out.pdf"));
  ASSERT_EQ(rows.size(), 1u) << out;
  EXPECT_NE(rows[0].find(" gray "), std::string::npos) << rows[0];
  Image page;
  ASSERT_TRUE(pdftoppm(ppm, tmp.file("out.pdf"), 1, page, tmp.file("p")));
  // 600 x 400 pt: white at the top left; the flat 128 image at 44..144 pt
  // across, 250..350 pt down; the ramp at 44..556 pt across, 72..200 down
  const int s = 300;
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(sampleAt(page, 10, 10, k), 255) << k;
    EXPECT_NEAR(sampleAt(page, 94 * s / 72, 300 * s / 72, k), 128, 1) << k;
    EXPECT_NEAR(sampleAt(page, (44 + 128) * s / 72, 136 * s / 72, k), 64, 2) << k;
  }
}

// Page trees poppler cannot follow as they stand: pages given as
// dictionaries inside /Kids (their size inherited from the node above),
// nodes that list their ancestors or themselves. Every page is written,
// each its own, and poppler's complaints do not reach the console.
TEST(TolmPages, DamagedPageTrees)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(ppm, "pdftoppm");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  TempDir tmp;
  for (const char* kind : {"direct", "loop"}) {
    makePdf(python, std::string(kind) + " " + tmp.file("in.pdf"));
    std::string out;
    ASSERT_EQ(tolm("doc2pdf " + tmp.file("in.pdf") + " " + tmp.file("out.pdf"), &out), 0)
        << kind << ": " << out;
    EXPECT_EQ(out.find("poppler"), std::string::npos) << out;
    ASSERT_EQ(pagesOf(pdfinfo, tmp.file("out.pdf")), 3) << kind;
    for (int i = 0; i < 3; ++i) {
      Image page;
      ASSERT_TRUE(pdftoppm(ppm, tmp.file("out.pdf"), i + 1, page, tmp.file("p")));
      EXPECT_EQ(page.w, 1250) << kind; // 300 pt
      const int wide = darkInRow(page, page.h - 1 - 60 * 300 / 72);
      EXPECT_NEAR(wide, (50 + 20 * i) * 300 / 72, 2) << kind << " page " << i + 1;
    }
  }
}

// Damaged files that poppler's tools draw: bytes before the header (offsets
// counted from the header, or from the file's start), no number after
// startxref, a startxref leading into an object, no cross-reference table
// (also after a long stretch without a line end), a page that is itself
// the tree's root. doc2pdf writes every page pdfinfo counts, each stored
// as pdftoppm draws it.
TEST(TolmPages, DamagedFilesReadAsPopplerReadsThem)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(ppm, "pdftoppm");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  struct Case {
    const char* make;   // make_pdf.py's arguments before OUT
    const char* damage; // make_pdf.py's damage, or ""
    int pages;
    std::vector<int> checked; // pages whose pixels are compared
  } cases[] = {
      {"pages 30 30", "junk", 30, {1, 17, 30}},
      {"pages 1 1", "junkline", 1, {1}},
      {"pages 3 3", "nostartxref", 3, {1, 2, 3}},
      {"pages 4 4 nested", "badstartxref", 4, {1, 4}},
      {"pages 2 2", "noxref", 2, {1, 2}},
      {"pageroot", "", 1, {1}},
      // a 90,000-byte image without a line end, objects after it
      {"calspell", "noxref", 1, {1}},
  };
  TempDir tmp;
  for (const Case& c : cases) {
    const std::string name = std::string(c.make) + " " + c.damage;
    SCOPED_TRACE(name);
    std::string make = c.make;
    const size_t nested = make.find(" nested");
    const std::string made = tmp.file(*c.damage ? "intact.pdf" : "in.pdf");
    makePdf(python, nested == std::string::npos
                        ? make + " " + made
                        : make.substr(0, nested) + " " + made + " nested");
    if (*c.damage)
      makePdf(python, std::string("damage ") + c.damage + " " + made + " " + tmp.file("in.pdf"));
    ASSERT_EQ(pagesOf(pdfinfo, tmp.file("in.pdf")), c.pages);
    std::string out;
    ASSERT_EQ(tolm("doc2pdf " + tmp.file("in.pdf") + " " + tmp.file("out.pdf"), &out), 0) << out;
    EXPECT_NE(out.find(": " + std::to_string(c.pages) + (c.pages == 1 ? " page\n" : " pages\n")),
              std::string::npos)
        << out;
    ASSERT_EQ(pagesOf(pdfinfo, tmp.file("out.pdf")), c.pages);
    for (int page : c.checked)
      expectStoredAsDrawn(pdfimages, ppm, tmp, tmp.file("in.pdf"), page, tmp.file("out.pdf"),
                          page);
  }
}

// Refusals that say why: a page tree whose nodes only lead back to each
// other, its one page outside it (pdfinfo counts a page of 0 x 0 pt),
// has no page to read; a page whose crop box lies outside its media box,
// or whose media box is 0 pt wide, shows nothing and is left out with one
// line saying so.
TEST(TolmPages, RefusalsNameTheCause)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(ppm, "pdftoppm");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  TempDir tmp;
  makePdf(python, "nopage " + tmp.file("nopage.pdf"));
  std::string out;
  EXPECT_EQ(tolm("doc2pdf " + tmp.file("nopage.pdf") + " " + tmp.file("out.pdf"), &out), 1);
  EXPECT_NE(out.find("tolm doc2pdf: cannot read " + tmp.file("nopage.pdf") +
                     ": the document has no page\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("not an image"), std::string::npos) << out;
  EXPECT_FALSE(std::ifstream(tmp.file("out.pdf")));

  makePdf(python, "cropout " + tmp.file("cropout.pdf"));
  ASSERT_EQ(tolm("doc2pdf " + tmp.file("cropout.pdf") + " " + tmp.file("out.pdf"), &out), 0)
      << out;
  for (const char* line : {"PDF: page 2 of 4 left out: its crop box lies outside its media box\n",
                           "PDF: page 4 of 4 left out: its media box is empty\n"}) {
    const size_t at = out.find(line);
    EXPECT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.find(line, at + 1), std::string::npos) << out; // once
  }
  EXPECT_EQ(out.find("poppler finds"), std::string::npos) << out;
  ASSERT_EQ(pagesOf(pdfinfo, tmp.file("out.pdf")), 2);
  // pages 1 and 3 of the input, as pdftoppm draws them
  expectStoredAsDrawn(pdfimages, ppm, tmp, tmp.file("cropout.pdf"), 1, tmp.file("out.pdf"), 1);
  expectStoredAsDrawn(pdfimages, ppm, tmp, tmp.file("cropout.pdf"), 3, tmp.file("out.pdf"), 2);
}

// Calibrated gray in damaged files poppler opens: a startxref leading into
// an object, no number after it, no cross-reference table, bytes before
// the header, the colour space in an object the table leaves out. Stored
// gray, white 255 and its grays as in the intact file.
TEST(TolmPages, CalibratedGrayFoundInDamagedFiles)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  REQUIRE_TOOL(ppm, "pdftoppm");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  struct Case {
    const char* make;
    const char* damage;
  } cases[] = {
      {"calgray", "badstartxref"}, {"calgray", "nostartxref"},  {"calgray", "noxref"},
      {"calgray", "junkline"},     {"calcomments", "unlisted"}, {"calcomments", "badstartxref"},
  };
  TempDir tmp;
  for (const Case& c : cases) {
    const std::string name = std::string(c.make) + " " + c.damage;
    SCOPED_TRACE(name);
    makePdf(python, std::string(c.make) + " " + tmp.file("intact.pdf"));
    makePdf(python, std::string("damage ") + c.damage + " " + tmp.file("intact.pdf") + " " +
                        tmp.file("in.pdf"));
    ASSERT_EQ(pagesOf(pdfinfo, tmp.file("in.pdf")), 1);
    std::string out;
    ASSERT_EQ(tolm("doc2pdf " + tmp.file("in.pdf") + " " + tmp.file("out.pdf"), &out), 0) << out;
    expectNeutralGrayPage(pdfimages, ppm, tmp, tmp.file("out.pdf"));
  }
}

// An object stream inflating to 512 MiB: the reading script stops at its
// bound with a clear line, poppler reads the page; memory stays low.
TEST(TolmPages, ObjectStreamBomb)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  TempDir tmp;
  makePdf(python, "bomb 512 " + tmp.file("bomb.pdf"));
  std::string out;
  const int rc = tolm("doc2pdf " + tmp.file("bomb.pdf") + " " + tmp.file("out.pdf"), &out);
  struct rusage usage;
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  const long peakMiB = usage.ru_maxrss / 1024;
  std::cerr << "peak memory of the children: " << peakMiB << " MiB" << std::endl;
  EXPECT_LT(peakMiB, 400);
  // said once, though the document is opened for its count and its page
  const std::string line = "PDF: a compressed stream inflates to more than 64 MB, not read\n";
  const size_t at = out.find(line);
  EXPECT_NE(at, std::string::npos) << out;
  EXPECT_EQ(out.find(line, at + 1), std::string::npos) << out;
  ASSERT_EQ(rc, 0) << out;
  EXPECT_EQ(pagesOf(pdfinfo, tmp.file("out.pdf")), 1);
}

// Bytes that spell a calibrated gray array in an uncompressed image and
// in a shown string are pixels and text, not a colour space: the page
// written is the page pdftoppm draws, pixel for pixel.
TEST(TolmPages, CalibratedGrayBytesOutsideColourSpacesKept)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(ppm, "pdftoppm");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  TempDir tmp;
  makePdf(python, "calspell " + tmp.file("in.pdf"));
  std::string out;
  ASSERT_EQ(tolm("doc2pdf " + tmp.file("in.pdf") + " " + tmp.file("out.pdf"), &out), 0) << out;
  // the stored page against pdftoppm's drawing of the input
  ASSERT_EQ(run(pdfimages + " " + tmp.file("out.pdf") + " " + tmp.file("img")), 0);
  Image stored, ref;
  // one sample a pixel or three, as pdfimages likes
  ASSERT_TRUE(readPNM(stored, tmp.file("img-000.pgm")) || readPNM(stored, tmp.file("img-000.ppm")));
  ASSERT_TRUE(pdftoppm(ppm, tmp.file("in.pdf"), 1, ref, tmp.file("ref")));
  ASSERT_EQ(stored.w, ref.w);
  ASSERT_EQ(stored.h, ref.h);
  int differ = 0;
  for (int y = 0; y < ref.h; ++y)
    for (int x = 0; x < ref.w; ++x)
      differ += sampleAt(stored, x, y, 0) != sampleAt(ref, x, y, 0);
  EXPECT_EQ(differ, 0);
}

// Calibrated gray where writers put it: in a compressed object stream
// (qpdf's --object-streams=generate), written over several lines with
// comments, in an encrypted file. Stored gray, white 255, its grays as the other renderers draw
// them.
TEST(TolmPages, CalibratedGrayInObjectStreamsAndWithComments)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  REQUIRE_TOOL(ppm, "pdftoppm");
  REQUIRE_TOOL(qpdf, "qpdf");
  TempDir tmp;
  makePdf(python, "calcomments " + tmp.file("comments.pdf"));
  ASSERT_EQ(run(qpdf + " --object-streams=generate " + tmp.file("comments.pdf") + " " +
                tmp.file("objstm.pdf")),
            0);
  std::string objstm;
  ASSERT_TRUE(readFile(tmp.file("objstm.pdf"), objstm));
  ASSERT_NE(objstm.find("/ObjStm"), std::string::npos);
  // and in an encrypted file (AES-256, empty user password)
  ASSERT_EQ(run(qpdf + " --encrypt \"\" owner 256 -- " + tmp.file("comments.pdf") + " " +
                tmp.file("encrypted.pdf")),
            0);
  for (const char* name : {"comments.pdf", "objstm.pdf", "encrypted.pdf"}) {
    std::string out;
    ASSERT_EQ(tolm("doc2pdf " + tmp.file(name) + " " + tmp.file("out.pdf"), &out), 0) << out;
    const std::vector<std::string> rows = imageList(pdfimages, tmp.file("out.pdf"));
    ASSERT_EQ(rows.size(), 1u) << name << ": " << out;
    EXPECT_NE(rows[0].find(" gray "), std::string::npos) << name << ": " << rows[0];
    Image page;
    ASSERT_TRUE(pdftoppm(ppm, tmp.file("out.pdf"), 1, page, tmp.file("p")));
    const int s = 300;
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(sampleAt(page, 10, 10, k), 255) << name;
      EXPECT_NEAR(sampleAt(page, (44 + 128) * s / 72, 136 * s / 72, k), 64, 2) << name;
    }
  }
}

// Every page poppler draws, in its order: a node listed twice in /Kids
// (its two pages twice: A B A B), an encrypted file (AES-256, empty user
// password) whose pages stand directly in /Kids, a chain of 120 nodes.
TEST(TolmPages, EveryPagePopplerDraws)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(ppm, "pdftoppm");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  REQUIRE_TOOL(qpdf, "qpdf");
  TempDir tmp;
  makePdf(python, "repeated " + tmp.file("repeated.pdf"));
  makePdf(python, "direct " + tmp.file("direct.pdf"));
  makePdf(python, "deep 120 " + tmp.file("deep.pdf"));
  ASSERT_EQ(run(qpdf + " --encrypt \"\" owner 256 -- " + tmp.file("direct.pdf") + " " +
                tmp.file("encrypted.pdf")),
            0);
  struct Case {
    const char* file;
    std::vector<int> boxes; // the black box's width in points, page by page
  } cases[] = {
      {"repeated.pdf", {50, 70, 50, 70}},
      {"encrypted.pdf", {50, 70, 90}},
      {"deep.pdf", {50}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(pagesOf(pdfinfo, tmp.file(c.file)), int(c.boxes.size())) << c.file;
    std::string out;
    ASSERT_EQ(tolm("doc2pdf " + tmp.file(c.file) + " " + tmp.file("out.pdf"), &out), 0)
        << c.file << ": " << out;
    ASSERT_EQ(pagesOf(pdfinfo, tmp.file("out.pdf")), int(c.boxes.size())) << c.file << ": " << out;
    for (size_t i = 0; i < c.boxes.size(); ++i) {
      Image page;
      ASSERT_TRUE(pdftoppm(ppm, tmp.file("out.pdf"), int(i) + 1, page, tmp.file("p")));
      EXPECT_NEAR(darkInRow(page, page.h - 1 - 60 * 300 / 72), c.boxes[i] * 300 / 72, 2)
          << c.file << " page " << i + 1;
    }
  }
}

// A page whose drawing never ends (forms drawing forms a thousand times
// over, down to garbage tokens): SIGTERM stops it where it is, the job
// ends as interrupted with nothing left behind, and poppler's complaints
// are a few lines.
TEST(TolmPages, EndlessPageStoppedBySignal)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  TempDir tmp;
  makePdf(python, "endless " + tmp.file("endless.pdf"));
  // the signal goes once the drawing has started (poppler has spoken)
  ASSERT_EQ(run("cd " + tmp.path() + "; env -u TOLM_RESOURCE_DIR TOLM_HEADLESS=1 " +
                tolmPath() + " doc2pdf endless.pdf out.pdf > log 2>&1 & job=$!; "
                "for i in $(seq 600); do grep -q poppler log && break; sleep 0.1; done; "
                "kill -TERM $job; wait $job; echo $? > status"),
            0);
  std::string log, status;
  ASSERT_TRUE(readFile(tmp.file("log"), log));
  ASSERT_TRUE(readFile(tmp.file("status"), status));
  EXPECT_EQ(status, "143\n") << log;
  EXPECT_NE(log.find("tolm doc2pdf: interrupted: nothing written\n"), std::string::npos) << log;
  size_t lines = 0;
  for (size_t at = log.find("poppler: error"); at != std::string::npos;
       at = log.find("poppler: error", at + 1))
    ++lines;
  EXPECT_GE(lines, 1u);
  EXPECT_LE(lines, 5u) << log;
  // The count of the rest ("N more messages about the document not
  // shown") comes when the document is released: not when the stop had to
  // end the process because poppler did not come back in time (a slow
  // build, a loaded machine).
  std::string left;
  ASSERT_EQ(run("ls " + tmp.path(), &left), 0);
  EXPECT_EQ(left, "endless.pdf\nlog\nstatus\n");
}

// A page poppler complains of at every token it draws: the first few
// complaints are shown, the rest counted in one line once the document is
// done with.
TEST(TolmPages, PopplerComplaintsAreAFewLinesAndACount)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  TempDir tmp;
  makePdf(python, "noisy " + tmp.file("noisy.pdf"));
  std::string log;
  ASSERT_EQ(tolm("doc2pdf " + tmp.file("noisy.pdf") + " " + tmp.file("out.pdf"), &log), 0) << log;
  size_t lines = 0;
  for (size_t at = log.find("poppler: error"); at != std::string::npos;
       at = log.find("poppler: error", at + 1))
    ++lines;
  EXPECT_EQ(lines, 5u) << log;
  EXPECT_NE(log.find(" more messages about the document not shown\n"), std::string::npos) << log;
}

// The input is read once, however many pages it has: the bytes doc2pdf
// reads from it (counted by strace) are its size.
TEST(TolmPages, EachInputReadOnce)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(strace, "strace");
  TempDir tmp;
  makePdf(python, "pages 40 40 " + tmp.file("in.pdf"));
  // one trace a thread (-ff), descriptors shown with their paths (-y); the
  // leak checker cannot run under a tracer
  std::string out;
  ASSERT_EQ(run("cd / && env -u TOLM_RESOURCE_DIR TOLM_HEADLESS=1 "
                "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 " + strace +
                    " -ff -y -e trace=read,pread64 -o " + tmp.file("trace") + " " + tolmPath() +
                    " doc2pdf " + tmp.file("in.pdf") + " " + tmp.file("out.pdf") + " 2>&1",
                &out),
            0)
      << out;
  std::string traces;
  ASSERT_EQ(run("cat " + tmp.file("trace") + ".*", &traces), 0);
  uint64_t bytes = 0;
  std::istringstream lines(traces);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.rfind(") = ");
    if ((line.rfind("read(", 0) == 0 || line.rfind("pread64(", 0) == 0) &&
        line.find("/in.pdf>,") != std::string::npos && eq != std::string::npos)
      bytes += uint64_t(std::max(0LL, std::atoll(line.c_str() + eq + 4)));
  }
  std::string pdf;
  ASSERT_TRUE(readFile(tmp.file("in.pdf"), pdf));
  EXPECT_EQ(bytes, pdf.size());
}

#ifdef IMGTOOL
// imgtool reads PDF pages as tolm does: the count, the page's size and
// format, the pixels as pdftoppm draws them.
TEST(TolmPages, ImgtoolReadsPdfPages)
{
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(ppm, "pdftoppm");
  TempDir tmp;
  makePdf(python, "pages 3 3 " + tmp.file("three.pdf"));
  makePdf(python, "colour " + tmp.file("colour.pdf"));
  std::string out;
  ASSERT_EQ(run(std::string(IMGTOOL) + " pages " + tmp.file("three.pdf"), &out), 0);
  EXPECT_EQ(out, "3\n");
  ASSERT_EQ(run(std::string(IMGTOOL) + " info " + tmp.file("colour.pdf"), &out), 0);
  EXPECT_EQ(out, "2550 3300 3 8 300 300 PDF -1\n");
  ASSERT_EQ(run(std::string(IMGTOOL) + " read " + tmp.file("three.pdf") + " 2 > " +
                tmp.file("page.pnm")),
            0);
  Image page, ref;
  ASSERT_TRUE(readPNM(page, tmp.file("page.pnm")));
  ASSERT_TRUE(pdftoppm(ppm, tmp.file("three.pdf"), 3, ref, tmp.file("ref")));
  ASSERT_EQ(page.w, ref.w);
  ASSERT_EQ(page.h, ref.h);
  ASSERT_EQ(page.spp, 1); // black on white
  for (int y = 0; y < page.h; y += 7)
    for (int x = 0; x < page.w; x += 5)
      ASSERT_NEAR(sampleAt(page, x, y), sampleAt(ref, x, y, 1), 2) << x << "," << y;
}
#endif

// A CMYK JPEG page (Pillow's JPEG, img2pdf's page, 1:1 at 300 dpi) through
// doc2pdf comes out in poppler's own colours: pdftoppm drawing the input at
// 4 times the size repeats each sample in a 4 x 4 block, whose centres the
// stored page equals (converted a pixel at a time, most pixels were a level
// off).
TEST(TolmPages, CmykJpegPageInPopplersColours)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(img2pdf, "img2pdf");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  REQUIRE_TOOL(ppm, "pdftoppm");
  TempDir tmp;
  ASSERT_EQ(run(python + " -c \"from PIL import Image\n"
                         "im = Image.new('CMYK', (160, 120))\n"
                         "im.putdata([((x * 37 + y * 91) & 255, (x * 11 + y * 5) & 255, (x * y) & 255, "
                         "(x + y * 3) & 255) for y in range(120) for x in range(160)])\n"
                         "im.save('" + tmp.file("cmyk.jpg") + "', dpi=(300, 300), quality=92)\" && " +
                img2pdf + " " + tmp.file("cmyk.jpg") + " -o " + tmp.file("in.pdf")),
            0);
  std::string out;
  ASSERT_EQ(tolm("doc2pdf " + tmp.file("in.pdf") + " " + tmp.file("out.pdf"), &out), 0) << out;
  ASSERT_EQ(run(pdfimages + " -png " + tmp.file("out.pdf") + " " + tmp.file("out")), 0);
  Image page, ref;
  ASSERT_NE(ImageCodec::Read(tmp.file("out-000.png"), page), 0);
  ASSERT_EQ(run(ppm + " -r 1200 -singlefile " + tmp.file("in.pdf") + " " + tmp.file("ref")), 0);
  ASSERT_TRUE(readPNM(ref, tmp.file("ref.ppm")));
  ASSERT_EQ(page.w, 160);
  ASSERT_EQ(page.h, 120);
  ASSERT_EQ(page.spp, 3);
  ASSERT_EQ(ref.w, 640);
  int off = 0;
  for (int y = 0; y < page.h; ++y)
    for (int x = 0; x < page.w; ++x)
      for (int k = 0; k < 3; ++k)
        if (sampleAt(page, x, y, k) != sampleAt(ref, x * 4 + 2, y * 4 + 2, k) && off++ < 3)
          ADD_FAILURE() << x << "," << y << " sample " << k << ": " << sampleAt(page, x, y, k)
                        << " vs " << sampleAt(ref, x * 4 + 2, y * 4 + 2, k);
  EXPECT_EQ(off, 0);
}

#ifdef IMGTOOL
// Through the real programs, poppler draws each page once (its debug line
// says each drawing): doc2pdf of a colour and a gray page draws two, and
// stores one gray and one colour image; counting draws none.
TEST(TolmPages, EachPageDrawnOnce)
{
  REQUIRE_TOLM();
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  TempDir tmp;
  makePdf(python, "colour " + tmp.file("colour.pdf"));
  makePdf(python, "gray " + tmp.file("gray.pdf"));
  auto drawings = [](const std::string& out) {
    int n = 0;
    for (size_t at = 0; (at = out.find("poppler draws PDF page", at)) != std::string::npos; ++at)
      ++n;
    return n;
  };
  std::string out;
  ASSERT_EQ(run("cd / && TOLM_DEBUG=1 TOLM_HEADLESS=1 " + tolmPath() + " doc2pdf " +
                    tmp.file("colour.pdf") + " " + tmp.file("gray.pdf") + " " +
                    tmp.file("out.pdf") + " 2>&1",
                &out),
            0)
      << out;
  EXPECT_EQ(drawings(out), 2) << out;
  const std::vector<std::string> images = imageList(pdfimages, tmp.file("out.pdf"));
  ASSERT_EQ(images.size(), 2u);
  EXPECT_NE(images[0].find(" rgb "), std::string::npos) << images[0];
  EXPECT_NE(images[1].find(" gray "), std::string::npos) << images[1];
  ASSERT_EQ(run("TOLM_DEBUG=1 " + std::string(IMGTOOL) + " pages " + tmp.file("colour.pdf") +
                    " 2>&1",
                &out),
            0);
  EXPECT_EQ(out, "1\n");
}
#endif
