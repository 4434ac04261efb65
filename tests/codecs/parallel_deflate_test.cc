#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <zlib.h>

#include "codecs/Codecs.hh"
#include "codecs/Decoders.hh"
#include "codecs/PDF.hh"
#include "codecs/parallel_deflate.hh"
#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// Compressible but not trivial, so blocks really hold matches.
std::string pattern(size_t n, uint32_t seed)
{
  std::string s(n, '\0');
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    if (i % 5 == 0)
      x = x * 1103515245u + 12345u;
    s[i] = (char)((x >> 24) & 0x3f);
  }
  return s;
}

std::string deflated(const std::string& in, int level, unsigned threads, uint64_t block)
{
  std::ostringstream out;
  EXPECT_TRUE(paralleldeflate::deflate(out, (const unsigned char*)in.data(), in.size(), level,
                                       threads, block));
  return out.str();
}

std::string inflatedByZlib(const std::string& z, size_t expected)
{
  std::string out(expected + 1, '\0');
  uLongf size = (uLongf)out.size();
  if (uncompress((Bytef*)&out[0], &size, (const Bytef*)z.data(), (uLong)z.size()) != Z_OK)
    return "<zlib failed>";
  out.resize(size);
  return out;
}

std::string inflatedByUs(const std::string& z)
{
  std::ostringstream o;
  if (!DecodeZlib(o, z.data(), z.size(), 15, UINT64_MAX))
    return "<inflate failed>";
  return o.str();
}

} // namespace

// Sizes around the block boundaries, with the one-thread stream as the
// reference: both inflaters give back the input, the header is zlib's own.
TEST(ParallelDeflate, RoundTripsAroundBlockBoundaries)
{
  const uint64_t B = 4096;
  const uint64_t sizes[] = {0, 1, B - 1, B, B + 1, 2 * B - 1, 2 * B, 2 * B + 1, 3 * B, 7 * B + 13};
  for (int level : {9, 6, 1, 0, -1})
    for (uint64_t n : sizes)
      for (unsigned threads : {1u, 2u, 3u, 8u}) {
        SCOPED_TRACE("level " + std::to_string(level) + " size " + std::to_string(n) +
                     " threads " + std::to_string(threads));
        const std::string in = pattern(n, (uint32_t)n + 7);
        const std::string z = deflated(in, level, threads, B);
        const std::string serial = deflated(in, level, 1, B);
        ASSERT_GE(z.size(), 6u);
        EXPECT_EQ(z.substr(0, 2), serial.substr(0, 2));
        EXPECT_EQ(z.substr(z.size() - 4), serial.substr(serial.size() - 4)); // Adler-32
        EXPECT_EQ(inflatedByZlib(z, n), in);
        EXPECT_EQ(inflatedByUs(z), in);
        if (threads == 1 || n < 2 * B) {
          EXPECT_EQ(z, serial);
        }
      }
}

TEST(ParallelDeflate, RejectsBadLevelAndReportsStreamFailure)
{
  const std::string in = pattern(100000, 3);
  std::ostringstream out;
  EXPECT_FALSE(paralleldeflate::deflate(out, (const unsigned char*)in.data(), in.size(), 10, 4,
                                        4096));
  std::ostringstream bad;
  bad.setstate(std::ios::badbit);
  EXPECT_FALSE(paralleldeflate::deflate(bad, (const unsigned char*)in.data(), in.size(), 6, 4,
                                        4096));
  EXPECT_GE(paralleldeflate::defaultThreads(), 1u);
}

namespace {

// A gray and an RGB image large enough for several blocks at the default
// block size, with content that is not uniform.
Image testImage(int spp, int bps)
{
  Image img;
  img.spp = (uint8_t)spp;
  img.bps = (uint8_t)bps;
  img.resize(613, 911);
  img.setResolution(300, 300);
  uint32_t x = 12345;
  for (int y = 0; y < img.h; ++y) {
    uint8_t* row = img.data + (size_t)y * img.stride();
    for (unsigned i = 0; i < img.stridefill(); ++i) {
      x = x * 1103515245u + 12345u;
      row[i] = (uint8_t)(((i * 7 + y * 3) & 0xff) ^ ((x >> 28) & 3));
    }
  }
  return img;
}

} // namespace

// Large images written by the codecs (parallel when the machine has more
// than one core) read back to the same pixels, by us and by peers.
TEST(ParallelDeflate, CodecOutputsReadBackEverywhere)
{
  TempDir dir;
  for (int spp : {1, 3})
    for (int bps : {8, 16}) {
      SCOPED_TRACE("spp " + std::to_string(spp) + " bps " + std::to_string(bps));
      Image img = testImage(spp, bps);
      ASSERT_GE((uint64_t)img.stridefill() * img.h, 2 * paralleldeflate::kBlockSize);
      for (const char* ext : {"png", "tif"}) {
        const std::string path = dir.file(std::string("out.") + ext);
        ASSERT_TRUE(ImageCodec::Write(path, img, 80, std::string(ext) == "tif" ? "deflate" : ""));
        Image back;
        ASSERT_TRUE(ImageCodec::Read(path, back));
        EXPECT_TRUE(samePixels(img, back)) << ext;
        const std::string tool = std::string(ext) == "png" ? "pngcheck" : "tiffinfo";
        const std::string found = findTool(tool);
        if (!found.empty()) {
          EXPECT_EQ(run(found + (tool == "tiffinfo" ? " -D " : " ") + path + " >/dev/null 2>&1"), 0)
              << tool;
        }
        const std::string convert = findTool("convert");
        if (!convert.empty() && bps == 8) {
          const std::string pnm = dir.file("peer.pnm");
          ASSERT_EQ(run(convert + " " + path + " " + pnm + " 2>/dev/null"), 0);
          Image peer;
          ASSERT_TRUE(readPNM(peer, pnm));
          EXPECT_TRUE(samePixels(img, peer)) << ext << " via convert";
        }
      }
    }
}

// A PDF page whose image stream is deflated in blocks passes qpdf's check,
// and qpdf and poppler give back the same samples.
TEST(ParallelDeflate, PDFImageStreamsDecodeInPeers)
{
  REQUIRE_TOOL(qpdf, "qpdf");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  TempDir dir;
  for (int spp : {1, 3}) {
    SCOPED_TRACE("spp " + std::to_string(spp));
    Image img = testImage(spp, 8);
    img.setResolution(72, 72);
    const std::string path = dir.file("page.pdf");
    {
      std::ofstream f(path, std::ios::binary);
      PDFCodec writer(&f, "test");
      writer.beginPage(img.w, img.h);
      writer.showImage(img, 0, 0, img.w, img.h, 75, "device");
      ASSERT_TRUE(writer.finish());
    }
    std::string check;
    EXPECT_EQ(run(qpdf + " --check '" + path + "' 2>&1", &check), 0) << check;
    EXPECT_NE(check.find("No syntax or stream encoding errors"), std::string::npos) << check;
    // qpdf undoes every filter
    // and predictor, poppler's pdfimages writes the decoded samples.
    std::string samples;
    for (int obj = 1; obj < 10 && samples.size() != (size_t)img.stridefill() * img.h; ++obj)
      run(qpdf + " --show-object=" + std::to_string(obj) + " --filtered-stream-data '" + path +
              "' 2>/dev/null",
          &samples);
    ASSERT_EQ(samples.size(), (size_t)img.stridefill() * img.h);
    EXPECT_EQ(samples, std::string((const char*)img.getRawData(), samples.size()));
    ASSERT_EQ(run(pdfimages + " -png '" + path + "' '" + dir.file("img") + "'"), 0);
    Image back;
    // poppler may hand a gray image out as RGB: compare the first channel.
    ASSERT_TRUE(ImageCodec::Read(dir.file("img-000.png"), back));
    ASSERT_EQ(back.w, img.w);
    ASSERT_EQ(back.h, img.h);
    ASSERT_EQ(back.bps, 8);
    bool same = true;
    for (int y = 0; y < img.h && same; ++y)
      for (int x = 0; x < img.w * spp; ++x) {
        const int k = spp == 1 ? x * back.spp : x;
        same &= img.data[(size_t)y * img.stride() + x] == back.data[(size_t)y * back.stride() + k];
      }
    EXPECT_TRUE(same);
  }
}
