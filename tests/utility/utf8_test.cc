#include <gtest/gtest.h>

#include <sstream>

#include "utility/UTF8.hh"

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
