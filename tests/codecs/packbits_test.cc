#include <gtest/gtest.h>

#include <sstream>

#include "codecs/Decoders.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;
using namespace std::string_literals;

namespace {

std::string unpack(const std::string& src, int rowBytes, int rows, int srcBytes,
                   std::string* err = nullptr)
{
  std::string dst((size_t)rowBytes * rows, '.');
  std::istringstream in(src);
  testing::internal::CaptureStderr();
  UnpackBits((unsigned char*)&dst[0], rowBytes, rows, &in, srcBytes);
  const std::string e = testing::internal::GetCapturedStderr();
  if (err)
    *err = e;
  return dst;
}

} // namespace

TEST(PackBits, DecodesLibtiffStrip)
{
  const std::string dir = sourceDir() + "/tests/codecs/data/";
  const std::string src = readFile(dir + "mixed.packbits");
  std::string err;
  EXPECT_EQ(unpack(src, 96, 80, (int)src.size(), &err), readFile(dir + "mixed.gray"));
  EXPECT_EQ(err, "");
}

TEST(PackBits, Runs)
{
  struct Case {
    const char* what;
    std::string src;
    int rowBytes, rows, srcBytes;
    std::string out;
    std::string err;
  } cases[] = {
    {"literal", "\x02" "ABC", 3, 1, 4, "ABC", ""},
    {"replicate", "\xFD" "A", 4, 1, 2, "AAAA", ""},
    {"no-op header", std::string("\x80\x01XY", 4), 2, 1, 4, "XY", ""},
    {"literal crossing the row end", "\x03" "ABCD" "\x01" "EF", 2, 2, 8, "ABEF", ""},
    {"replicate crossing the row end", "\xFC" "Z" "\x00" "Q"s, 3, 2, 4, "ZZZQ..", ""},
    {"bytes left over", "\x00" "A" "\x00" "B"s, 1, 1, 4, "A", "unpackBits src left?2\n"},
    {"declared bytes run out", "\x02" "ABC", 3, 2, 4, "ABC...", ""},
    // The literal claims more than the declared bytes: reads stop there.
    {"literal beyond declared bytes", "\x7F" "ABCDEFGH", 4, 1, 3, "AB..", ""},
    {"stream shorter than declared", "\x05" "AB", 6, 1, 100, "AB....", ""},
    {"empty", "", 2, 1, 0, "..", ""},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(unpack(c.src, c.rowBytes, c.rows, c.srcBytes, &err), c.out) << c.what;
    EXPECT_EQ(err, c.err) << c.what;
  }
}
