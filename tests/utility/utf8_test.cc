#include <gtest/gtest.h>

#include <sstream>

#include "utility/UTF8.hh"
#include "tests/support/Harness.hh"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

TEST(UTF8, BothWays)
{
  const std::vector<uint32_t> cps = {0x41, 0xE4, 0x20AC, 0x1F600};
  const std::string text = EncodeUtf8(cps);
  EXPECT_EQ(text, "A\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80");
  EXPECT_EQ(DecodeUtf8(text.data(), text.size()), cps);
  CaptureStderr();
  // Cut off: nothing past the end is read.
  EXPECT_EQ(DecodeUtf8("\xe2\x82", 2).size(), 1u);
  std::ostringstream s;
  EncodeUtf8(s, 0x110000);
  EXPECT_EQ(s.str(), "");
  EXPECT_NE(GetCapturedStderr().find("invalid glyph_code: 1114112"), std::string::npos);
}

// Malformed input: one U+FFFD for each byte that starts no well-formed
// sequence, or for the start of a sequence cut short; the byte after it
// is decoded afresh, whatever it is.
TEST(UTF8, MalformedBytesBecomeOneReplacementEach)
{
  const uint32_t R = kReplacementCharacter;
  const struct {
    const char* name;
    std::string bytes;
    std::vector<uint32_t> codePoints;
    size_t malformed;
  } cases[] = {
    {"bad lead byte in a word", "ab\xff" "cdefghij klm",
     {'a', 'b', R, 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', ' ', 'k', 'l', 'm'}, 1},
    {"lead byte of four without its continuations", "\xf0" "abc", {R, 'a', 'b', 'c'}, 1},
    {"stray continuation bytes", "\x80\xbf" "a", {R, R, 'a'}, 2},
    {"sequence cut short by the next lead", "\xe6\x97\xe6\x97\xa5", {R, 0x65E5}, 2},
    {"sequence cut short by the end", "\xe2\x82", {R}, 2},
    {"overlong slash", "\xc0\xaf", {R, R}, 2},
    {"overlong three-byte form", "\xe0\x80\xaf", {R, R, R}, 3},
    {"surrogate", "\xed\xa0\x80", {R, R, R}, 3},
    {"beyond U+10FFFF", "\xf4\x90\x80\x80", {R, R, R, R}, 4},
    {"good text untouched", "\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf",
     {0xE4, 0x20AC, 0x1F600, 0x10FFFF}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    size_t malformed = 0;
    CaptureStderr();
    EXPECT_EQ(DecodeUtf8(c.bytes.data(), c.bytes.size(), &malformed), c.codePoints);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(malformed, c.malformed);
    std::string repaired = c.bytes;
    EXPECT_EQ(RepairUtf8(repaired), c.malformed);
    EXPECT_EQ(repaired, EncodeUtf8(c.codePoints));
  }
}

// Random bytes decode as Python's UTF-8 decoder with replacement decodes
// them (one U+FFFD per maximal bad part).
TEST(UTF8, RandomBytesDecodeAsPythonDecodesThem)
{
  REQUIRE_TOOL(python, "python3");
  testsupport::TempDir dir;
  std::string bytes;
  uint32_t seed = 12345;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245 + 12345;
    // Mostly high bytes, so that every kind of sequence comes up.
    const unsigned b = (seed >> 16) & 0xFF;
    bytes += (char)((seed >> 8) % 4 == 0 ? b & 0x7F : b | 0x80);
  }
  ASSERT_TRUE(testsupport::writeFile(dir.file("in.bin"), bytes));
  std::string out;
  ASSERT_EQ(testsupport::run(python + " -c \"import sys; print(' '.join(str(ord(c)) for c in "
                                      "open(sys.argv[1], 'rb').read().decode('utf-8', 'replace')))\" '" +
                                 dir.file("in.bin") + "'",
                             &out),
            0);
  std::vector<uint32_t> expected;
  std::istringstream words(out);
  for (uint32_t v; words >> v;)
    expected.push_back(v);
  const std::vector<uint32_t> got = DecodeUtf8(bytes.data(), bytes.size());
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_EQ(got, expected);
}
