#include "math/CRC32.hh"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestSupport.hh"

TEST(CRC32, KnownValuesAndIncremental)
{
  struct Case {
    std::string data;
    uint32_t crc;
  } cases[] = {
    {"", 0},
    {"123456789", 0xCBF43926u},
    {"IEND", 0xAE426082u}, // the CRC every PNG ends with
    {std::string(1000, '\0'), 0x60b1780u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(crc32Of(c.data.data(), c.data.size()), c.crc) << c.data.size();
    uint32_t crc = 0;
    for (char ch : c.data)
      crc = crc32Update(crc, &ch, 1);
    EXPECT_EQ(crc, c.crc);
  }
  EXPECT_EQ(crc32tab[1], 0x77073096u);
  EXPECT_EQ(crc32tab[255], 0x2D02EF8Du);
}

TEST(CRC32, AgreesWithPython)
{
  REQUIRE_TOOL(python, "python3");
  std::string bytes;
  for (int i = 0; i < 70000; ++i)
    bytes += (char)((i * 7919) >> 3);
  testsupport::TempDir dir;
  ASSERT_TRUE(testsupport::writeFile(dir.file("b"), bytes));
  std::string out;
  ASSERT_EQ(testsupport::run(python + " -c \"import zlib,sys; print(zlib.crc32(open(sys.argv[1],'rb').read()))\" " +
                             dir.file("b"), &out), 0);
  EXPECT_EQ(std::stoul(out), crc32Of(bytes.data(), bytes.size()));
}
