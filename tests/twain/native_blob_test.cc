// A native transfer's blob is read by the codec registry; a blob that a
// reader keeps (a PDF page decodes lazily) must stay alive with the image.
#include "twain/Twain.hh"

#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

TEST(TwainNativeBlob, PdfPageKeepsItsStream)
{
  setenv("TOLM_TWAIN_DSM", TOLM_DSM_LIBRARY, 1);
  setenv("TOLM_DSM_SANE", "0", 1);
  setenv("TOLM_RESOURCE_DIR", (testsupport::sourceDir() + "/resources").c_str(), 1);
  Norvel::Twain bridge(nullptr, nullptr, nullptr, nullptr, 1, 0, nullptr);
  // one page, 72 x 36 points, a black box
  const std::string pdf =
      "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
      "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
      "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 72 36] /Contents 4 0 R >> endobj\n"
      "4 0 obj << /Length 22 >>\nstream\n0 0 0 rg 0 0 36 36 re f\nendstream endobj\n"
      "trailer << /Root 1 0 R >>\n%%EOF\n";
  // in the manager's memory, as a transfer hands it over
  TW_HANDLE h = bridge.memAllocate(TW_UINT32(pdf.size()));
  ASSERT_NE(h, nullptr);
  std::memcpy(bridge.memLock(h), pdf.data(), pdf.size());
  std::unique_ptr<Image> image(bridge.CopyImage(h));
  bridge.memFree(h);
  ASSERT_NE(image, nullptr);
  // the page is drawn on first access, from the stream the reader kept
  ASSERT_NE(image->getRawData(), nullptr);
  EXPECT_EQ(image->w, 300);
  EXPECT_EQ(image->h, 150);
}
