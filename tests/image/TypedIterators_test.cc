// Typed iterators and the dispatch by pixel type.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <typeinfo>

#include "image/TypedIterators.hh"
#include "tests/support/TestSupport.hh"

using testsupport::fillPattern;
using testsupport::imageFromSamples;
using testsupport::makeImage;
using testsupport::sampleAt;

namespace {

template <typename T> std::string iteratorName();
template <> std::string iteratorName<gray_iterator>() { return "gray"; }
template <> std::string iteratorName<gray16_iterator>() { return "gray16"; }
template <> std::string iteratorName<rgb_iterator>() { return "rgb"; }
template <> std::string iteratorName<rgb16_iterator>() { return "rgb16"; }
template <> std::string iteratorName<rgba_iterator>() { return "rgba"; }
template <> std::string iteratorName<bit_iterator<1>>() { return "bit1"; }
template <> std::string iteratorName<bit_iterator<2>>() { return "bit2"; }
template <> std::string iteratorName<bit_iterator<4>>() { return "bit4"; }

template <typename T>
struct which_template {
  std::string operator()(Image&, int a, const std::string& b)
  {
    return iteratorName<T>() + ":" + std::to_string(a) + b;
  }
};

// Inverts every sample through the typed iterator, row by row.
template <typename T>
struct invert_test_template {
  void operator()(Image& image)
  {
    T it(image);
    for (int y = 0; y < image.h; ++y) {
      T p = it.at(0, y);
      for (int x = 0; x < image.w; ++x, ++p) {
        typename T::accu a = *p;
        for (int c = 0; c < T::accu::samples; ++c)
          a.v[c] = T::accu::maxval - a.v[c];
        p.set(a);
      }
    }
    image.setRawData();
  }
};

} // namespace

TEST(Dispatch, ChoosesInstantiationBySppAndBps)
{
  struct { int spp, bps; const char* want; } cases[] = {
    {1, 1, "bit1"}, {1, 2, "bit2"}, {1, 4, "bit4"}, {1, 8, "gray"}, {1, 16, "gray16"},
    {3, 8, "rgb"}, {3, 16, "rgb16"}, {4, 8, "rgba"},
  };
  for (auto& c : cases) {
    Image img = makeImage(3, 2, c.spp, c.bps);
    EXPECT_EQ((codegen_return<std::string, which_template>(img, 7, std::string("x"))),
              std::string(c.want) + ":7x")
      << c.spp << "x" << c.bps;
  }
}

TEST(Dispatch, UnsupportedTypesGetDefaultAndOneLine)
{
  struct { int spp, bps; } cases[] = {{1, 12}, {3, 4}, {3, 1}, {3, 2}, {1, 32}, {4, 16}, {2, 8}};
  for (auto& c : cases) {
    Image img = makeImage(4, 2, 1, 8);
    img.spp = c.spp;
    img.bps = c.bps;
    img.resize(4, 2);
    testing::internal::CaptureStderr();
    EXPECT_EQ((codegen_return<std::string, which_template>(img, 1, std::string("y"))), "");
    codegen<invert_test_template>(img);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("unhandled spp/bps in image/TypedIterators.hh:", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2);
  }
}

TEST(Dispatch, EmptyImagesAreLeftAlone)
{
  Image none;
  none.spp = 1;
  none.bps = 8;
  none.w = 5;
  none.h = 5; // no buffer
  EXPECT_EQ((codegen_return<std::string, which_template>(none, 1, std::string("y"))), "");
  Image zero = makeImage(4, 4, 3, 8);
  zero.w = 0;
  EXPECT_EQ((codegen_return<std::string, which_template>(zero, 1, std::string("y"))), "");
}

TEST(Dispatch, InvertThroughEveryTypedIterator)
{
  struct { int spp, bps; } types[] = {{1, 1}, {1, 2}, {1, 4}, {1, 8}, {1, 16}, {3, 8}, {4, 8}, {3, 16}};
  for (auto& t : types) {
    Image img = makeImage(13, 3, t.spp, t.bps, 0);
    img.resize(13, 3, img.stridefill() + 3); // padded rows
    fillPattern(img, 3);
    Image ref;
    ref = img;
    img.pixelsDirty = false;
    codegen<invert_test_template>(img);
    EXPECT_TRUE(img.pixelsDirty);
    const int max = (1 << t.bps) - 1;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 13; ++x)
        for (int c = 0; c < t.spp; ++c)
          ASSERT_EQ(sampleAt(img, x, y, c), max - sampleAt(ref, x, y, c))
            << t.spp << "x" << t.bps << " at " << x << "," << y;
  }
}

TEST(TypedIterator, BitIteratorReadsAndWrites)
{
  Image img = imageFromSamples(5, 1, 1, 2, {0, 1, 2, 3, 2});
  bit_iterator<2> it(img);
  int want[] = {0, 85, 170, 255, 170};
  for (int x = 0; x < 5; ++x, ++it)
    EXPECT_EQ((*it).v[0], want[x]);
  bit_iterator<2> p = bit_iterator<2>(img).at(1, 0);
  bit_iterator<2>::accu a;
  a.v[0] = 100; // stores 100 >> 6 = 1
  p.set(a);
  EXPECT_EQ(sampleAt(img, 1, 0), 1);
  a.v[0] = 170;
  p.set(a);
  EXPECT_EQ(sampleAt(img, 1, 0), 2);
  EXPECT_EQ(sampleAt(img, 0, 0), 0);
  EXPECT_EQ(sampleAt(img, 2, 0), 2);
}

TEST(TypedIterator, BitIteratorStepping)
{
  Image img = makeImage(10, 2, 1, 1);
  bit_iterator<1> it(img);
  uint8_t* start = it.ptr;
  for (int i = 0; i < 8; ++i)
    ++it;
  EXPECT_EQ(it.ptr, start + 1);
  EXPECT_EQ(it.bitpos, 7);
  ++it;
  ++it; // the tenth sample ends the row: next byte although bits remain
  EXPECT_EQ(it.ptr, start + 2);
  EXPECT_EQ(it.bitpos, 7);
  EXPECT_EQ(it.x, 0);

  Image two = makeImage(8, 1, 1, 2);
  bit_iterator<2> b = bit_iterator<2>(two).at(4, 0);
  EXPECT_EQ(b.bitpos, 7);
  --b;
  EXPECT_EQ(b.ptr, b.begin);
  EXPECT_EQ(b.bitpos, 1);
}

TEST(TypedIterator, SixteenBitHostOrder)
{
  Image img = imageFromSamples(1, 1, 3, 16, {0x1234, 0xfedc, 1});
  rgb16_iterator it(img);
  auto a = *it;
  EXPECT_EQ(a.v[0], 0x1234);
  EXPECT_EQ(a.v[1], 0xfedc);
  uint16_t raw;
  memcpy(&raw, img.data, 2);
  EXPECT_EQ(raw, 0x1234);
}

TEST(TypedIterator, StoreColourReducesToGray)
{
  // gray: (11 R + 16 G + 5 B) / 32; RGBA keeps its alpha.
  Image g = makeImage(1, 1, 1, 8);
  gray_iterator(g).setRGB(200, 100, 50);
  EXPECT_EQ(sampleAt(g, 0, 0), (11 * 200 + 16 * 100 + 5 * 50) / 32);

  Image b = makeImage(8, 1, 1, 1);
  bit_iterator<1>(b).at(3, 0).setRGB(255, 255, 255);
  EXPECT_EQ(sampleAt(b, 3, 0), 1);
  EXPECT_EQ(sampleAt(b, 2, 0), 0);

  Image rgba = imageFromSamples(1, 1, 4, 8, {0, 0, 0, 77});
  rgba_iterator(rgba).setRGB(1, 2, 3);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 2), 3);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 3), 77);
}

TEST(TypedIterator, AccuFromGenericIterator)
{
  Image src = imageFromSamples(1, 1, 4, 8, {255, 0, 51, 9});
  Image::iterator it(&src, false);
  *it;
  rgba_iterator::accu a;
  a = it;
  EXPECT_EQ(a.v[0], 255);
  EXPECT_EQ(a.v[2], 51);
  EXPECT_EQ(a.v[3], 9);
  rgb16_iterator::accu b;
  b = it;
  EXPECT_EQ(b.v[0], 65535);
  EXPECT_EQ(b.v[2], (int64_t)(51 / 255.0 * 65535));

  Image gray = imageFromSamples(1, 1, 1, 8, {128});
  Image::iterator g(&gray, false);
  *g;
  rgba_iterator::accu c;
  c = g;
  EXPECT_EQ(c.v[1], 128);
  EXPECT_EQ(c.v[3], 255); // opaque unless the source is RGBA
}

TEST(TypedIterator, AccuSaturateAndLuminance)
{
  rgb_iterator::accu a;
  a.v[0] = -5;
  a.v[1] = 300;
  a.v[2] = 100;
  a.saturate();
  EXPECT_EQ(a.v[0], 0);
  EXPECT_EQ(a.v[1], 255);
  EXPECT_EQ(a.getL(), (16 * 255 + 5 * 100) / 32);
  gray16_iterator::accu g;
  g.v[0] = 70000;
  g.saturate();
  EXPECT_EQ(g.v[0], 65535);
}
