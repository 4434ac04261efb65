#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "codecs/Decoders.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// Packs codes most significant bit first, each with its width.
std::string packCodes(const std::vector<std::pair<unsigned, int>>& codes)
{
  std::string out;
  uint64_t acc = 0;
  int n = 0;
  for (auto [code, width] : codes) {
    acc = (acc << width) | code;
    n += width;
    while (n >= 8) {
      out += (char)(acc >> (n - 8));
      n -= 8;
    }
  }
  if (n)
    out += (char)(acc << (8 - n));
  return out;
}

struct Result {
  bool ok;
  std::string out;
  std::string err;
};

Result decode(const std::string& data, bool earlyChange = true, bool lsbFirst = false)
{
  std::istringstream in(data);
  std::ostringstream out;
  testing::internal::CaptureStderr();
  const bool ok = DecodeLZW(out, in, earlyChange, lsbFirst);
  return {ok, out.str(), testing::internal::GetCapturedStderr()};
}

} // namespace

TEST(LZW, DecodesLibtiffStrip)
{
  // Written by tiffcp -c lzw; long enough to fill and reset the table.
  const std::string dir = sourceDir() + "/tests/codecs/data/";
  Result r = decode(readFile(dir + "mixed.lzw"));
  EXPECT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.out, readFile(dir + "mixed.gray"));
  EXPECT_EQ(r.err, "");
}

TEST(LZW, CodeSequences)
{
  struct Case {
    const char* what;
    std::vector<std::pair<unsigned, int>> codes;
    bool ok;
    std::string out;
  } cases[] = {
    {"code equal to the next entry", {{256, 9}, {7, 9}, {258, 9}}, true, "\x07\x07\x07"},
    {"string of strings", {{256, 9}, {'a', 9}, {'b', 9}, {258, 9}, {260, 9}, {257, 9}}, true,
     "abababa"},
    {"EOI ends even with data after it", {{'x', 9}, {257, 9}, {'y', 9}, {257, 9}}, true, "x"},
    {"clear resets the table", {{'a', 9}, {'b', 9}, {256, 9}, {'c', 9}, {258, 9}, {257, 9}},
     true, "abccc"},
    {"no end marker: success at the end of the data", {{'a', 9}, {'b', 9}}, true, "ab"},
    {"bad code mid-stream", {{'a', 9}, {300, 9}, {'b', 9}, {257, 9}}, false, "a"},
    // With nothing to build on, the next code cannot be defined.
    {"next code right after clear", {{256, 9}, {258, 9}, {'a', 9}, {257, 9}}, false, ""},
    {"next code as first code", {{258, 9}, {'a', 9}, {257, 9}}, false, ""},
  };
  for (const Case& c : cases) {
    Result r = decode(packCodes(c.codes));
    EXPECT_EQ(r.ok, c.ok) << c.what;
    EXPECT_EQ(r.out, c.out) << c.what;
    EXPECT_EQ(r.err.find("Error: bad code") == 0, !c.ok) << c.what << ": " << r.err;
  }
}

TEST(LZW, BadCodeAtTheVeryEndIsSuccess)
{
  // 9 + 9 bits leave 6 bits of padding: a bad value there is no code.
  Result r = decode(packCodes({{'a', 9}, {'b', 9}, {0x3F, 6}}));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.out, "ab");
}

TEST(LZW, WidthChangesWithAndWithoutEarlyChange)
{
  // After the first code every literal adds an entry: 254 literals make
  // next reach 511, 255 make it 512.
  for (bool early : {true, false}) {
    std::vector<std::pair<unsigned, int>> codes = {{256, 9}};
    std::string expect;
    for (int i = 0; i < 256; ++i) {
      codes.push_back({(unsigned)(i % 200), 9});
      expect += (char)(i % 200);
    }
    // Code #256 is read with 10 bits either way; with early change #255 too.
    codes[255].second = early ? 10 : 9;
    codes[256].second = 10;
    codes.push_back({257, 10});
    Result r = decode(packCodes(codes), early);
    EXPECT_TRUE(r.ok) << early << r.err;
    EXPECT_EQ(r.out, expect) << early;
  }
}

TEST(LZW, LeastSignificantBitFirst)
{
  // Clear, 'A', 258 as 9-bit codes LSB first.
  std::string data;
  uint32_t acc = 256 | ('A' << 9) | (258u << 18);
  for (int i = 0; i < 4; ++i)
    data += (char)(acc >> (8 * i));
  Result r = decode(data, true, true);
  EXPECT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.out, "AAA");
}

TEST(LZW, HostileStreamsEndCleanly)
{
  // Every code is the entry just defined: strings grow by one byte per
  // code, which would overrun the string storage without its bound.
  std::vector<std::pair<unsigned, int>> codes = {{'z', 9}};
  unsigned next = 258;
  int width = 9;
  for (int i = 0; i < 4000; ++i) {
    codes.push_back({next, width});
    ++next;
    width = next >= 2047 ? 12 : next >= 1023 ? 11 : next >= 511 ? 10 : 9;
  }
  std::istringstream in(packCodes(codes));
  std::ostringstream out;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(DecodeLZW(out, in, true, false));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Error: bad code"), std::string::npos);

  // The output cap stops decoding.
  std::istringstream in2(packCodes(codes));
  std::ostringstream out2;
  EXPECT_TRUE(DecodeLZW(out2, in2, true, false, 1000));
  EXPECT_EQ(out2.str(), std::string(1000, 'z'));

  // Truncated and empty input.
  const std::string strip = readFile(sourceDir() + "/tests/codecs/data/mixed.lzw");
  for (size_t n : {(size_t)0, (size_t)1, strip.size() / 3}) {
    Result r = decode(strip.substr(0, n));
    EXPECT_TRUE(r.ok) << n;
  }
}

TEST(LZW, FreshTiffcpStripsDecodeAlsoWithPackBits)
{
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(tiffcp, "tiffcp");
  TempDir dir;
  // Several images, from noise (table resets) to long runs (long strings);
  // each compressed by libtiff into one strip.
  const std::string script = R"(
import sys, subprocess, numpy as np
from PIL import Image
d, tiffcp = sys.argv[1], sys.argv[2]
r = np.random.RandomState(11)
imgs = [r.randint(0, 256, (64, 300), dtype=np.uint8),
        (np.arange(200 * 300) // 997 % 3 * 100).astype(np.uint8).reshape(200, 300),
        np.zeros((150, 301, 3), dtype=np.uint8) + r.randint(0, 4, (150, 301, 3), dtype=np.uint8)]
for i, a in enumerate(imgs):
    Image.fromarray(a).save('%s/in%d.tif' % (d, i))
    for c in ('lzw', 'packbits'):
        out = '%s/%s%d.tif' % (d, c, i)
        subprocess.check_call([tiffcp, '-c', c, '-r', '100000', '%s/in%d.tif' % (d, i), out])
        im = Image.open(out)
        off, n = im.tag_v2[273][0], im.tag_v2[279][0]
        open('%s/%s%d.strip' % (d, c, i), 'wb').write(open(out, 'rb').read()[off:off + n])
    open('%s/raw%d' % (d, i), 'wb').write(a.tobytes())
)";
  ASSERT_TRUE(writeFile(dir.file("gen.py"), script));
  ASSERT_EQ(run(python + " " + dir.file("gen.py") + " " + dir.path() + " " + tiffcp), 0);
  const int rowBytes[] = {300, 300, 903};
  for (int i = 0; i < 3; ++i) {
    const std::string raw = readFile(dir.file("raw" + std::to_string(i)));
    Result r = decode(readFile(dir.file("lzw" + std::to_string(i) + ".strip")));
    EXPECT_TRUE(r.ok) << i << r.err;
    EXPECT_TRUE(r.out == raw) << i;

    const std::string pb = readFile(dir.file("packbits" + std::to_string(i) + ".strip"));
    std::string out(raw.size(), '\0');
    std::istringstream in(pb);
    UnpackBits((unsigned char*)&out[0], rowBytes[i], (int)(raw.size() / rowBytes[i]), &in,
               (int)pb.size());
    EXPECT_TRUE(out == raw) << i;
  }
}

// The in-memory decoder TIFF strips use agrees with the stream decoder on
// output, result and message, for whole, cut and damaged streams, both
// bit orders and both code-width rules.
TEST(LZW, MemoryDecoderMatchesTheStreamDecoder)
{
  const std::string strip = readFile(sourceDir() + "/tests/codecs/data/mixed.lzw");
  ASSERT_FALSE(strip.empty());
  std::vector<std::string> inputs = {strip, strip.substr(0, strip.size() / 2), "", "\x80"};
  uint32_t seed = 7;
  for (int i = 0; i < 200; ++i) {
    std::string s = strip.substr(0, 1 + i * 37 % strip.size());
    for (int k = 0; k < 3; ++k) {
      seed = seed * 1664525u + 1013904223u;
      s[(seed >> 8) % s.size()] = (char)(seed >> 24);
    }
    inputs.push_back(s);
  }
  for (size_t i = 0; i < inputs.size(); ++i)
    for (int mode = 0; mode < 4; ++mode) {
      const bool early = mode & 1, lsb = mode & 2;
      for (uint64_t cap : {(uint64_t)1 << 16, (uint64_t)513}) {
        std::istringstream in(inputs[i]);
        std::ostringstream out;
        testing::internal::CaptureStderr();
        const bool ok = DecodeLZW(out, in, early, lsb, cap);
        const std::string err = testing::internal::GetCapturedStderr();
        std::string mem(cap, '\0');
        uint64_t produced = 0;
        testing::internal::CaptureStderr();
        const bool memOK = DecodeLZWToMemory((const unsigned char*)inputs[i].data(),
                                             inputs[i].size(), early, lsb,
                                             (unsigned char*)&mem[0], cap, &produced);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), err) << i << " " << mode;
        EXPECT_EQ(memOK, ok) << i << " " << mode;
        mem.resize(produced);
        EXPECT_TRUE(mem == out.str()) << i << " " << mode << " " << cap << " " << mem.size() << " " << out.str().size();
      }
    }
}

// A long run of one byte is a string growing by one byte per code: the
// memory decoder reads it whole, as libtiff does.
TEST(LZW, LongConstantRunDecodesWhole)
{
  std::vector<std::pair<unsigned, int>> codes = {{'z', 9}};
  unsigned next = 258;
  int width = 9;
  for (int i = 0; i < 3800; ++i) {
    codes.push_back({next, width});
    ++next;
    width = next >= 2047 ? 12 : next >= 1023 ? 11 : next >= 511 ? 10 : 9;
  }
  codes.push_back({257, width});
  const std::string data = packCodes(codes);
  const uint64_t total = 3801ull * 3802 / 2;
  std::string out(total + 10, '\0');
  uint64_t produced = 0;
  EXPECT_TRUE(DecodeLZWToMemory((const unsigned char*)data.data(), data.size(), true, false,
                                (unsigned char*)&out[0], out.size(), &produced));
  ASSERT_EQ(produced, total);
  out.resize(produced);
  EXPECT_EQ(out.find_first_not_of('z'), std::string::npos);
}
