// imgtool from the command line: page counts, and one line on every
// failure.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "codecs/Codecs.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

TEST(Imgtool, PagesCountsAndFailuresSayWhy)
{
  TempDir dir;
  Image img = makeImage(16, 8, 1, 8);
  {
    std::ofstream tiff(dir.file("three.tif"), std::ios::binary);
    ImageCodec* writer = ImageCodec::MultiWrite(&tiff, "", "tif");
    ASSERT_NE(writer, nullptr);
    for (int p = 0; p < 3; ++p)
      ASSERT_TRUE(writer->Write(img, 75, "", p));
    delete writer;
  }
  ASSERT_TRUE(ImageCodec::Write(dir.file("one.pdf"), img));
  ASSERT_TRUE(writeFile(dir.file("notes.txt"), "just words\n"));
  ASSERT_TRUE(writePNM(img, dir.file("in.pgm")));
  const std::string tool = IMGTOOL;
  const struct {
    std::string args;
    int status;
    std::string out; // stdout and stderr
  } cases[] = {
    {"pages " + dir.file("three.tif"), 0, "3\n"},
    {"pages " + dir.file("one.pdf"), 0, "1\n"},
    {"pages " + dir.file("none.tif"), 1,
     "imgtool: cannot read " + dir.file("none.tif") + ": No such file or directory\n"},
    {"info " + dir.file("notes.txt"), 1,
     "imgtool: cannot read " + dir.file("notes.txt") + ": not an image file this system reads\n"},
    {"read " + dir.file("three.tif") + " 7", 1,
     "imgtool: cannot read " + dir.file("three.tif") +
         ": there is no page 7 (it has 3 pages, counted from 0)\n"},
    {"write " + dir.file("none.pgm") + " " + dir.file("x.png"), 1,
     "imgtool: cannot read " + dir.file("none.pgm") + ": No such file or directory\n"},
    {"write " + dir.file("notes.txt") + " " + dir.file("x.png"), 1,
     "imgtool: cannot read " + dir.file("notes.txt") + ": not a PNM file\n"},
    {"write " + dir.file("in.pgm") + " " + dir.file("x.bogus"), 1,
     "imgtool: cannot write " + dir.file("x.bogus") + ": no image format by that name\n"},
    {"write " + dir.file("in.pgm") + " " + dir.file("no/x.png"), 1,
     "imgtool: cannot write " + dir.file("no/x.png") + ": No such file or directory\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(run("'" + tool + "' " + c.args + " 2>&1", &out), c.status) << c.args;
    EXPECT_EQ(out, c.out) << c.args;
  }
}
