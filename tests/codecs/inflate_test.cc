#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "codecs/Decoders.hh"
#include "codecs/ZlibEncoder.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

std::string pattern(size_t n, uint32_t seed)
{
  // Compressible but not trivial: runs of pseudo-random bytes.
  std::string s(n, '\0');
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    if (i % 7 == 0)
      x = x * 1103515245u + 12345u;
    s[i] = (char)(x >> 24);
  }
  return s;
}

std::string deflateOurs(const std::string& data, int level, bool* ok = nullptr)
{
  std::ostringstream out;
  {
    ZlibEncoder enc(&out, level);
    bool good = enc.good();
    // Odd slices, to cross the encoder's buffer at arbitrary points.
    for (size_t i = 0; i < data.size(); i += 10007)
      good &= enc.write(data.data() + i, (int)std::min<size_t>(10007, data.size() - i));
    good &= enc.finish();
    if (ok)
      *ok = good;
  }
  return out.str();
}

bool inflate(const std::string& z, std::string& out, int windowBits = 15,
             uint64_t cap = UINT64_MAX)
{
  std::ostringstream o;
  const bool ok = DecodeZlib(o, z.data(), z.size(), windowBits, cap);
  out = o.str();
  return ok;
}

} // namespace

TEST(Deflate, RoundTripsAndAgreesWithPython)
{
  REQUIRE_TOOL(python, "python3");
  TempDir dir;
  struct Case {
    size_t size;
    int level;
    std::string data;
  };
  std::vector<Case> cases;
  for (size_t size : {(size_t)0, (size_t)1, (size_t)16384, (size_t)100000, (size_t)300001})
    for (int level : {0, 1, 6, 9})
      cases.push_back({size, level, pattern(size, (uint32_t)(size + level))});

  // Ours round trips; then one Python run inflates ours and deflates each
  // input for us (zlib-wrapped at the same level, and raw).
  std::string script = "import zlib, sys\nd = sys.argv[1]\n";
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    bool ok = false;
    const std::string z = deflateOurs(c.data, c.level, &ok);
    EXPECT_TRUE(ok) << c.size << " " << c.level;
    std::string back;
    EXPECT_TRUE(inflate(z, back));
    EXPECT_TRUE(back == c.data) << c.size << " " << c.level;
    const std::string n = std::to_string(i);
    ASSERT_TRUE(writeFile(dir.file("ours" + n), z));
    ASSERT_TRUE(writeFile(dir.file("plain" + n), c.data));
    script += "p = open(d + '/plain" + n + "', 'rb').read()\n"
              "assert zlib.decompress(open(d + '/ours" + n + "', 'rb').read()) == p, " + n + "\n"
              "open(d + '/py" + n + "', 'wb').write(zlib.compress(p, " + std::to_string(c.level) + "))\n"
              "open(d + '/raw" + n + "', 'wb').write(zlib.compress(p)[2:-4])\n";
  }
  ASSERT_TRUE(writeFile(dir.file("check.py"), script));
  ASSERT_EQ(run(python + " " + dir.file("check.py") + " " + dir.path()), 0);
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string n = std::to_string(i);
    std::string back;
    EXPECT_TRUE(inflate(readFile(dir.file("py" + n)), back));
    EXPECT_TRUE(back == cases[i].data) << n;
    EXPECT_TRUE(inflate(readFile(dir.file("raw" + n)), back, -15));
    EXPECT_TRUE(back == cases[i].data) << n;
  }
}

TEST(Deflate, TruncatedCorruptAndCapped)
{
  const std::string data = pattern(200000, 3);
  const std::string z = deflateOurs(data, 6);
  std::string out;

  // Truncated: true with what could be inflated.
  EXPECT_TRUE(inflate(z.substr(0, z.size() / 2), out));
  EXPECT_GT(out.size(), 0u);
  EXPECT_LT(out.size(), data.size());
  EXPECT_EQ(out, data.substr(0, out.size()));

  // Empty input: nothing, no failure.
  EXPECT_TRUE(inflate("", out));
  EXPECT_EQ(out, "");

  // Corrupt data and a bad header fail.
  std::string bad = z;
  for (size_t i = 20; i < 40; ++i)
    bad[i] = (char)~bad[i];
  EXPECT_FALSE(inflate(bad, out));
  EXPECT_FALSE(inflate("\x78\x9c\xff\xff\xff", out));
  EXPECT_FALSE(inflate("garbage!", out));

  // The cap bounds the output whatever the data says.
  EXPECT_TRUE(inflate(z, out, 15, 12345));
  EXPECT_EQ(out, data.substr(0, 12345));
  const std::string bomb = deflateOurs(std::string(50 << 20, '\0'), 9);
  EXPECT_TRUE(inflate(bomb, out, 15, 1 << 20));
  EXPECT_EQ(out.size(), (size_t)1 << 20);
}

// Into memory, whole streams take the one-pass decoder and everything else
// zlib: both must give what the stream path gives, and leave no partial
// output of an abandoned attempt after the bytes they report.
TEST(Deflate, IntoMemoryAgreesWithTheStreamPath)
{
  const std::string data = pattern(100000, 5);
  const std::string z = deflateOurs(data, 6);
  const std::string raw = z.substr(2, z.size() - 6);
  std::string flipped = z, badCheck = z;
  flipped[z.size() / 2] ^= 0x10;
  badCheck[z.size() - 1] ^= 0x01;
  const struct Case {
    const char* name;
    std::string in;
    int windowBits;
    uint64_t cap;
  } cases[] = {
      {"whole", z, 15, data.size()},
      {"whole, room to spare", z, 15, data.size() + 100},
      {"raw", raw, -15, data.size()},
      {"trailing bytes", z + "trailing", 15, data.size()},
      {"capped", z, 15, 12345},
      {"truncated", z.substr(0, z.size() / 2), 15, data.size()},
      {"raw truncated", raw.substr(0, raw.size() / 3), -15, data.size()},
      {"corrupt", flipped, 15, data.size()},
      {"bad check value", badCheck, 15, data.size()},
      {"garbage", "garbage!", 15, 1000},
      {"empty", "", 15, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string want;
    const bool wantOk = inflate(c.in, want, c.windowBits, c.cap);
    std::vector<unsigned char> mem(c.cap, 0x5a);
    uint64_t produced = 99;
    const bool ok = inflateToMemory((const unsigned char*)c.in.data(), c.in.size(), c.windowBits,
                                    mem.data(), c.cap, &produced);
    EXPECT_EQ(ok, wantOk);
    // On a failure the stream path drops its last window; memory keeps it.
    if (wantOk)
      ASSERT_EQ(produced, want.size());
    else
      ASSERT_GE(produced, want.size());
    EXPECT_EQ(std::string(mem.begin(), mem.begin() + (long)want.size()), want);
    for (uint64_t i = produced; i < c.cap; ++i)
      ASSERT_TRUE(mem[i] == 0x5a || mem[i] == 0) << "byte " << i << " holds " << (int)mem[i];
  }
}

TEST(Deflate, ExactWindowWithoutEndMarkerIsNotAFailure)
{
  // A sync-flushed stream without its end whose output fills the inflate
  // window exactly: the last call can make no progress, which is zlib's
  // Z_BUF_ERROR and no error.
  REQUIRE_TOOL(python, "python3");
  TempDir dir;
  const std::string cmd =
      python + " -c \"import zlib,sys; c=zlib.compressobj(6); "
               "d=bytes(range(256))*64; "
               "open(sys.argv[1],'wb').write(c.compress(d)+c.flush(zlib.Z_SYNC_FLUSH))\" " +
      dir.file("open.z");
  ASSERT_EQ(run(cmd), 0);
  std::string out;
  EXPECT_TRUE(inflate(readFile(dir.file("open.z")), out));
  EXPECT_EQ(out.size(), 16384u);
}

TEST(ZlibEncoder, FailsCleanlyWhenNotInitialised)
{
  std::ostringstream out;
  ZlibEncoder bad(&out, 42);
  EXPECT_FALSE(bad.good());
  EXPECT_FALSE(bad.write("abc", 3));
  EXPECT_FALSE(bad.finish());
  EXPECT_EQ(out.str(), "");

  ZlibEncoder enc(&out);
  EXPECT_TRUE(enc.init(9));
  EXPECT_TRUE(enc.write("abc", 3));
  // The destructor finishes the stream.
}
