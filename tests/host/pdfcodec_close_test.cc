// How a job settles its document: PDFCodec's close() says whether the file
// is in place, discard() gives it up.
#include "host/xcodec.hh"
#include "host/XImage.hh"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace fs = std::filesystem;

// close() finishes the document and puts it in place, and gives the same
// answer when asked again; discard() leaves the old file as it was; after
// either, the other and the destructor do nothing.
TEST(PDFCodecSettling, CloseTellsDiscardKeepsTheOldFile)
{
  TempDir dir;
  const std::string file = dir.file("doc.pdf");
  ASSERT_TRUE(writeFile(file, "old bytes"));
  {
    XPDFCodec pdf(file, "pdf", "test");
    pdf.beginPage(72, 72);
    pdf.discard();
    EXPECT_FALSE(pdf.close());
    pdf.beginPage(72, 72); // nothing more is written
  }
  EXPECT_EQ(readFile(file), "old bytes");
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"doc.pdf"});
  {
    XPDFCodec pdf(file, "pdf", "test");
    pdf.beginPage(72, 72);
    EXPECT_TRUE(pdf.close());
    EXPECT_TRUE(pdf.close());
    pdf.discard();
  }
  const std::string doc = readFile(file);
  EXPECT_EQ(doc.rfind("%PDF-", 0), 0u);
  EXPECT_NE(doc.find("%%EOF"), std::string::npos);
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"doc.pdf"});
}

// A document given up on a pipe: its reader never gets a whole-looking
// document (no trailer after the bytes already sent).
TEST(PDFCodecSettling, DiscardOnAPipeSendsNoTrailer)
{
  TempDir dir;
  const std::string fifo = dir.file("doc.pdf");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  std::string got;
  std::thread reader([&] {
    const int fd = open(fifo.c_str(), O_RDONLY);
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;)
      got.append(buffer, (size_t)n);
    if (fd >= 0)
      close(fd);
  });
  {
    XPDFCodec pdf(fifo, "pdf", "test");
    XImage image;
    static_cast<Image&>(image) = patterned(8, 8, {1, 8}, 1, 0);
    pdf.beginPage(72, 72);
    EXPECT_TRUE(pdf.showImage(image, 0, 0, 72, 72, 75, ""));
    pdf.discard();
  }
  reader.join();
  EXPECT_EQ(got.rfind("%PDF-", 0), 0u);
  EXPECT_EQ(got.find("%%EOF"), std::string::npos);
  EXPECT_EQ(got.find("trailer"), std::string::npos);
}
