// Our reader against zbarimg on a few hundred symbols of the six families
// in four orientations and at two noise levels: every symbol zbarimg reads
// must be read by us with the same text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>
#include <iostream>
#include <map>

#include "bardecode/read_barcodes.hh"
#include "symbols.hh"
#include "zbar.hh"

using namespace BarDecode;

TEST(Peer, ReadsWhatZbarReads)
{
  REQUIRE_TOOL(zbarimg, "zbarimg");
  testsupport::TempDir tmp;
  struct Item {
    std::string file;
    bartest::Symbol symbol;
    std::vector<scanner_result_t> ours;
  };
  std::vector<Item> items;
  int i = 0;
  for (const auto& s : bartest::symbols())
    for (int orientation = 0; orientation < 4; ++orientation)
      for (double noise : {0.0, 10.0}) {
        bartest::Render r;
        r.module = 1 + i % 4;
        r.orientation = orientation;
        r.noise = noise;
        r.seed = (uint32_t)(1000 + i);
        r.length = 30;
        Image img;
        bartest::render(img, s.modules, r);
        Item it{"s" + std::to_string(i++) + ".pgm", s, read_barcodes(img, any_code)};
        ASSERT_TRUE(testsupport::writePNM(img, tmp.file(it.file)));
        items.push_back(it);
      }
  ASSERT_GE(items.size(), 300u);

  std::vector<std::string> files;
  for (const auto& it : items)
    files.push_back(it.file);
  const auto zbar = bartest::zbarRead(zbarimg, tmp.path(), files);

  int zbarReads = 0, ourReads = 0, both = 0;
  for (const auto& it : items) {
    const std::string what = it.file + " " + it.symbol.family + " " + it.symbol.text;
    bool oursRight = false;
    for (const auto& h : it.ours) {
      EXPECT_EQ(h.type, it.symbol.type) << what << ": no false reads";
      EXPECT_EQ(h.code, it.symbol.text) << what << ": no false reads";
      oursRight = oursRight || (h.type == it.symbol.type && h.code == it.symbol.text);
    }
    ourReads += oursRight;
    auto z = zbar.find(it.file);
    if (z == zbar.end() || z->second.empty())
      continue;
    ++zbarReads;
    for (const auto& zs : z->second) {
      EXPECT_EQ(zs.type, it.symbol.type) << what << " (zbar)";
      EXPECT_EQ(zs.code, it.symbol.text) << what << " (zbar)";
    }
    EXPECT_TRUE(oursRight) << what << ": zbarimg reads it, we do not";
    both += oursRight;
  }
  std::cout << "images " << items.size() << ", zbarimg read " << zbarReads << ", we read "
            << ourReads << ", both " << both << "\n";
  RecordProperty("images", (int)items.size());
  RecordProperty("zbarimg", zbarReads);
  RecordProperty("ours", ourReads);
  EXPECT_GT(zbarReads, 250);
}

TEST(Peer, Bartool)
{
  const std::string tool = BARTOOL;
  testsupport::TempDir tmp;
  Image img;
  bartest::Render r;
  r.orientation = 2;
  for (const auto& s : bartest::family("code128"))
    if (s.text == "A\tB\x01" "C")
      bartest::render(img, s.modules, r);
  ASSERT_GT(img.w, 0);
  ASSERT_TRUE(testsupport::writePNM(img, tmp.file("c.pgm")));
  std::string out;
  EXPECT_EQ(testsupport::run("'" + tool + "' " + tmp.file("c.pgm"), &out), 0);
  EXPECT_EQ(out, "code128\tA\\x09B\\x01C\t0\t19\n");
  EXPECT_EQ(testsupport::run("'" + tool + "' " + tmp.file("c.pgm") + " --types ean", &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(testsupport::run("'" + tool + "' " + tmp.file("c.pgm") + " --directions 1", &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_NE(testsupport::run("'" + tool + "' " + tmp.file("missing.pgm") + " 2>/dev/null", &out), 0);
  EXPECT_NE(testsupport::run("'" + tool + "' " + tmp.file("c.pgm") + " --lines x 2>/dev/null", &out), 0);
  // a mistyped type is no "no barcode": one line, a usage error
  EXPECT_EQ(testsupport::run("'" + tool + "' " + tmp.file("c.pgm") + " --types bogus 2>&1", &out), 2);
  EXPECT_EQ(out, "bartool: unknown barcode type 'bogus' (ean, code128, code39, code25 or any)\n");
}
