#include "utility/BitReader.hh"

#include <gtest/gtest.h>

#include <sstream>

TEST(Bitstream, BothBitOrders)
{
  struct Case {
    std::string bytes;
    bool lsbFirst;
    std::vector<int> widths;
    std::vector<unsigned> values;
  } cases[] = {
    {std::string("\x00\x01", 2), true, {9}, {256}},
    {std::string("\x80\x00", 2), false, {9}, {256}},
    {"\xA5", false, {1, 3, 4}, {1, 2, 5}},
    {"\xA5", true, {1, 3, 4}, {1, 2, 10}},
    {"\x12\x34\x56", false, {0, 12, 12}, {0, 0x123, 0x456}},
    {"\x12\x34\x56", true, {12, 12}, {0x412, 0x563}},
    // Past the end: all ones.
    {std::string("\x00", 1), false, {4, 8}, {0, 0x0F}},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.bytes);
    Norvel::Bitstream bits(in, c.lsbFirst);
    for (size_t i = 0; i < c.widths.size(); ++i)
      EXPECT_EQ(bits(0, (unsigned char)c.widths[i]), c.values[i]) << i;
  }
}
