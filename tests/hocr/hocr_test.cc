#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstring>
#include <sstream>

#include "hocr/hocr.hh"
#include "codecs/PDF.hh"
#include "codecs/PDFFonts.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

struct Word {
  const char* text;
  int x1, y1, x2, y2;
};

// Two columns of three lines at 300 dpi, 50-pixel words as wide as
// Helvetica sets them.
std::vector<std::vector<Word>> twoColumns()
{
  std::vector<std::vector<Word>> lines;
  const char* left[3][3] = {{"Alpha", "beta", "gamma"}, {"delta", "epsilon", "zeta"},
                            {"eta", "theta", "iota"}};
  const char* right[3][3] = {{"One", "two", "three"}, {"four", "five", "six"},
                             {"seven", "eight", "nine"}};
  for (int column = 0; column < 2; ++column)
    for (int row = 0; row < 3; ++row) {
      std::vector<Word> line;
      int x = column == 0 ? 200 : 1400;
      for (const char* w : column == 0 ? left[row] : right[row]) {
        int width = 0;
        for (const char* c = w; *c; ++c)
          width += helvetica_metrics[(unsigned char)*c] * 70 / 1000;
        line.push_back({w, x, 300 + 90 * row, x + width, 350 + 90 * row});
        x += width + 30;
      }
      lines.push_back(line);
    }
  return lines;
}

// hOCR as OCR engines write it (indented, one element a line) or compact.
std::string hocrOf(const std::vector<std::vector<Word>>& lines, bool engineLayout)
{
  const std::string nl = engineLayout ? "\n" : "";
  const std::string in1 = engineLayout ? "   " : "", in2 = engineLayout ? "    " : "";
  std::ostringstream s;
  s << "<!DOCTYPE html>" << nl << "<html><body>" << nl
    << "<div class='ocr_page' title=\"image x.png; bbox 0 0 2480 3508\">" << nl;
  for (size_t n = 0; n < lines.size(); ++n) {
    const auto& line = lines[n];
    if (n % 3 == 0)
      s << "<div class='ocr_carea'>" << nl << "<p class='ocr_par'>" << nl;
    const Word& f = line.front();
    const Word& l = line.back();
    s << in1 << "<span class='ocr_line' title=\"bbox " << f.x1 << " " << f.y1 << " " << l.x2
      << " " << l.y2 << "; baseline 0 -10\">" << nl;
    for (size_t i = 0; i < line.size(); ++i) {
      const Word& w = line[i];
      s << in2 << "<span class='ocrx_word' title=\"bbox " << w.x1 << " " << w.y1 << " " << w.x2
        << " " << w.y2 << "; x_wconf 96\">" << w.text << "</span>";
      s << (engineLayout ? "\n" : i + 1 < line.size() ? " " : "");
    }
    s << in1 << "</span>" << nl;
    if (n % 3 == 2)
      s << "</p>" << nl << "</div>" << nl;
  }
  s << "</div>" << nl << "</body></html>" << nl;
  return s.str();
}

std::string sideOutput(const std::string& hocr, const std::string& format, int resolution = 300,
                       int page = 1)
{
  std::istringstream in(hocr);
  std::ostringstream out;
  EXPECT_TRUE(hocr2pdf(in, nullptr, resolution, resolution, &out, format, page));
  return out.str();
}

std::string layerOps(const std::string& hocr, int resolution)
{
  std::ostringstream pdf;
  PDFCodec writer(&pdf, "t");
  writer.beginPage(595, 842);
  std::istringstream in(hocr);
  hocr2pdf(in, &writer, resolution, resolution, nullptr, "", 1);
  return writer.context->currentPage->content.operators.str();
}

std::string replaced(std::string s, const std::string& from, const std::string& to)
{
  const size_t at = s.find(from);
  return at == std::string::npos ? s : s.replace(at, from.size(), to);
}

// The value of attribute `name` in a tag's text.
double attribute(const std::string& tag, const std::string& name)
{
  const size_t at = tag.find(name + "=\"");
  return at == std::string::npos ? -1 : std::stod(tag.substr(at + name.size() + 2));
}

} // namespace

TEST(HOCR, TwoColumnGoldenOutputs)
{
  const std::string compact = hocrOf(twoColumns(), false);
  const std::string engine = hocrOf(twoColumns(), true);
  const struct {
    const char* format;
    const char* golden;
  } cases[] = {
    {"txt", "Alpha beta gamma delta epsilon zeta eta theta iota\n"
            "One two three\nfour five six\nseven eight nine\n"},
    {"html", "Alpha beta gamma delta epsilon zeta eta theta iota<br>"
             "One two three<br>four five six<br>seven eight nine<br>"},
    {"rtf", "Alpha beta gamma delta epsilon zeta eta theta iota\\\n"
            "One two three\\\nfour five six\\\nseven eight nine\\\n"},
  };
  // The right column first in the file: still read left to right.
  auto swapped = twoColumns();
  std::rotate(swapped.begin(), swapped.begin() + 3, swapped.end());
  const std::string rightFirst = hocrOf(swapped, true);
  for (const auto& c : cases) {
    EXPECT_EQ(sideOutput(compact, c.format), c.golden) << c.format;
    EXPECT_EQ(sideOutput(engine, c.format), c.golden) << c.format << " (engine layout)";
    EXPECT_EQ(sideOutput(rightFirst, c.format), c.golden) << c.format << " (right column first)";
  }
}

TEST(HOCR, HTMLAndRTFOutputsParseInPeers)
{
  REQUIRE_TOOL(xmllint, "xmllint");
  REQUIRE_TOOL(unrtf, "unrtf");
  TempDir dir;
  std::vector<std::vector<Word>> lines = twoColumns();
  lines[0][1].text = "b&lt;e&amp;t&quot;a";
  std::string hocr = hocrOf(lines, true);
  // Styles and a non-ASCII word.
  hocr = replaced(hocr, ">gamma<", "><b>g\xc3\xa4mma</b><");
  hocr = replaced(hocr, ">five<", "><i><u>five</u></i><");
  const std::string html = sideOutput(hocr, "html");
  EXPECT_NE(html.find("b&lt;e&amp;t&quot;a <b> g\xc3\xa4mma</b> delta"), std::string::npos) << html;
  // The blank after a word stays with it, and a new batch begins with one.
  EXPECT_NE(html.find("four <i><u> five</u></i>  six"), std::string::npos) << html;
  ASSERT_TRUE(writeFile(dir.file("page.html"),
                        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>t</title></head>"
                        "<body>" + html + "</body></html>\n"));
  std::string out;
  EXPECT_EQ(run(xmllint + " --html --noout '" + dir.file("page.html") + "' 2>&1", &out), 0) << out;
  EXPECT_EQ(out, "");

  const std::string rtf = sideOutput(hocr, "rtf");
  EXPECT_NE(rtf.find("{\\b  g\\uc0\\u228 mma} delta"), std::string::npos) << rtf;
  ASSERT_TRUE(writeFile(dir.file("page.rtf"), "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Helvetica;}}\n" +
                                                rtf + "}\n"));
  ASSERT_EQ(run(unrtf + " --text '" + dir.file("page.rtf") + "' 2>/dev/null", &out), 0);
  EXPECT_NE(out.find("One two three"), std::string::npos) << out;
  EXPECT_NE(out.find("five"), std::string::npos) << out;
}

TEST(HOCR, TextLayerInPoppler)
{
  REQUIRE_TOOL(pdftotext, "pdftotext");
  REQUIRE_TOOL(pdffonts, "pdffonts");
  REQUIRE_TOOL(qpdf, "qpdf");
  TempDir dir;
  const auto lines = twoColumns();
  for (bool engine : {false, true}) {
    const std::string path = dir.file(engine ? "engine.pdf" : "compact.pdf");
    std::ostringstream pdf;
    {
      PDFCodec writer(&pdf, "t");
      Image page = makeImage(2480, 1000, 1, 1);
      memset(page.data, 0xff, (size_t)page.stride() * page.h);
      writer.beginPage(595.2, 240);
      writer.showImage(page, 0, 0, 595.2, 240);
      std::istringstream in(hocrOf(lines, engine));
      EXPECT_TRUE(hocr2pdf(in, &writer, 300, 300, nullptr, "", 1));
      EXPECT_TRUE(writer.finish());
    }
    ASSERT_TRUE(writeFile(path, pdf.str()));
    std::string out;
    EXPECT_EQ(run(qpdf + " --check '" + path + "' 2>&1", &out), 0) << out;
    ASSERT_EQ(run(pdffonts + " '" + path + "'", &out), 0);
    std::istringstream fonts(out);
    bool listed = false;
    for (std::string line; std::getline(fonts, line);) {
      std::istringstream words(line);
      std::string name, type1, type2, encoding, embedded, subset;
      words >> name >> type1 >> type2 >> encoding >> embedded >> subset;
      listed |= name == "Helvetica" && type1 + type2 == "Type1" && encoding == "WinAnsi" &&
                embedded == "no" && subset == "no";
    }
    EXPECT_TRUE(listed) << out;
    ASSERT_EQ(run(pdftotext + " -raw '" + path + "' -", &out), 0);
    std::string words;
    for (char c : out)
      words += c == '\n' ? ' ' : c;
    EXPECT_NE(words.find("Alpha beta gamma delta epsilon zeta eta theta iota One two three four "
                         "five six seven eight nine"),
              std::string::npos)
      << out;

    // Every word within a few points of its box.
    ASSERT_EQ(run(pdftotext + " -bbox '" + path + "' -", &out), 0);
    int found = 0;
    for (size_t at = out.find("<word "); at != std::string::npos; at = out.find("<word ", at + 1)) {
      const size_t close = out.find('>', at), end = out.find("</word>", at);
      ASSERT_NE(end, std::string::npos);
      const std::string tag = out.substr(at, close - at);
      const std::string text = out.substr(close + 1, end - close - 1);
      for (const auto& line : lines)
        for (const Word& w : line)
          if (text == w.text) {
            ++found;
            const double scale = 72.0 / 300;
            EXPECT_NEAR(attribute(tag, "xMin"), w.x1 * scale, 3) << text;
            EXPECT_NEAR(attribute(tag, "xMax"), w.x2 * scale, 4) << text;
            EXPECT_NEAR(attribute(tag, "yMax"), w.y2 * scale, 4) << text;
          }
    }
    EXPECT_EQ(found, 18) << out;
  }
}

TEST(HOCR, ParsingRules)
{
  const struct {
    const char* hocr;
    const char* txt;
  } cases[] = {
    // Going back to the left starts a new line; br ends one.
    {"<span class='ocrx_word' title=\"bbox 500 10 600 40\">right</span>"
     "<span title=\"bbox 100 100 200 130\">left</span><br>"
     "<span title=\"bbox 100 300 200 330\">next</span>",
     "right\nleft\nnext\n"},
    // Text before any box has an all-zero box.
    {"loose <span title='bbox 10 10 50 40'>words</span>", "loose\nwords\n"},
    // Titles in single quotes (as OCR engines write them), double quotes or
    // none, with spaces around '=': the boxes start new lines when going left.
    {"<span title='bbox 500 10 600 40'>a</span><span title = \"bbox 100 100 200 130\">b</span>"
     "<span\ttitle=bbox\n>c</span><span title =  'bbox 50 200 90 230; x_wconf 96'>d</span>",
     "a\nbc\nd\n"},
    // Only the attribute named title counts; an unclosed quote is no title.
    {"<span title='bbox 500 10 600 40'>a</span><span data-title='bbox 50 10 90 40'>b</span>"
     "<span title='bbox 50 10 90 40>c</span>",
     "abc\n"},
    // Same box: one span; bold inside a word: two spans, one flush each.
    {"<span title=\"bbox 10 10 90 40\">ab<b>cd</b></span>", "ab cd\n"},
    // A self-closing b/ clears bold at once; img and meta close themselves.
    {"<b/><img src=x><meta x><span title=\"bbox 10 10 90 40\">w</span>", "w\n"},
    // Entities decode once: "&amp;lt;" stays "&lt;"; numeric references.
    {"<span title=\"bbox 10 10 90 40\">a&amp;lt;b &#228;&#xE4;&apos;&bogus; &#xZZ;</span>",
     "a&lt;b \xc3\xa4\xc3\xa4'&bogus; &#xZZ;\n"},
    {"", ""},
  };
  for (const auto& c : cases) {
    CaptureStderr();
    EXPECT_EQ(sideOutput(c.hocr, "txt"), c.txt) << c.hocr;
    GetCapturedStderr();
  }
}

TEST(HOCR, MarkupWarnings)
{
  CaptureStderr();
  const std::string txt = sideOutput("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                     "<!DOCTYPE html><div><p>text</span></p><em",
                                     "txt");
  const std::string err = GetCapturedStderr();
  EXPECT_EQ(txt, "text\n");
  EXPECT_EQ(err.find("xml"), std::string::npos) << err;
  EXPECT_NE(err.find("Warning: no matching tag found to close: 'span'\n"), std::string::npos);
  // One line for every unclosed tag of the file.
  EXPECT_NE(err.find("Warning: unclosed tag: 'em', 'div'\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("!DOCTYPE"), std::string::npos);
}

TEST(HOCR, FontSizeFamilyAndSubLines)
{
  // One word of x-height letters 20 pixels high at 300 dpi: 9 points.
  std::string ops = layerOps("<span title=\"bbox 100 100 180 120\">were</span>", 300);
  EXPECT_NE(ops.find("BT\n3 Tr\n"), std::string::npos);
  EXPECT_NE(ops.find("/F1 9 Tf\n[(were)]TJ\nET\n"), std::string::npos) << ops;
  // Punctuation only: size 1.
  ops = layerOps("<span title=\"bbox 100 100 180 120\">...</span>", 300);
  EXPECT_NE(ops.find("/F1 1 Tf\n"), std::string::npos) << ops;
  // A gap of five heights starts a new text object.
  ops = layerOps("<span title=\"bbox 100 100 180 120\">were</span>"
                 "<span title=\"bbox 400 100 480 120\">more</span>", 300);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), 'E'), 2) << ops;
  // Resolution 0 is taken as 72 dpi: finite numbers.
  ops = layerOps("<span title=\"bbox 100 100 180 120\">were</span>", 0);
  EXPECT_EQ(ops.find("nan"), std::string::npos);
  EXPECT_EQ(ops.find("inf"), std::string::npos);
  EXPECT_NE(ops.find(" Tf\n"), std::string::npos) << ops;

  // Monospaced: similar word widths and narrow or wide glyphs.
  std::string mono;
  for (int i = 0; i < 8; ++i)
    mono += "<span title=\"bbox " + std::to_string(100 + 130 * i) + " 100 " +
            std::to_string(200 + 130 * i) + " 130\">will</span> ";
  std::ostringstream pdf;
  PDFCodec writer(&pdf, "t");
  writer.beginPage(595, 842);
  std::istringstream in(mono);
  std::ostringstream html;
  hocr2pdf(in, &writer, 300, 300, &html, "html", 1);
  EXPECT_EQ(html.str(), "<tt>will will will will will will will will</tt><br>");
  writer.finish();
  EXPECT_NE(pdf.str().find("/BaseFont/Courier"), std::string::npos);
}

TEST(HOCR, SloppyHyphenAndRTFCodes)
{
  const std::string hocr =
    "<span title=\"bbox 100 100 400 130\">split-</span><br>"
    "<span title=\"bbox 100 150 400 180\">ted \xc3\xa4\xe2\x82\xac\xef\xbf\xbd\xf0\x9f\x98\x80</span>";
  EXPECT_EQ(sideOutput(hocr, "txt"), "splitted \xc3\xa4\xe2\x82\xac\xef\xbf\xbd\xf0\x9f\x98\x80\n");
  CaptureStderr();
  const std::string rtf = sideOutput(hocr, "rtf", 300, 2);
  EXPECT_EQ(GetCapturedStderr(), "RTF: can not encode unicode point: 1f600\n");
  EXPECT_EQ(rtf, "\\page splitted \\uc0\\u228 \\u8364 \\u-3 \\\n");
  // Lead and trail text go around the page.
  std::istringstream in("<span title=\"bbox 1 1 9 9\">x</span>");
  std::ostringstream out;
  hocr2pdf(in, nullptr, 300, 300, &out, "txt", 1, "lead", "trail");
  EXPECT_EQ(out.str(), "lead\nx\ntrail\n");
}

TEST(HOCR, LayerFromTesseract)
{
  REQUIRE_TOOL(tesseract, "tesseract");
  REQUIRE_TOOL(pdftoppm, "pdftoppm");
  REQUIRE_TOOL(pdftotext, "pdftotext");
  TempDir dir;
  // A page of visible text, rendered at 300 dpi and recognised.
  {
    std::ostringstream pdf;
    PDFCodec writer(&pdf, "t");
    writer.beginPage(360, 120);
    writer.beginText(0);
    writer.textTo(24, 40);
    writer.showText("Helvetica", "The quick brown fox", 16);
    writer.textTo(24, 64);
    writer.showText("Helvetica", "jumps over the lazy dog.", 16);
    writer.endText();
    ASSERT_TRUE(writer.finish());
    ASSERT_TRUE(writeFile(dir.file("text.pdf"), pdf.str()));
  }
  ASSERT_EQ(run(pdftoppm + " -r 300 -gray -singlefile '" + dir.file("text.pdf") + "' '" +
                dir.file("page") + "'"),
            0);
  ASSERT_EQ(run(tesseract + " '" + dir.file("page.pgm") + "' '" + dir.file("page") +
                "' -l eng hocr 2>/dev/null"),
            0);
  const std::string hocr = readFile(dir.file("page.hocr"));
  ASSERT_NE(hocr.find("ocrx_word"), std::string::npos);

  Image page;
  ASSERT_TRUE(readPNM(page, dir.file("page.pgm")));
  std::ostringstream pdf, txt;
  {
    PDFCodec writer(&pdf, "t");
    writer.beginPage(360, 120);
    writer.showImage(page, 0, 0, 360, 120);
    std::istringstream in(hocr);
    CaptureStderr();
    EXPECT_TRUE(hocr2pdf(in, &writer, 300, 300, &txt, "txt", 1));
    // the engine's file starts with <?xml ...?>: no element, no warning
    EXPECT_EQ(GetCapturedStderr(), "") << hocr.substr(0, 80);
    ASSERT_TRUE(writer.finish());
  }
  EXPECT_EQ(txt.str(), "The quick brown fox jumps over the lazy dog.\n");
  ASSERT_TRUE(writeFile(dir.file("layer.pdf"), pdf.str()));
  std::string out;
  ASSERT_EQ(run(pdftotext + " -raw '" + dir.file("layer.pdf") + "' -", &out), 0);
  // Each word is placed at its own box in a font size estimated from the
  // box heights, which may exceed the printed size: a word may then reach
  // the next one, and a reader may join the two. The letters are all there.
  std::string letters;
  for (char c : out)
    if (!std::isspace((unsigned char)c) && c != '\f')
      letters += c;
  EXPECT_EQ(letters, "Thequickbrownfoxjumpsoverthelazydog.") << out;

  // The engine quotes its titles with single quotes; every word of the layer
  // lies within a few points of the same word on the rendered page.
  EXPECT_NE(hocr.find("title='bbox "), std::string::npos);
  auto boxes = [&](const std::string& path) {
    std::string bbox;
    EXPECT_EQ(run(pdftotext + " -bbox '" + path + "' -", &bbox), 0);
    std::vector<std::pair<std::string, std::vector<double>>> r;
    for (size_t at = bbox.find("<word "); at != std::string::npos; at = bbox.find("<word ", at + 1)) {
      const size_t close = bbox.find('>', at), end = bbox.find("</word>", at);
      const std::string tag = bbox.substr(at, close - at);
      r.emplace_back(bbox.substr(close + 1, end - close - 1),
                     std::vector<double>{attribute(tag, "xMin"), attribute(tag, "yMin"), attribute(tag, "xMax"),
                                         attribute(tag, "yMax")});
    }
    return r;
  };
  const auto rendered = boxes(dir.file("text.pdf")), layer = boxes(dir.file("layer.pdf"));
  ASSERT_EQ(rendered.size(), 9u);
  ASSERT_EQ(layer.size(), rendered.size());
  for (size_t i = 0; i < rendered.size(); ++i) {
    EXPECT_EQ(layer[i].first, rendered[i].first);
    EXPECT_NEAR(layer[i].second[0], rendered[i].second[0], 3) << rendered[i].first;
    EXPECT_NEAR(layer[i].second[3], rendered[i].second[3], 3) << rendered[i].first;
    // the end moves with the estimated font size (18 points for 16 here)
    EXPECT_NEAR(layer[i].second[2], rendered[i].second[2], 7) << rendered[i].first;
  }
}
