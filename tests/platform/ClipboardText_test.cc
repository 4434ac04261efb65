// Clipboard text in Latin-1 for STRING requestors, and back.
#include <gtest/gtest.h>

#include "platform/ClipboardText.hh"

using platform::x11::fromLatin1;
using platform::x11::isUtf8;
using platform::x11::toLatin1;

TEST(ClipboardText, Latin1FromUtf8)
{
  const struct {
    std::string utf8, latin1;
    bool valid;
  } cases[] = {
    {"h\xC3\xA9llo \xE2\x9C\x93", "h\xE9llo ?", true},      // é, then ✓ beyond Latin-1
    {"\xF0\x9F\x98\x80!", "?!", true},                       // one character beyond the BMP
    {"\xE2" "abc def \xFF" "XYZ!", "?abc def ?XYZ!", false}, // stray bytes cost only themselves
    {"\xC3", "?", false},                                    // cut short at the end
    {"\xE2\x82", "??", false},                               // cut short: each byte
    {"\xC0\xAF\xED\xA0\x80" "a", "?????a", false},          // overlong form, surrogate
    {"\x80\xBF" "x", "??x", false},                          // continuation bytes alone
    {"\xF5\x80\x80\x80", "????", false},                     // beyond U+10FFFF
    {"", "", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toLatin1(c.utf8), c.latin1) << c.utf8;
    EXPECT_EQ(isUtf8(c.utf8), c.valid) << c.utf8;
  }
}

TEST(ClipboardText, Latin1RoundTrip)
{
  std::string all;
  for (int c = 1; c < 256; ++c)
    all += (char)c;
  const std::string utf8 = fromLatin1(all);
  EXPECT_TRUE(isUtf8(utf8));
  EXPECT_EQ(toLatin1(utf8), all);
}
