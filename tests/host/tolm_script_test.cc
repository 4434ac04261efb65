// A script run by the tolm executable: a multi-page TIFF file becomes a PDF
// file with a text layer, checked with independent PDF tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include "tests/support/TestSupport.hh"
#include "utility/UTF8.hh"

using namespace testsupport;

#ifdef TOLM_EXE

namespace {

// One line of three words per page, at 150 dpi.
std::string pageHocr(int page)
{
  std::ostringstream s;
  // word boxes about as wide as the words set at the line's height
  s << "<div class='ocr_page' title=\"bbox 0 0 600 300\">"
    << "<span class='ocr_line' title=\"bbox 20 40 460 80; baseline 0 -5\">"
    << "<span class='ocrx_word' title=\"bbox 20 40 140 80\">page</span> "
    << "<span class='ocrx_word' title=\"bbox 160 40 340 80\">number</span> "
    << "<span class='ocrx_word' title=\"bbox 370 40 460 80\">p" << page << "x</span>"
    << "</span></div>\n";
  return s.str();
}

} // namespace

TEST(TolmScript, MultiPageTiffToPdfWithTextLayer)
{
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(qpdf, "qpdf");
  REQUIRE_TOOL(pdfinfo, "pdfinfo");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  REQUIRE_TOOL(pdftotext, "pdftotext");
  TempDir dir;
  REQUIRE_TOOL(tiffcp, "tiffcp");
  // Three pages written by libtiff: bilevel G4, gray LZW, RGB deflate.
  const std::string make =
    "from PIL import Image, ImageDraw\n"
    "for n, (mode, c) in enumerate((('1', 'group4'), ('L', 'tiff_lzw'),\n"
    "                               ('RGB', 'tiff_adobe_deflate'))):\n"
    "    im = Image.new(mode, (600, 300), 'white')\n"
    "    ImageDraw.Draw(im).rectangle((100, 150, 500, 250), fill='black')\n"
    "    im.save('" + dir.path() + "/p%d.tif' % n, dpi=(150, 150), compression=c)\n";
  ASSERT_TRUE(writeFile(dir.file("make.py"), make));
  ASSERT_EQ(run(python + " '" + dir.file("make.py") + "'"), 0);
  ASSERT_EQ(run(tiffcp + " '" + dir.file("p0.tif") + "' '" + dir.file("p1.tif") + "' '" +
                dir.file("p2.tif") + "' '" + dir.file("in.tif") + "'"),
            0);
  for (int page = 1; page <= 3; ++page)
    ASSERT_TRUE(writeFile(dir.file("page" + std::to_string(page) + ".hocr"), pageHocr(page)));

  const std::string pdf = dir.file("out.pdf");
  std::string out;
  EXPECT_EQ(run(std::string(TOLM_EXE) + " --script '" + sourceDir() +
                  "/tests/host/scripts/tiff2pdf.lua' '" + dir.file("in.tif") + "' '" + pdf +
                  "' '" + dir.file("page%d.hocr") + "' 2>&1",
                &out),
            0)
    << out;
  EXPECT_EQ(out, "");

  EXPECT_EQ(run(qpdf + " --check '" + pdf + "' 2>&1", &out), 0) << out;
  ASSERT_EQ(run(pdfinfo + " '" + pdf + "'", &out), 0);
  EXPECT_NE(out.find("Pages:           3\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Page size:       288 x 144 pts"), std::string::npos) << out;
  ASSERT_EQ(run(pdfimages + " -list '" + pdf + "'", &out), 0);
  std::istringstream lines(out);
  std::string line;
  std::getline(lines, line); // the two heading lines
  std::getline(lines, line);
  for (const char* want : {"1 image 600x300 gray 1 1 ccitt", "2 image 600x300 gray 1 8 image",
                           "3 image 600x300 rgb 3 8 image"}) {
    ASSERT_TRUE(std::getline(lines, line)) << out;
    std::istringstream words(line);
    std::string page, num, type, w, h, color, comp, bpc, enc;
    words >> page >> num >> type >> w >> h >> color >> comp >> bpc >> enc;
    EXPECT_EQ(page + " " + type + " " + w + "x" + h + " " + color + " " + comp + " " + bpc + " " +
                enc,
              want);
  }
  for (int page = 1; page <= 3; ++page) {
    const std::string p = std::to_string(page);
    ASSERT_EQ(run(pdftotext + " -f " + p + " -l " + p + " '" + pdf + "' -", &out), 0);
    // Word gaps are pdftotext's guess: compare the letters.
    std::string letters;
    for (char c : out)
      if (!isspace((unsigned char)c))
        letters += c;
    EXPECT_EQ(letters, "pagenumberp" + p + "x") << out;
  }
}

// Text shown after a page's text layer, or between two layers, is drawn:
// the layer's invisible mode stays its own. Drawn by poppler at 72 dpi:
// every shown word has dark pixels in its box, the layer's words none,
// and pdftotext still reads them all.
TEST(TolmScript, TextShownAroundATextLayerIsVisible)
{
  REQUIRE_TOOL(pdftoppm, "pdftoppm");
  REQUIRE_TOOL(pdftotext, "pdftotext");
  REQUIRE_TOOL(qpdf, "qpdf");
  TempDir dir;
  // Layer words at 300 dpi in the top band (y 5..25 pt); shown words of
  // 30 pt on baselines 60 and 95, at x 20 and 160.
  const std::string script =
    "local Tolm = require('Tolm')\n"
    "local order = arg[2]\n"
    "local pdf = Tolm.PDFCodec.new(arg[1], 'pdf', 'test')\n"
    "pdf:beginPage(300, 100)\n"
    "local x = {20, 160}\n"
    "local function layer(n)\n"
    "  local left = math.floor(x[n] * 300 / 72)\n"
    "  pdf:hocr2pdf(string.format('<span class=\"ocrx_word\" title=\"bbox %d 21 %d 104\">layer%d</span>',\n"
    "                             left, left + 400, n), 300, 300)\n"
    "end\n"
    "local function shown(n)\n"
    "  pdf:beginText()\n"
    "  pdf:textTo(x[n], 60 + 35 * (n - 1))\n"
    "  pdf:showText('Helvetica', 'SHOWN' .. n, 30)\n"
    "  pdf:endText()\n"
    "end\n"
    "for step in order:gmatch('%a%d') do\n"
    "  if step:sub(1, 1) == 'L' then layer(tonumber(step:sub(2))) else shown(tonumber(step:sub(2))) end\n"
    "end\n"
    "pdf:delete()\n";
  ASSERT_TRUE(writeFile(dir.file("page.lua"), script));

  // Dark pixels (below 128) of a 300 x 100 gray page in a box of points.
  auto dark = [](const Image& page, int x1, int y1, int x2, int y2) {
    int n = 0;
    for (int y = y1; y < y2 && y < page.h; ++y)
      for (int x = x1; x < x2 && x < page.w; ++x)
        n += sampleAt(page, x, y) < 128;
    return n;
  };
  for (const char* order : {"L1S1", "S1L1S2", "L1L2S1S2", "S1L1"}) {
    SCOPED_TRACE(order);
    const std::string pdf = dir.file(std::string(order) + ".pdf");
    std::string out;
    ASSERT_EQ(run(std::string(TOLM_EXE) + " --script '" + dir.file("page.lua") + "' '" + pdf +
                    "' " + order + " 2>&1",
                  &out),
              0)
      << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(run(qpdf + " --check '" + pdf + "' 2>&1", &out), 0) << out;
    ASSERT_EQ(run(pdftoppm + " -r 72 -gray '" + pdf + "' '" + dir.file("page") + "'"), 0);
    Image page;
    ASSERT_TRUE(readPNM(page, dir.file("page-1.pgm")));
    ASSERT_EQ(page.w, 300);
    ASSERT_EQ(page.h, 100);
    const std::string steps = order;
    for (int n = 1; n <= 2; ++n) {
      const int x = n == 1 ? 20 : 160;
      if (steps.find("S" + std::to_string(n)) != std::string::npos) {
        EXPECT_GT(dark(page, x, 35 + 35 * (n - 1), x + 130, 62 + 35 * (n - 1)), 100)
          << "SHOWN" << n;
      }
    }
    EXPECT_EQ(dark(page, 0, 0, 300, 28), 0) << "the layer is drawn";
    ASSERT_EQ(run(pdftotext + " '" + pdf + "' -", &out), 0);
    for (size_t i = 0; i + 1 < steps.size(); i += 2) {
      const std::string word = (steps[i] == 'L' ? "layer" : "SHOWN") + steps.substr(i + 1, 1);
      EXPECT_NE(out.find(word), std::string::npos) << word << " in " << out;
    }
  }
}

// hOCR that is not good text: each cause is said in one short line for
// the file, and a bad byte costs its word nothing but one U+FFFD.
TEST(TolmScript, HocrNoiseIsSaidOnceAndBadBytesAreReplaced)
{
  REQUIRE_TOOL(pdftotext, "pdftotext");
  REQUIRE_TOOL(qpdf, "qpdf");
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.file("page.lua"),
                        "local Tolm = require('Tolm')\n"
                        "local pdf = Tolm.PDFCodec.new(arg[2], 'pdf', 'test')\n"
                        "pdf:beginPage(600, 200)\n"
                        "local f = assert(io.open(arg[1], 'rb'))\n"
                        "assert(pdf:hocr2pdf(f:read('*a'), 300, 300))\n"
                        "f:close()\n"
                        "pdf:delete()\n"));
  auto wordAt = [](int x, const std::string& text) {
    return "<span class='ocrx_word' title=\"bbox " + std::to_string(x) + " 40 " +
           std::to_string(x + 400) + " 90\">" + text + "</span> ";
  };
  std::string randomBytes, badSequences, japanese, unmatched;
  uint32_t seed = 7;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245 + 12345;
    randomBytes += (char)(seed >> 16);
  }
  for (int i = 0; i < 10000; ++i)
    badSequences += "\xe6\x97"; // the start of a CJK character, cut short
  // 300 different characters: more than the 253 codes of one font
  for (uint32_t u = 0x4E00; u < 0x4E00 + 300; ++u)
    japanese += EncodeUtf8(std::vector<uint32_t>{u});
  for (int i = 0; i < 5000; ++i)
    unmatched += "</b>";
  const struct {
    const char* name;
    std::string hocr;
  } cases[] = {
    {"random bytes", randomBytes},
    {"10,000 bad sequences", wordAt(20, badSequences)},
    {"Japanese text", wordAt(20, japanese)},
    {"5,000 unmatched closing tags", wordAt(20, "x" + unmatched)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(writeFile(dir.file("page.hocr"), c.hocr));
    std::string err;
    ASSERT_EQ(run(std::string(TOLM_EXE) + " --script '" + dir.file("page.lua") + "' '" +
                    dir.file("page.hocr") + "' '" + dir.file("out.pdf") + "' 2>&1 >/dev/null",
                  &err),
              0)
      << err.substr(0, 2000);
    // a line for each cause: bad bytes, markup, codes used up, names
    EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 5) << err.substr(0, 2000);
    EXPECT_LE(err.size(), 800u) << err.substr(0, 2000);
    std::string out;
    EXPECT_EQ(run(qpdf + " --check '" + dir.file("out.pdf") + "' 2>&1", &out), 0) << out;
  }

  // A bad byte in a word: the word keeps its letters, the next word too.
  ASSERT_TRUE(writeFile(dir.file("page.hocr"),
                        "<span class='ocr_line' title=\"bbox 20 40 1300 90\">" +
                          wordAt(20, "ab\xff" "cdefghij") + wordAt(700, "klm") + "</span>"));
  std::string err, out;
  ASSERT_EQ(run(std::string(TOLM_EXE) + " --script '" + dir.file("page.lua") + "' '" +
                  dir.file("page.hocr") + "' '" + dir.file("out.pdf") + "' 2>&1 >/dev/null",
                &err),
            0)
    << err;
  EXPECT_NE(err.find("not UTF-8: 1 byte read as U+FFFD"), std::string::npos) << err;
  ASSERT_EQ(run(pdftotext + " '" + dir.file("out.pdf") + "' -", &out), 0);
  EXPECT_NE(out.find("ab\xef\xbf\xbd" "cdefghij"), std::string::npos) << out;
  EXPECT_NE(out.find("klm"), std::string::npos) << out;
}

// However a script ends short of being killed, the files it was writing
// through Codec and PDFCodec are finished and put in place, and no part
// file stays beside them: os.exit with any code (as the stand-alone
// interpreter keeps a file written before it) from the script, a timer, a
// coroutine or a finaliser run while the state closes; an error; Tolm.exit
// from the run loop; the end of the script; a signal the script caught,
// taken or not.
TEST(TolmScript, ScriptWritersFinishOnEveryExit)
{
  REQUIRE_TOOL(tiffinfo, "tiffinfo");
  REQUIRE_TOOL(qpdf, "qpdf");
  REQUIRE_TOOL(lua51, "lua5.1");
  const std::string writers =
    "local Tolm = require('Tolm')\n"
    "local img = Tolm.Image.new()\n"
    "img:setImageData(64, 48, 1, 8, string.rep('\\200\\40', 64 * 24))\n"
    "local c = Tolm.Codec.new('x.tif')\n"
    "assert(c:writeMultiImage(img, 0, '', 0) and c:writeMultiImage(img, 0, '', 1))\n"
    "local p = Tolm.PDFCodec.new('x.pdf', 'pdf', 'test')\n"
    "p:beginPage(64, 48)\n"
    "assert(p:showImage(img, 0, 0, 64, 48, 75, ''))\n"
    "local f = io.open('x.txt', 'w') f:write('written') \n";
  const struct {
    const char* name;
    const char* ending;
    int status;
  } cases[] = {
    {"os.exit(0)", "os.exit(0)", 0},
    {"os.exit(3)", "os.exit(3)", 3},
    {"os.exit()", "os.exit()", 0},
    {"error", "error('stop')", 1},
    {"end of script", "", 0},
    {"Tolm.exit", "Tolm.addTimer(function() Tolm.exit(5) end, 0.01) Tolm.run()", 5},
    {"os.exit in a timer", "Tolm.addTimer(function() os.exit(2) end, 0.01) Tolm.run()", 2},
    {"os.exit in a coroutine", "coroutine.wrap(function() pcall(os.exit, 4) end)()", 4},
    {"os.exit in a finaliser",
     "local u = newproxy(true) getmetatable(u).__gc = function() os.exit(6) end", 6},
    {"interrupted",
     "Tolm.catchSignals(function() end)\n"
     "local ok, err, sig = Tolm.interruptible(function()\n"
     "  os.execute('kill -TERM $PPID') while true do end end)\n"
     "os.exit(128 + sig)",
     143},
    // ended by the signal, once the state has closed
    {"caught, never taken", "Tolm.catchSignals(function() end) os.execute('kill -TERM $PPID')",
     143},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("s.lua"), writers + c.ending + "\n"));
    std::string out;
    EXPECT_EQ(run("cd '" + dir.path() + "' && " + TOLM_EXE + " --script s.lua 2>&1", &out),
              c.status)
      << out;
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"s.lua", "x.pdf", "x.tif", "x.txt"}));
    EXPECT_EQ(run(tiffinfo + " '" + dir.file("x.tif") + "' 2>&1", &out), 0) << out;
    size_t pages = 0;
    for (size_t at = out.find("TIFF Directory"); at != std::string::npos;
         at = out.find("TIFF Directory", at + 1))
      ++pages;
    EXPECT_EQ(pages, 2u) << out;
    EXPECT_EQ(run(qpdf + " --check '" + dir.file("x.pdf") + "' 2>&1", &out), 0) << out;
    EXPECT_EQ(readFile(dir.file("x.txt")), "written");
  }
  // The stand-alone interpreter, for the plain file.
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.file("s.lua"), "local f = io.open('x.txt', 'w') f:write('written') "
                                           "os.exit(3)\n"));
  EXPECT_EQ(run("cd '" + dir.path() + "' && " + lua51 + " s.lua"), 3);
  EXPECT_EQ(readFile(dir.file("x.txt")), "written");
}

#endif
