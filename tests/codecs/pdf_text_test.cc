#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "codecs/PDF.hh"
#include "tests/codecs/PDFWriterProbe.hh"
#include "codecs/PDFFonts.hh"
#include "utility/UTF8.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

std::string utf8(std::vector<uint32_t> cps)
{
  return EncodeUtf8(cps);
}

} // namespace

TEST(PDFFontTables, PublishedRowsAndSizes)
{
  EXPECT_EQ(unicode_map_size, 8483u);
  EXPECT_EQ(helvetica_metrics_size, 8483u);
  EXPECT_EQ(courier_metrics_size, 1u);
  int coded = 0;
  for (uint32_t u = 0; u < unicode_map_size; ++u)
    coded += unicode_map[u].code != 0;
  EXPECT_EQ(coded, 218);
  const struct {
    uint32_t u;
    const char* name;
    int code, flags;
  } rows[] = {
    {0x20, "space", 32, 4},        {0x41, "A", 65, 1},           {0x61, "a", 97, 0},
    {0x67, "g", 103, 2},           {0x6A, "j", 106, 3},          {0xA0, "nbspace", 32, 4},
    {0xAC, "logicalnot", 172, 0},  {0xD6, "Odieresis", 214, 9},  {0xFE, "thorn", 254, 3},
    {0x160, "Scaron", 138, 9},     {0x17D, "Zcaron", 142, 9},    {0x2DC, "tilde", 152, 4},
    {0x20AC, "Euro", 128, 1},      {0x2122, "trademark", 153, 4}, {0x416, "Zhecyrillic", 0, 1},
  };
  for (const auto& r : rows) {
    ASSERT_NE(unicode_map[r.u].name, nullptr) << std::hex << r.u;
    EXPECT_STREQ(unicode_map[r.u].name, r.name);
    EXPECT_EQ(unicode_map[r.u].code, r.code) << r.name;
    EXPECT_EQ(unicode_map[r.u].flags, r.flags) << r.name;
  }
  EXPECT_STREQ(unicode_map[0x130].name, "Idot");
  EXPECT_EQ(unicode_map[0x130].code, 0);
  EXPECT_EQ(unicode_map[0x500].name, nullptr);

  const struct {
    uint32_t u;
    int regular, bold;
  } widths[] = {{0, 600, 600},       {0x20, 278, 278},  {0x41, 667, 722}, {0x61, 556, 556},
                {0x20AC, 556, 556},  {0x2122, 1000, 1000}, {0x130, 278, 278}, {0xA0, 0, 0},
                {0xAD, 0, 0},        {0xB7, 0, 0},      {0x153, 0, 0},    {0x2DC, 0, 0},
                {0x416, 0, 0}};
  for (const auto& w : widths) {
    EXPECT_EQ(helvetica_metrics[w.u], w.regular) << std::hex << w.u;
    EXPECT_EQ(helveticaBold_metrics[w.u], w.bold) << std::hex << w.u;
    EXPECT_EQ(helveticaOblique_metrics[w.u], w.regular);
  }
  int helveticaWidths = 0;
  for (uint32_t u = 1; u < helvetica_metrics_size; ++u)
    helveticaWidths += helvetica_metrics[u] != 0;
  EXPECT_EQ(helveticaWidths, 214);
}

TEST(PDFText, CodeAssignment)
{
  PDFXref xref;
  PDFFont font(xref, "Helvetica");
  EXPECT_EQ(font.getMappedCode(0x20AC), 128);
  EXPECT_EQ(font.getMappedCode(0x20), 32);
  CaptureStderr();
  EXPECT_EQ(font.getMappedCode(0xA0), 1); // its default 32 is taken
  EXPECT_EQ(GetCapturedStderr(), "default mapping already remapped, in use\n");
  EXPECT_EQ(font.getMappedCode(0x416), 2);
  EXPECT_EQ(font.getMappedCode(0x20AC), 128);
  for (uint32_t u = 0x430; u < 0x430 + 29; ++u)
    font.getMappedCode(u);
  EXPECT_EQ(font.getMappedCode(0x44C), 31);
  EXPECT_EQ(font.getMappedCode(0x44D), 254); // after 31 the search goes down from 254
  EXPECT_EQ(font.getMappedCode(0x500), 253);
  EXPECT_EQ(font.resourceName(), "/F1");
  PDFFont second(xref, "Courier");
  EXPECT_EQ(second.resourceName(), "/F2");
}

TEST(PDFText, ShowTextOperators)
{
  std::ostringstream s;
  PDFCodec writer(&s, "t");
  writer.beginPage(200, 100);
  writer.beginText(3);
  writer.textTo(10, 20);
  writer.showText("Helvetica", "a(b)\\c\td", 12);
  writer.textTo(15, 30);
  writer.showText("Helvetica", "x\ny\nz", 12);
  writer.showText("Helvetica", "q", 10);
  writer.showText("Helvetica-Bold", "AV", 10);
  const std::vector<int> kern = {-120, 0, 40};
  writer.showText("Helvetica-Bold", "AVAT", 10, &kern);
  writer.endText();
  EXPECT_EQ(operatorsOf(writer),
            "BT\n3 Tr\n"
            "10 80 Td\n"
            // The tab has no WinAnsi code: it gets the first free one.
            "/F1 12 Tf\n(a\\(b\\)\\\\c\x01" "d)Tj\n"
            "5 -10 Td\n"
            "(x)Tj 18 TL T*\n(y)Tj T*\n(z)Tj\n"
            "/F1 10 Tf\n(q)Tj\n"
            "/F2 10 Tf\n(AV)Tj\n"
            "[(A)-120(VA)40(T)]TJ\n"
            "ET\n");

  // A kerning number after a line feed, with no array open, opens one.
  writer.beginText(0);
  const std::vector<int> afterBreak = {0, 70};
  writer.showText("Helvetica", "a\nb", 10, &afterBreak);
  const std::string ops = operatorsOf(writer);
  EXPECT_NE(ops.find("[(a)]TJ 15 TL T*\n[70(b)]TJ\n"), std::string::npos) << ops;
}

// Each diagnostic of the text is said once per document, however often
// its cause comes back: codes used up, characters left out, glyphs without
// a standard name, text that is not UTF-8. A second document says them again.
TEST(PDFText, DiagnosticsAreSaidOncePerDocument)
{
  std::string cjk; // 300 different characters, more than a font's codes
  for (uint32_t u = 0x4E00; u < 0x4E00 + 300; ++u)
    cjk += utf8({u});
  for (int document = 0; document < 2; ++document) {
    SCOPED_TRACE(document);
    std::ostringstream s;
    PDFCodec writer(&s, "t");
    CaptureStderr();
    for (int page = 0; page < 2; ++page) {
      writer.beginPage(300, 200);
      writer.beginText(0);
      writer.textTo(20, 40);
      writer.showText("Helvetica", cjk, 12);
      writer.showText("Helvetica-Bold", cjk, 12);
      writer.showText("Courier", "ab\xff" "cd\xe6\x97", 12);
      writer.endText();
    }
    const std::string ops = operatorsOf(writer);
    EXPECT_TRUE(writer.finish());
    const std::string err = GetCapturedStderr();
    for (const char* cause : {"failed to find free codepoint, all used!\n",
                              "Failed to map codepoint: ", "Adobe glyph name missing for: 0x",
                              "PDFCodec: text that is not UTF-8"}) {
      const size_t first = err.find(cause);
      EXPECT_NE(first, std::string::npos) << cause << " in " << err;
      EXPECT_EQ(err.find(cause, first + 1), std::string::npos) << cause << " twice in " << err;
    }
    EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 5) << err;
    // The text went in with U+FFFD for the bad bytes: "ab", one, "cd", one.
    EXPECT_NE(ops.find("(ab\x01" "cd\x01)Tj"), std::string::npos) << ops.substr(ops.size() - 60);
    EXPECT_NE(s.str().find("/uFFFD"), std::string::npos);
  }
}

TEST(PDFText, FontsEncodingsWidthsAndToUnicode)
{
  REQUIRE_TOOL(qpdf, "qpdf");
  REQUIRE_TOOL(pdffonts, "pdffonts");
  REQUIRE_TOOL(pdftotext, "pdftotext");
  TempDir dir;
  std::ostringstream s;
  {
    PDFCodec writer(&s, "t");
    writer.beginPage(300, 200);
    writer.beginText(0);
    writer.textTo(20, 40);
    writer.showText("Helvetica", "Plain caf\xc3\xa9 \xe2\x82\xac", 12);
    writer.textTo(20, 80);
    // Cyrillic, a letter without a glyph name, a code point beyond U+FFFF.
    writer.showText("Helvetica-Bold", utf8({0x416, 0x430, 0x500, 0x1F600}), 12);
    writer.endText();
    CaptureStderr();
    EXPECT_TRUE(writer.finish());
    EXPECT_NE(GetCapturedStderr().find("Adobe glyph name missing for: 0x500"), std::string::npos);
  }
  const std::string pdf = s.str();
  EXPECT_NE(pdf.find("<</Type/Font/Subtype/Type1/BaseFont/Helvetica/Encoding/WinAnsiEncoding>>"),
            std::string::npos);
  EXPECT_NE(pdf.find("/BaseFont/Helvetica-Bold/Encoding "), std::string::npos);
  EXPECT_NE(pdf.find("/Differences[1/Zhecyrillic/acyrillic/u0500/u1F600]>>"), std::string::npos);
  EXPECT_NE(pdf.find("/FirstChar 1/LastChar 4/Widths[600 600 600 600]>>"), std::string::npos);

  const std::string path = dir.file("text.pdf");
  ASSERT_TRUE(writeFile(path, pdf));
  std::string out;
  EXPECT_EQ(run(qpdf + " --check '" + path + "' 2>&1", &out), 0) << out;
  ASSERT_EQ(run(pdffonts + " '" + path + "'", &out), 0);
  EXPECT_NE(out.find("Helvetica-Bold"), std::string::npos) << out;
  EXPECT_NE(out.find("Type 1"), std::string::npos) << out;
  ASSERT_EQ(run(pdftotext + " '" + path + "' -", &out), 0);
  EXPECT_NE(out.find("Plain caf\xc3\xa9 \xe2\x82\xac"), std::string::npos) << out;
  EXPECT_NE(out.find(utf8({0x416, 0x430, 0x500, 0x1F600})), std::string::npos) << out;

  // The map of the bold font: one-code ranges, UTF-16BE targets.
  const size_t cmap = pdf.find("/Filter/FlateDecode/Length", pdf.find("/Differences"));
  ASSERT_NE(cmap, std::string::npos);
  const size_t objStart = pdf.rfind("\n", pdf.rfind(" 0 obj\n", cmap)) + 1;
  const std::string number = pdf.substr(objStart, pdf.find(' ', objStart) - objStart);
  ASSERT_EQ(run(qpdf + " --show-object=" + number + " --filtered-stream-data '" + path + "'", &out),
            0);
  EXPECT_NE(out.find("4 beginbfrange\n<01> <01> <0416>\n<02> <02> <0430>\n<03> <03> <0500>\n"
                     "<04> <04> <d83dde00>\nendbfrange\n"),
            std::string::npos)
    << out;
}
