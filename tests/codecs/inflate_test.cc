#include <gtest/gtest.h>

#include <sstream>

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
  for (size_t size : {(size_t)0, (size_t)1, (size_t)16384, (size_t)100000, (size_t)300001}) {
    for (int level : {0, 1, 6, 9}) {
      const std::string data = pattern(size, (uint32_t)(size + level));
      bool ok = false;
      const std::string z = deflateOurs(data, level, &ok);
      EXPECT_TRUE(ok) << size << " " << level;
      std::string back;
      EXPECT_TRUE(inflate(z, back));
      EXPECT_TRUE(back == data) << size << " " << level;

      // Python inflates ours; we inflate Python's.
      ASSERT_TRUE(writeFile(dir.file("ours.z"), z));
      ASSERT_TRUE(writeFile(dir.file("plain"), data));
      std::string pyOut;
      const std::string cmd = python + " -c \"import zlib,sys; d=sys.argv[1]; "
                              "p=open(d+'/plain','rb').read(); "
                              "assert zlib.decompress(open(d+'/ours.z','rb').read())==p; "
                              "open(d+'/py.z','wb').write(zlib.compress(p," +
                              std::to_string(level) + ")); "
                              "open(d+'/py.raw','wb').write(zlib.compress(p)[2:-4])\" " +
                              dir.path();
      ASSERT_EQ(run(cmd), 0) << size << " " << level;
      EXPECT_TRUE(inflate(readFile(dir.file("py.z")), back));
      EXPECT_TRUE(back == data) << size << " " << level;
      EXPECT_TRUE(inflate(readFile(dir.file("py.raw")), back, -15));
      EXPECT_TRUE(back == data) << size << " " << level;
    }
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
