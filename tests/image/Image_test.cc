// The raster model: stride rules, ownership, lazy decoding through an
// attached codec, and the failure paths that must leave the image intact.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

using testsupport::fillPattern;
using testsupport::makeImage;
using testsupport::sampleAt;
using testsupport::samePixels;

namespace {

// A codec that produces a fixed 3 x 2 GRAY8 image on demand and counts what
// the image asks of it.
struct MockCodec : testsupport::TestCodec {
  int* destroyed;
  int decodes = 0;
  explicit MockCodec(int* d = nullptr) : destroyed(d) {}
  ~MockCodec() override { if (destroyed) ++*destroyed; }
  void decodeNow(Image* image) override
  {
    ++decodes;
    image->spp = 1;
    image->bps = 8;
    image->resize(3, 2);
    for (int i = 0; i < 6; ++i)
      image->data[i] = (uint8_t)(10 * i);
    image->setRawData();
  }
};

} // namespace

TEST(Image, NewImageIsEmpty)
{
  Image img;
  EXPECT_EQ(img.w, 0);
  EXPECT_EQ(img.h, 0);
  EXPECT_EQ(img.getRawData(), nullptr);
  EXPECT_FALSE(img.pixelsDirty);
  EXPECT_FALSE(img.metaDirty);
  testing::internal::CaptureStderr();
  EXPECT_EQ(img.Type(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "unhandled spp/bps in image/Image.hh:265\n");
}

TEST(Image, TypeCodes)
{
  struct { int spp, bps; Image::type_t type; } cases[] = {
    {1, 1, Image::GRAY1}, {1, 2, Image::GRAY2}, {1, 4, Image::GRAY4}, {1, 8, Image::GRAY8},
    {1, 16, Image::GRAY16}, {3, 8, Image::RGB8}, {4, 8, Image::RGBA8}, {3, 16, Image::RGB16},
  };
  for (auto& c : cases) {
    Image img;
    img.spp = c.spp;
    img.bps = c.bps;
    EXPECT_EQ(img.Type(), c.type) << c.spp << "x" << c.bps;
  }
}

TEST(Image, ResizeStrideRules)
{
  struct { int w, h; unsigned stride; unsigned wantRowStride, wantStride; } cases[] = {
    {10, 2, 0, 0, 2},  // GRAY1: 10 bits round up to 2 bytes
    {10, 2, 2, 0, 2},  // a stride equal to the fill is stored as tight
    {10, 2, 4, 4, 4},  // a wider stride is kept
    {1, 1, 0, 0, 1},
  };
  for (auto& c : cases) {
    Image img;
    img.spp = 1;
    img.bps = 1;
    EXPECT_TRUE(img.resize(c.w, c.h, c.stride));
    EXPECT_EQ(img.rowStride, c.wantRowStride);
    EXPECT_EQ(img.stride(), c.wantStride);
    EXPECT_NE(img.data, nullptr);
    EXPECT_EQ(img.getRawDataEnd() - img.getRawData(), (ptrdiff_t)(c.wantStride * c.h));
    EXPECT_TRUE(img.pixelsDirty);
  }
}

TEST(Image, ResizeToZeroKeepsBuffer)
{
  Image img = makeImage(4, 4, 1, 8);
  uint8_t* before = img.data;
  EXPECT_TRUE(img.resize(0, 4));
  EXPECT_EQ(img.data, before);
  EXPECT_TRUE(img.resize(4, 0));
  EXPECT_EQ(img.data, before);
}

TEST(Image, ResizeRefusesBadGeometryAndKeepsImage)
{
  Image img = makeImage(5, 3, 3, 8);
  fillPattern(img);
  Image copy;
  copy = img;

  // stride below the fill, negative width, a row past 32 bits, negative height
  EXPECT_THROW(img.resize(5, 3, 14), std::overflow_error);
  EXPECT_THROW(img.resize(-1, 3), std::overflow_error);
  EXPECT_THROW(img.resize(0x7fffffff, 3), std::overflow_error);
  EXPECT_THROW(img.resize(5, -2), std::overflow_error);
  EXPECT_EQ(img.w, 5);
  EXPECT_EQ(img.h, 3);
  EXPECT_EQ(img.rowStride, 0u);
  EXPECT_TRUE(samePixels(img, copy));
}

TEST(Image, ResizeAllocationFailureRestoresGeometry)
{
  Image img = makeImage(7, 5, 1, 8, 9);
  fillPattern(img);
  uint8_t* before = img.data;
  // 2^31 rows of 2^32 - 1 bytes cannot be allocated anywhere.
  EXPECT_THROW(img.resize(0x7fffffff / 2, 0x7fffffff, 0xffffffffu), std::bad_alloc);
  EXPECT_EQ(img.w, 7);
  EXPECT_EQ(img.h, 5);
  EXPECT_EQ(img.rowStride, 9u);
  EXPECT_EQ(img.data, before);
}

TEST(Image, StridefillOverflow)
{
  Image img;
  img.spp = 3;
  img.bps = 16;
  img.w = 0x7fffffff;
  try {
    img.stridefill();
    FAIL() << "no exception";
  } catch (const std::overflow_error& e) {
    EXPECT_STREQ(e.what(), "stride overflow");
  }
}

TEST(Image, AssignmentFromPaddedRowsGivesTightCopy)
{
  for (int bps : {1, 2, 4, 8, 16}) {
    Image src = makeImage(11, 4, 1, bps, 32);
    fillPattern(src, bps);
    src.setResolution(300, 200);
    Image dst;
    int destroyed = 0;
    dst.setCodec(new MockCodec(&destroyed));
    dst = src;
    EXPECT_EQ(dst.rowStride, 0u);
    EXPECT_EQ(dst.resX, 300);
    EXPECT_EQ(dst.resY, 200);
    EXPECT_TRUE(samePixels(dst, src)) << bps;
    EXPECT_NE(dst.getCodec(), nullptr);
    EXPECT_TRUE(dst.pixelsDirty);
    EXPECT_EQ(destroyed, 0);
  }
}

TEST(Image, SelfAssignmentKeepsPaddedPixels)
{
  Image img = makeImage(9, 6, 3, 8, 40);
  fillPattern(img);
  Image ref;
  ref = img;
  Image& alias = img;
  img = alias;
  EXPECT_TRUE(samePixels(img, ref));
}

TEST(Image, AssignmentFromImageWithoutPixels)
{
  Image src;
  src.spp = 1;
  src.bps = 8;
  src.w = 20;
  src.h = 10;
  Image dst = makeImage(3, 3, 3, 8);
  dst = src;
  EXPECT_EQ(dst.w, 20);
  EXPECT_EQ(dst.h, 10);
  EXPECT_EQ(dst.spp, 1);
  EXPECT_EQ(dst.data, nullptr);
}

TEST(Image, CopyConstructorDecodesSource)
{
  Image src;
  src.setCodec(new MockCodec());
  Image copy(src);
  ASSERT_NE(copy.data, nullptr);
  EXPECT_EQ(copy.w, 3);
  EXPECT_EQ(copy.data[5], 50);
  EXPECT_EQ(copy.getCodec(), nullptr); // the codec is never copied
}

TEST(Image, LazyDecodeThroughCodec)
{
  Image img;
  auto* codec = new MockCodec();
  img.setCodec(codec);
  EXPECT_FALSE(img.pixelsDirty);
  EXPECT_EQ(codec->decodes, 0);
  uint8_t* p = img.getRawData();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(codec->decodes, 1);
  EXPECT_EQ(img.w, 3);
  EXPECT_EQ(p[4], 40);
  EXPECT_FALSE(img.pixelsDirty); // freshly decoded pixels match the codec
  img.getRawData();
  EXPECT_EQ(codec->decodes, 1);

  // A codec that produces nothing leaves the image without pixels.
  Image none;
  none.setCodec(new testsupport::TestCodec());
  EXPECT_EQ(none.getRawData(), nullptr);
}

TEST(Image, SetCodecOwnership)
{
  int destroyed = 0;
  Image img = makeImage(2, 2, 1, 8);
  auto* a = new MockCodec(&destroyed);
  img.setCodec(a);
  EXPECT_FALSE(img.pixelsDirty);
  img.pixelsDirty = img.metaDirty = true;
  img.setCodec(a); // the same codec: nothing happens
  EXPECT_EQ(destroyed, 0);
  EXPECT_TRUE(img.pixelsDirty);
  EXPECT_TRUE(img.metaDirty);
  img.setCodec(new MockCodec(&destroyed));
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(img.pixelsDirty);
  EXPECT_FALSE(img.metaDirty);
  { Image other; other.setCodec(new MockCodec(&destroyed)); }
  EXPECT_EQ(destroyed, 2);
}

TEST(Image, CopyTransferOwnership)
{
  Image src;
  auto* codec = new MockCodec();
  src.setCodec(codec);
  Image dst = makeImage(8, 8, 3, 16);
  dst.copyTransferOwnership(src);
  EXPECT_EQ(dst.w, 3);
  EXPECT_EQ(dst.spp, 1);
  ASSERT_NE(dst.data, nullptr);
  EXPECT_EQ(dst.data[2], 20);
  // The source keeps its geometry, loses its buffer, and decodes again on
  // the next request.
  EXPECT_EQ(src.w, 3);
  EXPECT_EQ(src.data, nullptr);
  EXPECT_TRUE(src.pixelsDirty);
  src.getRawData();
  EXPECT_EQ(codec->decodes, 2);
}

TEST(Image, RestrideBothWays)
{
  for (int bps : {1, 4, 8, 16}) {
    Image img = makeImage(13, 5, 1, bps);
    fillPattern(img, 7);
    Image ref;
    ref = img;
    const unsigned fill = img.stridefill();
    img.restride(fill + 7);
    EXPECT_EQ(img.stride(), fill + 7);
    EXPECT_TRUE(samePixels(img, ref)) << "grow " << bps;
    img.restride(fill + 2);
    EXPECT_EQ(img.stride(), fill + 2);
    EXPECT_TRUE(samePixels(img, ref)) << "shrink " << bps;
    img.restride(fill);
    EXPECT_EQ(img.rowStride, 0u);
    EXPECT_TRUE(samePixels(img, ref)) << "tight " << bps;
    uint8_t* before = img.data;
    img.restride(fill); // same stride: nothing changes
    EXPECT_EQ(img.data, before);
  }
}

TEST(Image, RestrideBelowFillThrowsAndKeepsImage)
{
  Image img = makeImage(10, 3, 3, 8, 40);
  fillPattern(img);
  Image ref;
  ref = img;
  try {
    img.restride(29);
    FAIL() << "no exception";
  } catch (const std::overflow_error& e) {
    EXPECT_STREQ(e.what(), "new stride too small for fill");
  }
  EXPECT_EQ(img.rowStride, 40u);
  EXPECT_TRUE(samePixels(img, ref));
}

TEST(Image, SetRawDataOwnership)
{
  Image img = makeImage(4, 4, 1, 8);
  img.pixelsDirty = false;
  uint8_t* p = (uint8_t*)malloc(16);
  memset(p, 7, 16);
  img.setRawData(p); // frees the old buffer (ASan would report a leak)
  EXPECT_EQ(img.data, p);
  EXPECT_TRUE(img.pixelsDirty);
  img.setRawData(p); // the same buffer is not freed
  EXPECT_EQ(img.data[15], 7);
  img.pixelsDirty = false;
  img.setRawData();
  EXPECT_TRUE(img.pixelsDirty);
}

TEST(Image, ResolutionMarksMetaDirty)
{
  Image img;
  img.setResolution(0, 0);
  EXPECT_FALSE(img.metaDirty);
  img.setResolution(300, 300);
  EXPECT_TRUE(img.metaDirty);
  EXPECT_EQ(img.resolutionX(), 300);
}
