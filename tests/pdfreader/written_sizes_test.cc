// Page sides as the PDF writer writes them, read by poppler's own lexer:
// whole pixels at a resolution come back as those pixels.
#include "codecs/PDF.hh"

#include <gtest/gtest.h>

#include <Lexer.h>
#include <Object.h>
#include <Stream.h>

#include <cmath>
#include <sstream>
#include <string>

namespace {

// The number poppler makes of `text` in a file.
double popplerReads(const std::string& text)
{
  const std::string bytes = text + " ";
  Lexer lexer(nullptr, new MemStream(bytes.data(), 0, bytes.size(), Object(objNull)));
  const Object number = lexer.getObj();
  return number.isNum() ? number.getNum() : NAN;
}

} // namespace

// pdftoppm sizes a page ceil(side * dpi / 72); our reader copies an image
// that lands within a millionth of whole pixels as it is. Every side of 1 to
// 3,000 pixels at these resolutions gives both, where the two-decimal text
// of old ("50.16" for 209 px at 300 dpi) was a pixel over for 1 in 20 or so.
TEST(WrittenSizes, WholePixelsReadBackInPoppler)
{
  const int resolutions[] = {72, 75, 96, 100, 120, 150, 200, 240, 300, 301, 400, 600, 1200, 2400};
  int wrong = 0;
  std::ostringstream first;
  for (const int dpi : resolutions)
    for (int pixels = 1; pixels <= 3000; ++pixels) {
      const std::string text = sizeText(pixels * 72.0 / dpi);
      const double x = popplerReads(text) * dpi / 72.0;
      if (std::ceil(x) != pixels || std::fabs(x - pixels) > 1e-6) {
        if (++wrong <= 5)
          first << pixels << " px at " << dpi << " dpi as " << text << " reads " << x << "\n";
      }
    }
  EXPECT_EQ(wrong, 0) << first.str();
}

// Two decimals stay wherever they read back; other sizes are as before.
TEST(WrittenSizes, TextOfSizes)
{
  const struct {
    double points;
    const char* text;
  } cases[] = {
    {834 * 72.0 / 300, "200.16"},      // 834 px at 300 dpi reads back as written
    {1754 * 72.0 / 300, "420.96"},     // so does 1754
    {209 * 72.0 / 300, "50.15999999"}, // "50.16" reads as 50.160000000000004
    {1000 * 72.0 / 301, "239.2026578"}, // no two-decimal text is 1000 px at 301 dpi
    {100, "100"},
    {0.5, "0.5"},    // whole pixels only at 144 dpi and its multiples, exact
    {0.003, "0"},    // no pixel at any resolution: two decimals, as before
    {-3.25, "-3.25"}, // places off the page
    {0, "0"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sizeText(c.points), c.text) << c.points;
  EXPECT_EQ(sizeText(NAN), "0");
}
