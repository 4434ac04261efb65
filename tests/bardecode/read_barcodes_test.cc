// Whole-image reading of tilted symbols: a scan line that crosses an edge of
// the symbol must not add a shorter read of its own.
#include <gtest/gtest.h>

#include <string>

#include "bardecode/read_barcodes.hh"
#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

using namespace BarDecode;

TEST(ReadBarcodes, TiltedInterleavedSymbolsReadOnce)
{
  REQUIRE_TOOL(zint, "zint");
  REQUIRE_TOOL(convert, "convert");
  testsupport::TempDir tmp;
  // Symbols by zint at 3 pixels per module with quiet zones, turned by
  // ImageMagick; each angle gave a truncated second read ("1872819004",
  // "1234", "7890") before.
  const struct {
    const char* text;
    double angles[6];
  } cases[] = {
    {"187281900482", {5, 6, -3, 93, 267, 0}},
    {"1234567890", {-4, -1, 1, 4, 10, 12}},
  };
  for (const auto& c : cases) {
    const std::string png = tmp.file(std::string(c.text) + ".png");
    ASSERT_EQ(testsupport::run(zint + " -b C25INTER --scale=1.5 --whitesp=10 --vwhitesp=10 -d " + c.text +
                               " -o '" + png + "'"),
              0);
    for (double angle : c.angles) {
      const std::string pgm = tmp.file("turned.pgm");
      ASSERT_EQ(testsupport::run(convert + " '" + png + "' -background white -rotate " + std::to_string(angle) +
                                 " -colorspace gray '" + pgm + "'"),
                0);
      Image img;
      ASSERT_TRUE(testsupport::readPNM(img, pgm));
      const auto reads = read_barcodes(img, any_code);
      ASSERT_EQ(reads.size(), 1u) << c.text << " at " << angle << " degrees: "
                                  << (reads.size() > 1 ? reads[0].code + " " + reads[1].code : "");
      EXPECT_EQ(reads[0].type, code25i);
      EXPECT_EQ(reads[0].code, c.text);
    }
  }
}
