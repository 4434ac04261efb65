// CCITT fax coding: the code tables, the encoder's bit patterns, round trips
// over generated pages, data made by libtiff, and mutated streams.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <sstream>

#include "codecs/CCITT.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// A packed 1-bit page (1 = white) drawn by a function of (x, y) -> black?
std::string page(int w, int h, const std::function<bool(int, int)>& black)
{
  const size_t rb = ((size_t)w + 7) / 8;
  std::string rows(rb * h, '\0');
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (!black(x, y))
        rows[y * rb + x / 8] |= (char)(0x80 >> (x % 8));
  return rows;
}

std::string encode(const std::string& rows, int w, int h, bool blackIs1 = false)
{
  std::ostringstream out;
  EncodeCCITT(out, (const unsigned char*)rows.data(), w, h, 0, blackIs1);
  return out.str();
}

std::string decode(const std::string& data, int w, int h, int K = -1, bool align = false, bool blackIs1 = false,
                   bool eob = false)
{
  std::istringstream in(data);
  return DecodeCCITT(in, w, h, K, align, blackIs1, eob);
}

std::string bits(const std::string& bytes)
{
  std::string s;
  for (unsigned char c : bytes)
    for (int i = 7; i >= 0; --i)
      s.push_back((c >> i) & 1 ? '1' : '0');
  return s;
}

// Clears the bits past the width in each row, which the coders ignore.
std::string masked(std::string rows, int w, int h)
{
  const size_t rb = ((size_t)w + 7) / 8;
  if (w % 8)
    for (int y = 0; y < h; ++y)
      rows[y * rb + rb - 1] &= (char)(0xff << (8 - w % 8));
  return rows;
}

struct PageCase {
  const char* name;
  std::function<bool(int, int)> black;
};

const PageCase kPages[] = {
  {"white", [](int, int) { return false; }},
  {"black", [](int, int) { return true; }},
  {"checker", [](int x, int y) { return ((x ^ y) & 1) != 0; }},
  {"halftone", [](int x, int y) { return ((x * 7 + y * 13) % 5) < 2; }},
  {"columns", [](int x, int) { return x % 9 == 4; }},
  {"text", [](int x, int y) { return (y % 14) > 3 && (y % 14) < 11 && (x % 11) < 6 && ((x / 11 + y / 14) % 4) != 0; }},
  {"long runs", [](int x, int y) { return (x + y) % 3000 < 2624; }},
};

} // namespace

TEST(CCITT, CodeTableRows)
{
  EXPECT_EQ(ttable[0].whiteCode, 0x35);
  EXPECT_EQ(ttable[0].whiteLen, 8);
  EXPECT_EQ(ttable[0].blackCode, 0x37);
  EXPECT_EQ(ttable[0].blackLen, 10);
  EXPECT_EQ(ttable[103].whiteCode, 0x1F);
  EXPECT_EQ(ttable[103].blackLen, 12);
  // Each colour's codes are prefix-free and fill the code space except the
  // prefix of eight zeros that EOL lives in.
  for (int colour = 0; colour < 2; ++colour) {
    double kraft = 0;
    for (int i = 0; i < 104; ++i) {
      const int len = colour ? ttable[i].blackLen : ttable[i].whiteLen;
      kraft += std::ldexp(1.0, -len);
      for (int j = 0; j < 104; ++j) {
        if (i == j)
          continue;
        const int lj = colour ? ttable[j].blackLen : ttable[j].whiteLen;
        const int ci = colour ? ttable[i].blackCode : ttable[i].whiteCode;
        const int cj = colour ? ttable[j].blackCode : ttable[j].whiteCode;
        if (lj >= len) {
          ASSERT_NE(cj >> (lj - len), ci) << "prefix " << i << " of " << j;
        }
      }
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0 - 1.0 / 256);
  }
}

TEST(CCITT, AllWhiteIsOneV0PerRow)
{
  for (int w : {1, 10, 1728}) {
    const std::string rows = page(w, 3, [](int, int) { return false; });
    EXPECT_EQ(bits(encode(rows, w, 3)), "111" "000000000001" "000000000001" "00000") << w;
  }
}

TEST(CCITT, RunsUseMakeupThenTerminating)
{
  // First row: black from pixel 0 for 2624 pixels, then white to 2700.
  // Horizontal mode: white run 0, black run 2624 = make-up 2560 + make-up 64
  // + terminating 0.
  const int w = 2700;
  const std::string rows = page(w, 1, [](int x, int) { return x < 2624; });
  const std::string b = bits(encode(rows, w, 1));
  const std::string want = std::string("001") + "00110101" /* white 0 */ + "000000011111" /* 2560 */ +
                           "0000001111" /* black 64 */ + "0000110111" /* black 0 */;
  EXPECT_EQ(b.substr(0, want.size()), want);

  // 64 is make-up 64 and terminating 0; 63 is terminating 63 alone.
  const std::string r64 = bits(encode(page(100, 1, [](int x, int) { return x < 64; }), 100, 1));
  EXPECT_EQ(r64.substr(0, 3 + 8 + 10 + 10), std::string("001") + "00110101" + "0000001111" + "0000110111");
  const std::string r63 = bits(encode(page(100, 1, [](int x, int) { return x < 63; }), 100, 1));
  EXPECT_EQ(r63.substr(0, 3 + 8 + 12), std::string("001") + "00110101" + "000001100111");
}

TEST(CCITT, RoundTripsGeneratedPages)
{
  for (const auto& p : kPages)
    for (int w : {1, 7, 9, 100, 1728, 2481, 3000})
      for (bool blackIs1 : {false, true}) {
        const int h = 37;
        std::string rows = page(w, h, p.black);
        if (blackIs1)
          for (auto& c : rows)
            c = (char)~c;
        rows = masked(rows, w, h);
        const std::string enc = encode(rows, w, h, blackIs1);
        EXPECT_EQ(decode(enc, w, h, -1, false, blackIs1), rows) << p.name << " w " << w << " b1 " << blackIs1;
        // Without a height the data end (EOFB) ends decoding.
        EXPECT_EQ(decode(enc, w, 0, -1, false, blackIs1), rows) << p.name << " w " << w;
      }
}

TEST(CCITT, DecodedWhiteIsOneBitsUnlessBlackIs1)
{
  const std::string enc = encode(page(12, 2, [](int, int) { return false; }), 12, 2);
  EXPECT_EQ(decode(enc, 12, 2), std::string("\xff\xf0\xff\xf0", 4));
  EXPECT_EQ(decode(enc, 12, 2, -1, false, true), std::string(4, '\0'));
}

TEST(CCITT, MissingEndOfBlockIsReportedAndNotConsumed)
{
  const std::string rows = page(16, 1, [](int x, int) { return x == 3; });
  std::string enc = encode(rows, 16, 1);
  enc.resize(enc.size() - 3); // drop the EOFB
  enc += std::string("\xAB\xCD\xEF", 3);
  std::istringstream in(enc);
  testing::internal::CaptureStderr();
  const std::string out = DecodeCCITT(in, 16, 1, -1, false, false, true);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("no EOFB: "), std::string::npos);
  EXPECT_EQ(out, rows);
  EXPECT_LT((size_t)in.tellg(), enc.size()); // the stream stays before the bytes tested
}

TEST(CCITT, RowCountsBeyondTheDataEndCleanly)
{
  const std::string rows = masked(page(50, 10, kPages[5].black), 50, 10);
  const std::string enc = encode(rows, 50, 10);
  // Asking for more rows gives what was there.
  EXPECT_EQ(decode(enc, 50, 1000), rows);
  // Truncated data gives the completed rows and the row in progress.
  const std::string part = decode(enc.substr(0, enc.size() / 2), 50, 10);
  EXPECT_LE(part.size(), rows.size());
  EXPECT_EQ(part.size() % 7, 0u);
}

TEST(CCITT, MutatedStreamsEndCleanly)
{
  std::mt19937 rng(1234);
  const int w = 300, h = 60;
  const std::string rows = page(w, h, kPages[5].black);
  const std::string enc = encode(rows, w, h);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 400; ++i) {
    std::string m = enc;
    const int flips = 1 + (int)(rng() % 8);
    for (int f = 0; f < flips; ++f)
      m[rng() % m.size()] ^= (char)(1 << (rng() % 8));
    if (rng() % 4 == 0)
      m.resize(rng() % m.size());
    for (int K : {-1, 0, 4}) {
      const std::string out = decode(m, w, (i % 3) ? h : 0, K, (i % 5) == 0);
      ASSERT_EQ(out.size() % ((w + 7) / 8), 0u);
      ASSERT_LE(out.size(), (size_t)((w + 7) / 8) * (m.size() * 8 + 1));
      // Into memory: the same rows, the row count, nothing written after
      // them (the buffer has a guard row).
      if (i % 3) {
        const size_t rb = (w + 7) / 8;
        std::string mem((h + 1) * rb, '\x5a');
        const size_t got = DecodeCCITT((const uint8_t*)m.data(), m.size(), w, h, K, (i % 5) == 0,
                                       false, (uint8_t*)&mem[0], h);
        ASSERT_EQ(got * rb, out.size()) << i << " K " << K;
        ASSERT_EQ(mem.substr(0, out.size()), out) << i << " K " << K;
        ASSERT_EQ(mem.substr(h * rb), std::string(rb, '\x5a'));
      }
    }
  }
  testing::internal::GetCapturedStderr();
}

TEST(CCITT, HostileGeometry)
{
  const std::string enc = encode(page(8, 1, [](int, int) { return false; }), 8, 1);
  EXPECT_EQ(decode(enc, 0, 5), "");
  EXPECT_EQ(decode(enc, -3, 5), "");
  testing::internal::CaptureStderr();
  EXPECT_EQ(decode(enc, 0x7fffffff, 5), "");
  testing::internal::GetCapturedStderr();
  std::ostringstream out;
  EncodeCCITT(out, nullptr, 0, 0, 0, false);
  EXPECT_EQ(bits(out.str()), "000000000001000000000001");
}

namespace {

// Pixels of a PBM page as packed rows in our convention (1 = white).
std::string pbmRows(const Image& img)
{
  const size_t rb = ((size_t)img.w + 7) / 8;
  std::string rows(rb * img.h, '\0');
  for (int y = 0; y < img.h; ++y)
    memcpy(&rows[y * rb], img.data + (size_t)y * img.stride(), rb);
  return masked(rows, img.w, img.h);
}

void put16(std::string& s, int v) { s.push_back((char)(v & 0xff)); s.push_back((char)(v >> 8)); }
void put32(std::string& s, uint32_t v) { put16(s, v & 0xffff); put16(s, v >> 16); }

// A minimal little-endian TIFF around one Group 4 strip.
std::string wrapG4(const std::string& strip, int w, int h)
{
  std::string t = "II";
  put16(t, 42);
  put32(t, 8);
  const struct { int tag, type; uint32_t value; } e[] = {
    {256, 4, (uint32_t)w}, {257, 4, (uint32_t)h}, {258, 3, 1}, {259, 3, 4}, {262, 3, 0 /* min-is-white: coder black is bit 1 */},
    {273, 4, 0 /* patched */}, {277, 3, 1}, {278, 4, (uint32_t)h}, {279, 4, (uint32_t)strip.size()},
  };
  const int n = sizeof e / sizeof e[0];
  put16(t, n);
  const uint32_t dataOffset = 8 + 2 + 12 * n + 4;
  for (auto& x : e) {
    put16(t, x.tag);
    put16(t, x.type);
    put32(t, 1);
    put32(t, x.tag == 273 ? dataOffset : x.value);
  }
  put32(t, 0);
  return t + strip;
}

} // namespace

// Data coded by libtiff decodes to the page it was made from, and our Group 4
// output decodes to our page in ImageMagick.
TEST(CCITT, AgreesWithLibtiff)
{
  REQUIRE_TOOL(tiffcp, "tiffcp");
  REQUIRE_TOOL(convert, "convert");
  REQUIRE_TOOL(python, "python3");
  TempDir tmp;
  const int w = 301, h = 97;
  Image src;
  {
    const std::string rows = page(w, h, kPages[5].black);
    src.spp = 1;
    src.bps = 1;
    src.resize(w, h);
    memcpy(src.data, rows.data(), rows.size());
  }
  ASSERT_TRUE(writePNM(src, tmp.file("page.pbm")));
  ASSERT_EQ(run(convert + " " + tmp.file("page.pbm") + " -compress none " + tmp.file("plain.tif")), 0);
  const std::string extract =
    python + " -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); t = im.tag_v2; "
             "d = open(sys.argv[1], 'rb').read(); open(sys.argv[2], 'wb').write(d[t[273][0]:t[273][0] + t[279][0]]); "
             "print(t[262], t.get(292, 0))\" ";
  const struct { const char* opt; int K; } schemes[] = {{"g3", 0}, {"g3:2d", 4}, {"g3:fill", 0}, {"g3:2d:fill", 4}, {"g4", -1}};
  for (auto& s : schemes) {
    const std::string tif = tmp.file(std::string(s.opt) + ".tif");
    ASSERT_EQ(run(tiffcp + " -r 100000 -c " + s.opt + " " + tmp.file("plain.tif") + " " + tif), 0) << s.opt;
    std::string info;
    ASSERT_EQ(run(extract + tif + " " + tmp.file("strip.bin"), &info), 0) << s.opt;
    int photometric = 0, options = 0;
    ASSERT_EQ(sscanf(info.c_str(), "%d %d", &photometric, &options), 2);
    // libtiff codes sample bits 1 as black runs whatever the photometric
    // interpretation says; min-is-white data then has 1 for black.
    std::string out = decode(readFile(tmp.file("strip.bin")), w, h, s.K, false, true);
    if (photometric == 0)
      for (auto& c : out)
        c = (char)~c;
    EXPECT_TRUE(masked(out, w, h) == pbmRows(src)) << s.opt << " photometric " << photometric << " options "
                                                   << options << " size " << out.size();
  }

  const std::string ours = encode(pbmRows(src), w, h);
  ASSERT_TRUE(writeFile(tmp.file("ours.tif"), wrapG4(ours, w, h)));
  ASSERT_EQ(run(convert + " " + tmp.file("ours.tif") + " " + tmp.file("back.pbm")), 0);
  Image back;
  ASSERT_TRUE(readPNM(back, tmp.file("back.pbm")));
  EXPECT_TRUE(pbmRows(back) == pbmRows(src));
}
