#include <gtest/gtest.h>

#include <random>

#include "bardecode/scanner.hh"
#include "bardecode/read_barcodes.hh"
#include "symbols.hh"

using namespace BarDecode;
using bartest::Render;

namespace {

struct PixelType {
  const char* name;
  int spp, bps;
};
const PixelType pixelTypes[] = {
  {"gray8", 1, 8}, {"gray16", 1, 16}, {"rgb8", 3, 8}, {"rgba8", 4, 8}, {"rgb16", 3, 16},
  {"gray1", 1, 1}, {"gray4", 1, 4},
};

// A light image of the given size and type.
void blank(Image& img, int w, int h, int spp = 1, int bps = 8)
{
  img.spp = (uint8_t)spp;
  img.bps = (uint8_t)bps;
  img.resize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      bartest::setGray(img, x, y, 255);
}

std::string describe(const std::vector<scanner_result_t>& hits)
{
  std::string s;
  for (const auto& h : hits)
    s += std::string(bartype2string(h.type)) + ":" + h.code + " ";
  return s;
}

} // namespace

TEST(BarcodeIterator, RenderedSymbols)
{
  // Every zint symbol at 1 to 4 px per module in all four orientations,
  // the pixel types and noise levels taking turns.
  int i = 0;
  for (const auto& s : bartest::symbols()) {
    // A line must hold 24 runs from the white in front on: a 2-digit
    // interleaved 2 of 5 symbol alone has 19.
    if (s.family == "code25" && s.text.size() < 4)
      continue;
    for (int module = 1; module <= 4; ++module)
      for (int orientation = 0; orientation < 4; ++orientation, ++i) {
        const PixelType& pt = pixelTypes[i % 7];
        Render r;
        r.module = module;
        r.orientation = orientation;
        r.spp = pt.spp;
        r.bps = pt.bps;
        r.noise = pt.bps >= 8 ? (i / 7) % 3 * 6 : 0;
        r.seed = (uint32_t)i;
        Image img;
        bartest::render(img, s.modules, r);
        const auto hits = read_barcodes(img, any_code);
        const std::string what = s.family + " " + s.text + " module " + std::to_string(module) +
                                 " orientation " + std::to_string(orientation) + " " + pt.name +
                                 " noise " + std::to_string(r.noise);
        ASSERT_EQ(hits.size(), 1u) << what << ": " << describe(hits);
        EXPECT_EQ(hits[0].type, s.type) << what;
        EXPECT_EQ(hits[0].code, s.text) << what;
        // The left (rows) or top (columns) end of the bars, on the first
        // line group: the first token is counted from the line's first
        // pixel boundary, so a crisp first bar at pixel p reports p - 1.
        const int first = r.quiet * module - 1;
        EXPECT_EQ(hits[0].x, orientation < 2 ? first : 0) << what;
        EXPECT_EQ(hits[0].y, orientation < 2 ? 0 : first) << what;
      }
  }
}

TEST(BarcodeIterator, DirectionsSelectPasses)
{
  const auto s = bartest::family("code128")[1];
  struct Case {
    int orientation;
    unsigned directions;
    bool found;
  };
  const Case cases[] = {
    {0, 1, true}, {0, 4, false}, {0, 2, false}, {0, 8, false},
    {1, 4, true}, {1, 1, false}, {2, 2, true}, {2, 8, false},
    {2, 1, false}, {3, 8, true}, {3, 2, false}, {3, 0, false},
  };
  for (const Case& c : cases) {
    Render r;
    r.orientation = c.orientation;
    Image img;
    bartest::render(img, s.modules, r);
    EXPECT_EQ(read_barcodes(img, any_code, 150, 3, 8, c.directions).size(), c.found ? 1u : 0u)
      << "orientation " << c.orientation << " directions " << c.directions;
  }
}

TEST(BarcodeIterator, TypeMasks)
{
  const auto s = bartest::family("code39")[0];
  Image img;
  bartest::render(img, s.modules, Render());
  EXPECT_EQ(read_barcodes(img, code39).size(), 1u);
  EXPECT_EQ(read_barcodes(img, code128 | gs1_128 | code25i | ean).size(), 0u);
  EXPECT_EQ(read_barcodes(img, 0).size(), 0u);
  // GS1-128 needs the Code 128 bit: the type found is 32 all the same.
  Image gs1;
  bartest::render(gs1, bartest::family("gs1_128")[0].modules, Render());
  EXPECT_EQ(read_barcodes(gs1, gs1_128).size(), 0u);
  ASSERT_EQ(read_barcodes(gs1, code128).size(), 1u);
  EXPECT_EQ(read_barcodes(gs1, code128)[0].type, (int)gs1_128);

  testing::internal::CaptureStderr();
  EXPECT_EQ(bardecode_types("qr"), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unmatched bardecode types: qr\n");
  EXPECT_EQ(bardecode_types("ean"), 15u);
  EXPECT_EQ(bardecode_types("code128"), 48u);
  EXPECT_EQ(bardecode_types("code39"), 448u);
  EXPECT_EQ(bardecode_types("code25"), 512u);
  EXPECT_EQ(bardecode_types("any"), 4095u);
}

TEST(BarcodeIterator, EveryLineGroupReadsMergedToOne)
{
  const auto s = bartest::family("ean13")[0];
  Render r;
  r.length = 40; // groups at rows 0, 8, 16, 24, 32
  Image img;
  bartest::render(img, s.modules, r);
  std::vector<int> rows;
  for (BarcodeIterator<false> it(&img, 150, any_code, any_direction); !it.end(); it.next()) {
    EXPECT_EQ(it.current.code, s.text);
    rows.push_back(it.current.y);
  }
  EXPECT_EQ(rows, (std::vector<int>{0, 8, 16, 24, 32}));
  const auto hits = read_barcodes(img, any_code);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].y, 0);
}

TEST(BarcodeIterator, SingleAndLastLineGroup)
{
  // A 9-row image is one line group: its hit must be delivered.
  const auto s = bartest::family("upca")[0];
  Render r;
  r.length = 9;
  Image img;
  bartest::render(img, s.modules, r);
  BarcodeIterator<false> it(&img, 150, any_code, left_right);
  ASSERT_FALSE(it.end());
  EXPECT_EQ(it.current.code, s.text);
  it.next();
  EXPECT_TRUE(it.end());
  it.next();
  EXPECT_TRUE(it.end()) << "the end is final";

  // A symbol only in the bottom rows, read by the last group (96) alone.
  Image tall;
  blank(tall, img.w, 100);
  r.length = 6;
  bartest::draw(tall, s.modules, r, 0, 94);
  const auto hits = read_barcodes(tall, any_code, 150, 3, 8, 1);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].y, 96);
}

TEST(BarcodeIterator, SeveralSymbolsOnOneLine)
{
  const auto a = bartest::family("code39")[1], b = bartest::family("code25")[2];
  Render r;
  Image img;
  const int wa = (int)(a.modules.size() + 2 * r.quiet) * r.module;
  const int wb = (int)(b.modules.size() + 2 * r.quiet) * r.module;
  blank(img, wa + wb, r.length);
  bartest::draw(img, a.modules, r, 0, 0);
  bartest::draw(img, b.modules, r, wa, 0);
  BarcodeIterator<false> it(&img, 150, any_code, left_right);
  ASSERT_FALSE(it.end());
  EXPECT_EQ(it.current.code, a.text);
  EXPECT_EQ(it.current.x, r.quiet * r.module - 1);
  it.next();
  ASSERT_FALSE(it.end());
  EXPECT_EQ(it.current.code, b.text);
  EXPECT_EQ(it.current.y, 0) << "the same line group";
  EXPECT_EQ(it.current.x, wa + r.quiet * r.module - 1);
}

TEST(BarcodeIterator, ColumnCoordinates)
{
  const auto s = bartest::family("code128")[0];
  Render r;
  r.orientation = 2;
  Image img;
  blank(img, 80, 100 + (int)s.modules.size() * r.module + 40);
  bartest::draw(img, s.modules, r, 40, 100 - r.quiet * r.module);
  const auto hits = read_barcodes(img, any_code, 150, 3, 8, top_down);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].x, 40);
  EXPECT_EQ(hits[0].y, 99) << "the boundary before the first dark pixel";
}

TEST(BarcodeIterator, SameTextWithAndWithoutFnc1)
{
  const auto gs1 = bartest::family("gs1_128")[0];
  bartest::Symbol plain;
  for (const auto& s : bartest::family("code128"))
    if (s.text == gs1.text)
      plain = s;
  ASSERT_EQ(plain.text, gs1.text);
  Render r;
  Image img;
  const int w = (int)(std::max(plain.modules.size(), gs1.modules.size()) + 2 * r.quiet) * r.module;
  blank(img, w, 2 * r.length);
  bartest::draw(img, plain.modules, r, 0, 0);
  bartest::draw(img, gs1.modules, r, 0, r.length);
  const auto hits = read_barcodes(img, any_code);
  ASSERT_EQ(hits.size(), 2u) << describe(hits);
  EXPECT_EQ(hits[0].type, (int)code128);
  EXPECT_EQ(hits[1].type, (int)gs1_128);
}

TEST(BarcodeIterator, CandidateTests)
{
  // The white run in front: 6 px is never a candidate, 7 is (an
  // interleaved 2 of 5 symbol at 1 px accepts either quiet zone).
  const std::string s = bartest::family("code25")[2].modules;
  for (int quiet : {6, 7}) {
    Image img;
    blank(img, quiet + 1 + (int)s.size() + 20, 4);
    Render r;
    r.module = 1;
    r.quiet = 0;
    r.length = 4;
    bartest::draw(img, s, r, quiet + 1, 0); // the first run is one pixel short
    EXPECT_EQ(read_barcodes(img, any_code, 150, 3, 8, 1).size(), quiet == 7 ? 1u : 0u) << quiet;
  }

  // The white run must be at least three times the first bar: Code 128 at
  // 7 px per module opens with a 14 px bar.
  const std::string c128 = bartest::family("code128")[0].modules;
  for (int quiet : {41, 42}) {
    Image img;
    blank(img, quiet + 1 + 7 * (int)c128.size() + 80, 4);
    Render r;
    r.module = 7;
    r.quiet = 0;
    r.length = 4;
    bartest::draw(img, c128, r, quiet + 1, 0);
    EXPECT_EQ(read_barcodes(img, any_code, 150, 3, 8, 1).size(), quiet == 42 ? 1u : 0u) << quiet;
  }

  // 24 tokens from the white run to the line's end are needed: "12" (17
  // elements) with four more ending white gives 23, five ending black 24.
  const std::string twelve = bartest::family("code25")[0].modules;
  for (const std::string tail : {"1010", "10101"}) {
    const std::string line = std::string(10, '0') + twelve + std::string(10, '0') + tail;
    Image img;
    Render r;
    r.module = 2;
    r.quiet = 0;
    r.length = 3;
    bartest::render(img, line, r);
    EXPECT_EQ(read_barcodes(img, any_code, 150, 3, 8, 1).size(), tail.size() == 5 ? 1u : 0u)
      << tail;
  }
}

TEST(BarcodeIterator, NothingToRead)
{
  Image empty, plain, tiny;
  blank(plain, 50, 30);
  blank(tiny, 1, 1);
  const Image* images[] = {&empty, &plain, &tiny};
  for (const Image* img : images) {
    EXPECT_TRUE(BarcodeIterator<false>(img, 150, any_code, any_direction).end());
    EXPECT_TRUE(BarcodeIterator<true>(img, 150, any_code, any_direction).end());
  }
  // Group sizes and steps below 1 end at once instead of looping.
  Image img;
  bartest::render(img, bartest::family("ean8")[0].modules, Render());
  for (int bad : {0, -1, -100000}) {
    EXPECT_TRUE(read_barcodes(img, any_code, 150, bad, 8).empty());
    EXPECT_TRUE(read_barcodes(img, any_code, 150, 3, bad).empty());
  }
  EXPECT_EQ(read_barcodes(img, any_code, 150, 1 << 30, 1 << 30).size(), 1u);

  // An unknown pixel type: one diagnostic, no hits.
  Image odd;
  odd.spp = 1;
  odd.bps = 8;
  odd.resize(40, 40);
  odd.spp = 5;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(read_barcodes(odd, any_code).empty());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

TEST(BarcodeIterator, RandomStripesAndTruncatedSymbols)
{
  // Random stripes and symbols cut at random places: every walk ends, and
  // any hit is a symbol that was drawn whole. Interleaved 2 of 5 carries no
  // check: a cut symbol whose stripes run on like a stop pattern reads as
  // its leading digit pairs.
  std::mt19937 rng(11);
  const auto& all = bartest::symbols();
  for (int round = 0; round < 60; ++round) {
    std::string line(20, '0');
    while (line.size() < 600) {
      const auto& s = all[rng() % all.size()];
      if (rng() % 3 == 0) {
        line += s.modules.substr(0, rng() % s.modules.size());
      } else {
        for (int k = 0, n = (int)(rng() % 40); k < n; ++k)
          line += std::string(1 + rng() % 5, k % 2 ? '0' : '1');
      }
      line += std::string(rng() % 15, '0');
    }
    Render r;
    r.module = 1 + (int)(rng() % 3);
    r.orientation = (int)(rng() % 4);
    r.noise = rng() % 2 ? 8 : 0;
    r.seed = (uint32_t)round;
    r.length = 12;
    Image img;
    bartest::render(img, line, r);
    for (const auto& h : read_barcodes(img, any_code, 150, 1 + (int)(rng() % 4), 1 + (int)(rng() % 5))) {
      bool known = false;
      for (const auto& s : all)
        known = known || (s.text == h.code && line.find(s.modules) != std::string::npos) ||
                (h.type == code25i && s.type == code25i && s.text.compare(0, h.code.size(), h.code) == 0);
      EXPECT_TRUE(known) << bartype2string(h.type) << " " << h.code << " round " << round;
    }
  }
}
