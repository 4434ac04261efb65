#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <limits>
#include <sstream>

#include "codecs/Codecs.hh"
#include "codecs/TIFF.hh"
#include "codecs/ZlibEncoder.hh"
#include "tests/codecs/TiffBuilder.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

int readBytes(const std::string& bytes, Image& img, const std::string& opts = "", int index = 0)
{
  std::istringstream in(bytes);
  return ImageCodec::Read(&in, img, "", opts, index);
}

std::string le(std::initializer_list<int> bytes)
{
  std::string s;
  for (int b : bytes)
    s += (char)b;
  return s;
}

// A one-strip uncompressed page of w x h, spp x bps, with extra fields.
std::string plainPage(int w, int h, int spp, int bps, const std::string& pixels,
                      std::vector<TiffField> extra = {}, bool bigEndian = false)
{
  TiffBuilder b(bigEndian);
  const uint32_t strip = b.data(pixels);
  std::vector<TiffField> f = {{256, 4, {(uint32_t)w}},
                              {257, 4, {(uint32_t)h}},
                              {258, 3, std::vector<uint32_t>(spp, bps)},
                              {273, 4, {strip}},
                              {277, 3, {(uint32_t)spp}},
                              {279, 4, {(uint32_t)pixels.size()}}};
  f.insert(f.end(), extra.begin(), extra.end());
  b.ifd(f);
  return b.str();
}

struct Base {
  const char* name;
  int spp, bps;
  const char* make; // how the uncompressed base file is made from src.pnm / src.raw
};

// The image whose samples a 2- or 4-bit file made by ImageMagick from an
// 8-bit gray file of multiples of 255 / (2^bps - 1) holds.
Image quantized(const Image& gray8, int bps)
{
  const int levels = (1 << bps) - 1, step = 255 / levels;
  std::vector<int> samples;
  for (int y = 0; y < gray8.h; ++y)
    for (int x = 0; x < gray8.w; ++x)
      samples.push_back(sampleAt(gray8, x, y) / step);
  return imageFromSamples(gray8.w, gray8.h, 1, bps, samples);
}

} // namespace

// Every compression x layout x byte order that libtiff's tiffcp makes from
// a base file decodes to the base's pixels; the base itself is checked
// against ImageMagick's reading of it.
TEST(TIFFRead, TiffcpMatrixMatchesTheSource)
{
  REQUIRE_TOOL(tiffcp, "tiffcp");
  REQUIRE_TOOL(convert, "convert");
  REQUIRE_TOOL(compare, "compare");
  REQUIRE_TOOL(python, "python3");
  TempDir tmp;
  const int w = 45, h = 37; // neither a multiple of the tile size nor of the strip
  const Base bases[] = {
      {"bw", 1, 1, "convert src.pnm -compress none base.tif"},
      {"bw-miw", 1, 1, "convert src.pnm -compress none -define tiff:photometric=min-is-white base.tif"},
      {"gray2", 1, 2, "convert src.pnm -depth 2 -compress none base.tif"},
      {"gray4", 1, 4, "convert src.pnm -depth 4 -compress none base.tif"},
      {"gray8", 1, 8, "convert src.pnm -compress none base.tif"},
      {"gray8-miw", 1, 8, "convert src.pnm -compress none -define tiff:photometric=min-is-white base.tif"},
      {"gray16", 1, 16, "convert src.pnm -compress none base.tif"},
      {"rgb8", 3, 8, "convert src.pnm -compress none base.tif"},
      {"rgb16", 3, 16, "convert src.pnm -compress none base.tif"},
      {"rgba8", 4, 8,
       "/usr/bin/python3 -c \"from PIL import Image; "
       "Image.frombytes('RGBA', (45, 37), open('src.raw','rb').read()).save('base.tif')\""},
  };
  for (const Base& base : bases) {
    SCOPED_TRACE(base.name);
    const bool sub = base.bps == 2 || base.bps == 4;
    Image src = makeImage(w, h, base.spp, sub ? 8 : base.bps);
    fillPattern(src, (uint32_t)base.bps * 7 + base.spp);
    const int step = 255 / ((1 << base.bps) - 1);
    if (sub)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          setSampleAt(src, x, y, 0, sampleAt(src, x, y) / step * step);
    if (base.spp == 4) {
      std::string raw;
      for (int y = 0; y < h; ++y)
        raw.append((const char*)src.data + (size_t)y * src.stride(), src.stridefill());
      ASSERT_TRUE(writeFile(tmp.file("src.raw"), raw));
    } else {
      ASSERT_TRUE(writePNM(src, tmp.file("src.pnm")));
    }
    ASSERT_EQ(run("cd " + tmp.path() + " && PATH=/usr/bin:$PATH " + base.make), 0);
    const Image expected = sub ? quantized(src, base.bps) : Image(src);

    Image ours;
    ASSERT_EQ(ImageCodec::Read(tmp.file("base.tif"), ours), 1);
    ASSERT_TRUE(samePixels(ours, expected));
    if (base.spp != 4) {
      std::string ae;
      run(compare + " -metric AE " + tmp.file("base.tif") + " " + tmp.file("src.pnm") +
              " null: 2>&1",
          &ae);
      EXPECT_EQ(ae, "0");
    }

    std::vector<std::string> comps = {"none", "lzw", "zip", "packbits"};
    if (base.bps >= 8)
      comps.insert(comps.end(), {"lzw:2", "zip:2"});
    if (base.bps == 1)
      comps.insert(comps.end(), {"g3", "g3:2d", "g3:2d:fill", "g4"});
    std::vector<std::string> layouts = {"-r 5", "-t -w 16 -l 16", "-r 100"};
    if (base.spp == 3 && base.bps == 8)
      layouts.insert(layouts.end(), {"-p separate -r 4", "-p separate -t -w 32 -l 16"});
    // Not the full product (process start-up dominates the run time): the
    // layouts and byte orders rotate over the compressions so that each
    // meets several of them.
    std::vector<std::string> variants;
    std::string script;
    int k = 0;
    for (size_t i = 0; i < comps.size(); ++i)
      for (size_t j = 0; j < layouts.size(); ++j) {
        if ((i + j) % 2)
          continue;
        const bool ccitt = comps[i][0] == 'g';
        const std::string opts = "-c " + comps[i] + " " + layouts[j] + (k % 2 ? " -B" : " -L") +
                                 (ccitt && (k / 2) % 2 ? " -f lsb2msb" : "");
        const std::string file = tmp.file("v" + std::to_string(k++) + ".tif");
        script += tiffcp + " " + opts + " " + tmp.file("base.tif") + " " + file + " || exit 1\n";
        variants.push_back(opts);
      }
    ASSERT_TRUE(writeFile(tmp.file("variants.sh"), script));
    ASSERT_EQ(run("sh " + tmp.file("variants.sh")), 0);
    for (size_t v = 0; v < variants.size(); ++v) {
      SCOPED_TRACE(variants[v]);
      Image img;
      ASSERT_EQ(ImageCodec::Read(tmp.file("v" + std::to_string(v) + ".tif"), img), 1);
      EXPECT_TRUE(samePixels(img, expected));
    }
  }
}

// Files only Pillow makes: modified Huffman (compression 2), palettes,
// 32-bit float samples.
TEST(TIFFRead, PillowFixtures)
{
  REQUIRE_TOOL(python, "python3");
  TempDir tmp;
  const char* script = R"(
import numpy as np
from PIL import Image
rng = np.random.default_rng(5)
bw = Image.fromarray(rng.integers(0, 2, (29, 53)).astype(bool))
bw.save('mh.tif', compression='tiff_ccitt')
bw.save('g3.tif', compression='group3')
bw.convert('L').save('bw.pgm')
pal = Image.fromarray(rng.integers(0, 6, (21, 33)).astype(np.uint8), 'P')
pal.putpalette([0,0,0, 255,0,0, 0,255,0, 0,0,255, 12,34,56, 250,240,230])
pal.save('pal.tif')
pal.convert('RGB').save('pal.ppm')
pal4 = pal.convert('RGB').quantize(4)
f = Image.fromarray((rng.random((11, 17)) * 300 - 20).astype(np.float32), 'F')
f.save('f32.tif')
Image.fromarray(np.clip(np.nan_to_num(np.asarray(f)), 0, 255).astype(np.uint8)).save('f32.pgm')
)";
  ASSERT_TRUE(writeFile(tmp.file("make.py"), script));
  ASSERT_EQ(run("cd " + tmp.path() + " && " + python + " make.py"), 0);

  Image bw, ref;
  ASSERT_TRUE(readPNM(ref, tmp.file("bw.pgm")));
  for (const char* f : {"mh.tif", "g3.tif"}) {
    SCOPED_TRACE(f);
    Image img;
    ASSERT_EQ(ImageCodec::Read(tmp.file(f), img), 1);
    ASSERT_EQ(img.bps, 1);
    ASSERT_EQ(img.w, ref.w);
    ASSERT_EQ(img.h, ref.h);
    bool same = true;
    for (int y = 0; y < ref.h; ++y)
      for (int x = 0; x < ref.w; ++x)
        same = same && sampleAt(img, x, y) * 255 == sampleAt(ref, x, y);
    EXPECT_TRUE(same);
  }
  Image pal, palRef;
  ASSERT_EQ(ImageCodec::Read(tmp.file("pal.tif"), pal), 1);
  ASSERT_TRUE(readPNM(palRef, tmp.file("pal.ppm")));
  EXPECT_TRUE(samePixels(pal, palRef));

  Image f32, f32Ref;
  ASSERT_EQ(ImageCodec::Read(tmp.file("f32.tif"), f32), 1);
  ASSERT_TRUE(readPNM(f32Ref, tmp.file("f32.pgm")));
  EXPECT_TRUE(samePixels(f32, f32Ref));
}

TEST(TIFFRead, PhotometricDecidesTheInversion)
{
  const std::string pixels = le({0, 100, 200, 255});
  struct Case {
    const char* name;
    std::vector<TiffField> extra;
    std::vector<int> expected;
  } cases[] = {
      {"BlackIsZero", {{262, 3, {1}}}, {0, 100, 200, 255}},
      {"WhiteIsZero", {{262, 3, {0}}}, {255, 155, 55, 0}},
      {"no Photometric", {}, {255, 155, 55, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image img;
    ASSERT_EQ(readBytes(plainPage(4, 1, 1, 8, pixels, c.extra), img), 1);
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(sampleAt(img, x, 0), c.expected[x]);
  }
}

// Palette images keep their colours and are never inverted afterwards, also
// when the palette is gray; the map is checked against the final
// BitsPerSample, wherever the tags stand.
TEST(TIFFRead, ColourMaps)
{
  std::vector<uint32_t> gray(3 * 256);
  for (int i = 0; i < 256; ++i)
    gray[i] = gray[256 + i] = gray[512 + i] = (uint32_t)(255 - i) * 257;
  Image img;
  ASSERT_EQ(readBytes(plainPage(2, 1, 1, 8, le({0, 1}), {{262, 3, {3}}, {320, 3, gray}}), img), 1);
  EXPECT_EQ(img.spp, 1);
  EXPECT_EQ(sampleAt(img, 0, 0), 255);
  EXPECT_EQ(sampleAt(img, 1, 0), 254);

  // A map sized for 1 bit, with BitsPerSample 8 given after it: too short.
  TiffBuilder b;
  const uint32_t strip = b.data(le({0, 200}));
  b.ifd({{256, 4, {2}}, {257, 4, {1}}, {262, 3, {3}}, {320, 3, {0, 65535, 0, 65535, 0, 65535}},
         {258, 3, {8}}, {273, 4, {strip}}, {279, 4, {2}}});
  Image keep = imageFromBytes(1, 1, 1, {42});
  testing::internal::CaptureStderr();
  EXPECT_EQ(readBytes(b.str(), keep), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("non matching cmap count 8 6 768"),
            std::string::npos);
  EXPECT_EQ(keep.w, 1); // a refused file leaves the image alone
  EXPECT_EQ(sampleAt(keep, 0, 0), 42);
}

TEST(TIFFRead, PagesAndIndices)
{
  TiffBuilder b;
  for (int page = 0; page < 3; ++page) {
    const uint32_t strip = b.data(std::string(1, (char)(10 * page)));
    b.ifd({{256, 4, {1}}, {257, 4, {1}}, {258, 3, {8}}, {262, 3, {1}}, {273, 4, {strip}},
           {279, 4, {1}}});
  }
  for (int index = 0; index < 4; ++index) {
    Image img;
    std::istringstream in(b.str());
    EXPECT_EQ(ImageCodec::Read(&in, img, "tif", "", index), index == 0 ? 3 : index < 3 ? 1 : 0);
    if (index < 3) {
      EXPECT_EQ(sampleAt(img, 0, 0), 10 * index);
    }
  }
}

TEST(TIFFRead, ByteOrderMarks)
{
  std::string page = plainPage(1, 1, 1, 8, "x", {{262, 3, {1}}});
  Image img;
  page[1] = 'M'; // "IM": little-endian by the first byte
  EXPECT_EQ(readBytes(page, img), 1);
  page[0] = 'X';
  page[1] = 'Y';
  std::istringstream in(page);
  EXPECT_EQ(ImageCodec::Read(&in, img, "tif"), 0);
  EXPECT_EQ(in.tellg(), 0);
  // Big-endian 16-bit samples come out in host order.
  Image be;
  ASSERT_EQ(readBytes(plainPage(2, 1, 1, 16, le({0x12, 0x34, 0xab, 0xcd}), {{262, 3, {1}}}, true),
                      be),
            1);
  EXPECT_EQ(sampleAt(be, 0, 0), 0x1234);
  EXPECT_EQ(sampleAt(be, 1, 0), 0xabcd);
}

// Layouts libtiff's tools do not make: planar 16-bit big-endian samples,
// big-endian float samples (clamped to 0..255, NaN 0).
TEST(TIFFRead, PlanarSixteenBitAndFloatInBigEndianFiles)
{
  TiffBuilder b(true);
  const uint32_t r = b.data(le({0x01, 0x02, 0x03, 0x04}));
  const uint32_t g = b.data(le({0x11, 0x12, 0x13, 0x14}));
  const uint32_t bl = b.data(le({0x21, 0x22, 0x23, 0x24}));
  b.ifd({{256, 4, {2}}, {257, 4, {1}}, {258, 3, {16, 16, 16}}, {262, 3, {2}},
         {273, 4, {r, g, bl}}, {277, 3, {3}}, {279, 4, {4, 4, 4}}, {284, 3, {2}}});
  Image img;
  ASSERT_EQ(readBytes(b.str(), img), 1);
  ASSERT_EQ(img.spp, 3);
  ASSERT_EQ(img.bps, 16);
  EXPECT_EQ(sampleAt(img, 0, 0, 0), 0x0102);
  EXPECT_EQ(sampleAt(img, 0, 0, 1), 0x1112);
  EXPECT_EQ(sampleAt(img, 1, 0, 2), 0x2324);

  // 1.5, 300, -5, NaN as big-endian IEEE singles.
  const std::string floats = le({0x3f, 0xc0, 0, 0, 0x43, 0x96, 0, 0, 0xc0, 0xa0, 0, 0,
                                 0x7f, 0xc0, 0, 0});
  Image f;
  ASSERT_EQ(readBytes(plainPage(4, 1, 1, 32, floats, {{262, 3, {1}}, {339, 3, {3}}}, true), f), 1);
  ASSERT_EQ(f.bps, 8);
  const int expected[] = {1, 255, 0, 0};
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(sampleAt(f, x, 0), expected[x]) << x;
}

TEST(TIFFRead, FillOrderTwoOnUncompressedDataIsReportedAndIgnored)
{
  Image img;
  testing::internal::CaptureStderr();
  ASSERT_EQ(readBytes(plainPage(8, 1, 1, 1, le({0x01}), {{262, 3, {1}}, {266, 3, {2}}}), img), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "FillOrder: 2\n");
  EXPECT_EQ(img.data[0], 0x01);
}

// Old-style LZW (codes least significant bit first, no early change):
// Clear, literal codes, End of Information, 9 bits each.
static std::string legacyLZW(const std::string& bytes)
{
  std::vector<int> codes{256};
  for (char c : bytes)
    codes.push_back((unsigned char)c);
  codes.push_back(257);
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (int c : codes) {
    acc |= (uint32_t)c << bits;
    bits += 9;
    while (bits >= 8) {
      out += (char)(acc & 0xff);
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits)
    out += (char)acc;
  return out;
}

TEST(TIFFRead, LegacyLZWWarnsOncePerRead)
{
  const std::string a = legacyLZW(le({1, 2, 3, 4})), b = legacyLZW(le({5, 6, 7, 8}));
  TiffBuilder t;
  const uint32_t sa = t.data(a), sb = t.data(b);
  t.ifd({{256, 4, {4}}, {257, 4, {2}}, {258, 3, {8}}, {259, 3, {5}}, {262, 3, {1}},
         {273, 4, {sa, sb}}, {278, 4, {1}}, {279, 4, {(uint32_t)a.size(), (uint32_t)b.size()}}});
  Image img;
  testing::internal::CaptureStderr();
  ASSERT_EQ(readBytes(t.str(), img), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Warning: legacy TIFF LZW compression not recommended\n");
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(sampleAt(img, i % 4, i / 4), i + 1);
}

// Resolutions in dots per inch whatever ResolutionUnit the file gives
// (absent: inch; 1: none; 3: centimetre), wherever the unit lies in the
// directory.
TEST(TIFFRead, Resolutions)
{
  struct Case {
    std::vector<uint32_t> x, y;
    int unit; // 0: no ResolutionUnit field
    int resX, resY;
    bool unitFirst = false;
  } cases[] = {
      {{300, 1}, {2400, 8}, 0, 300, 300},
      {{599, 2}, {7, 0}, 0, 300, 0},            // 299.5 rounds up
      {{2999, 10}, {1497, 10}, 2, 300, 150},    // 299.9 and 149.7
      {{2994, 10}, {1, 3}, 2, 299, 1},          // under 1 dpi is 1, not none
      {{300, 1}, {300, 1}, 2, 300, 300},
      {{11811, 100}, {5906, 100}, 3, 300, 150}, // 118.11 and 59.06 px/cm
      {{1000, 3}, {100, 1}, 3, 847, 254},       // 846.67
      {{300, 1}, {150, 1}, 1, 0, 0},
      {{11811, 100}, {11811, 100}, 3, 300, 300, true},
      {{300, 1}, {300, 1}, 7, 300, 300}, // an unknown unit counts as inch
  };
  for (const Case& c : cases) {
    Image img;
    img.resX = 72;
    std::vector<TiffField> extra = {{282, 5, c.x}, {283, 5, c.y}};
    if (c.unit)
      extra.insert(c.unitFirst ? extra.begin() : extra.end(), {296, 3, {(uint32_t)c.unit}});
    ASSERT_EQ(readBytes(plainPage(1, 1, 1, 8, "x", extra), img), 1);
    EXPECT_EQ(img.resX, c.resX) << c.unit << " " << c.x[0];
    EXPECT_EQ(img.resY, c.resY) << c.unit << " " << c.x[0];
  }
}

// ImageMagick stores the densities it is given in the unit it is told:
// 118.11 px/cm is its 300 dpi. Tolm writes inches back.
TEST(TIFFRead, ImageMagickCentimetreFilesReadInDotsPerInch)
{
  REQUIRE_TOOL(convert, "convert");
  REQUIRE_TOOL(tiffinfo, "tiffinfo");
  TempDir dir;
  const struct {
    const char* density;
    const char* units;
    int dpi;
  } cases[] = {{"118.11", "PixelsPerCentimeter", 300},
               {"59.06", "PixelsPerCentimeter", 150},
               {"300", "PixelsPerInch", 300},
               {"200", "Undefined", 0}};
  for (const auto& c : cases) {
    const std::string path = dir.file(std::string(c.units) + c.density + ".tif");
    ASSERT_EQ(run(convert + " -size 40x30 xc:gray -units " + c.units + " -density " + c.density +
                  " -compress lzw " + path),
              0);
    Image img;
    ASSERT_EQ(ImageCodec::Read(path, img), 1) << path;
    EXPECT_EQ(img.resX, c.dpi) << path;
    EXPECT_EQ(img.resY, c.dpi) << path;
    if (!c.dpi)
      continue;
    const std::string back = dir.file("back.tif");
    ASSERT_TRUE(ImageCodec::Write(back, img));
    std::string info;
    ASSERT_EQ(run(tiffinfo + " " + back, &info), 0);
    EXPECT_NE(info.find("Resolution: " + std::to_string(c.dpi) + ", " + std::to_string(c.dpi)),
              std::string::npos) << info;
    EXPECT_EQ(info.find("centimeter"), std::string::npos) << info;
  }
}

TEST(TIFFRead, DebugDumpAndUnhandledTags)
{
  Image img;
  testing::internal::CaptureStderr();
  ASSERT_EQ(readBytes(plainPage(1, 1, 3, 8, "abc", {{262, 3, {2}}, {40000, 3, {7}}}), img, "Debug"),
            1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("BitsPerSample(258)\ttype: SHORT(3)\tsize: 2 #3 =6 \t@"), std::string::npos)
      << err;
  EXPECT_NE(err.find("\t[8, 8, 8]\n\n"), std::string::npos) << err;
  EXPECT_NE(err.find("UNHANDLED: 40000\ttype: SHORT(3)\tsize: 2 #1 =2 \t7\n"), std::string::npos)
      << err;
}

// Tiles cover the image in bands of TileLength rows whatever RowsPerStrip
// says (libtiff writes none), each decoded with its own geometry.
TEST(TIFFRead, TilesWithoutRowsPerStrip)
{
  const int w = 20, h = 10, tw = 16, tl = 8;
  std::string tiles;
  for (int ty = 0; ty < 2; ++ty)
    for (int tx = 0; tx < 2; ++tx)
      for (int y = 0; y < tl; ++y)
        for (int x = 0; x < tw; ++x)
          tiles += (char)((ty * tl + y) * 20 + tx * tw + x);
  TiffBuilder b;
  const uint32_t at = b.data(tiles);
  const uint32_t n = tw * tl;
  b.ifd({{256, 4, {w}}, {257, 4, {h}}, {258, 3, {8}}, {262, 3, {1}}, {322, 3, {tw}},
         {323, 3, {tl}}, {324, 4, {at, at + n, at + 2 * n, at + 3 * n}}, {325, 4, {n, n, n, n}}});
  Image img;
  ASSERT_EQ(readBytes(b.str(), img), 1);
  ASSERT_EQ(img.w, w);
  ASSERT_EQ(img.h, h);
  bool same = true;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      same = same && sampleAt(img, x, y) == ((y * 20 + x) & 0xff);
  EXPECT_TRUE(same);
}

// Damaged and hostile files end quickly with a failure result (or, for a
// cyclic chain, with the pages before the repeat).
TEST(TIFFRead, HostileFiles)
{
  const std::string good = plainPage(2, 2, 1, 8, "abcd", {{262, 3, {1}}});
  auto timed = [](const std::string& bytes, int index) {
    Image img;
    const auto t0 = std::chrono::steady_clock::now();
    testing::internal::CaptureStderr();
    const int r = readBytes(bytes, img, "", index);
    testing::internal::GetCapturedStderr();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    return r;
  };

  // Cycles: an IFD linking to itself, two linking to each other.
  {
    std::string self = good;
    TiffBuilder b;
    const uint32_t strip = b.data("abcd");
    const std::vector<TiffField> f = {{256, 4, {2}}, {257, 4, {2}}, {258, 3, {8}},
                                      {273, 4, {strip}}, {279, 4, {4}}};
    const uint32_t first = b.ifd(f);
    b.patch(b.lastLink(), first);
    EXPECT_EQ(timed(b.str(), 0), 1);
    EXPECT_EQ(timed(b.str(), 1000000), 0);
    TiffBuilder two;
    const uint32_t s2 = two.data("abcd");
    const std::vector<TiffField> f2 = {{256, 4, {2}}, {257, 4, {2}}, {258, 3, {8}},
                                       {273, 4, {s2}}, {279, 4, {4}}};
    const uint32_t a = two.ifd(f2);
    two.ifd(f2);
    two.patch(two.lastLink(), a);
    EXPECT_EQ(timed(two.str(), 0), 2);
    EXPECT_EQ(timed(two.str(), 1), 1);
    EXPECT_EQ(timed(two.str(), 2), 0);
  }

  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases;
  auto page = [](std::vector<TiffField> fields, const std::string& data = "abcd") {
    TiffBuilder b;
    b.data(data);
    b.ifd(fields);
    return b.str();
  };
  const TiffField w2{256, 4, {2}}, h2{257, 4, {2}}, b8{258, 3, {8}}, off{273, 4, {8}},
      cnt{279, 4, {4}};
  {
    TiffField huge{273, 4, {8}};
    huge.count = 0x40000000;
    huge.offset = 8;
    cases.push_back({"huge StripOffsets count", page({w2, h2, b8, huge, cnt})});
  }
  cases.push_back({"strip offset beyond the file", page({w2, h2, b8, {273, 4, {1 << 30}}, cnt})});
  cases.push_back({"truncated strip", page({w2, h2, b8, off, {279, 4, {400}}})});
  cases.push_back({"truncated deflate strip",
                   page({w2, h2, b8, off, {259, 3, {8}}, {279, 4, {400}}}, "\x78\x9c")});
  cases.push_back({"no strip offsets", page({w2, h2, b8, cnt})});
  cases.push_back({"fewer offsets than strips", page({w2, h2, b8, off, cnt, {278, 4, {1}}})});
  cases.push_back({"width beyond what the file holds", page({{256, 4, {1u << 30}}, {257, 4, {1u << 30}}, b8, off, cnt})});
  cases.push_back({"huge tiles", page({w2, h2, b8, {322, 4, {1u << 31}}, {323, 4, {1u << 31}}, {324, 4, {8}}, {325, 4, {4}}})});
  cases.push_back({"palette without a map", page({w2, h2, b8, off, cnt, {262, 3, {3}}})});
  // 130 MB of indices would be 390 MB of colours, from a file of 2 KB
  cases.push_back({"colour map on an image beyond its file",
                   page({{256, 4, {65536}}, {257, 4, {2000}}, b8, off, cnt, {262, 3, {3}},
                         {320, 3, std::vector<uint32_t>(768, 0x8000)}})});
  cases.push_back({"BitsPerSample 32 integers", page({w2, h2, {258, 3, {32}}, off, cnt})});
  cases.push_back({"unknown field type", page({w2, h2, b8, off, cnt, {300, 99, {1}}})});
  cases.push_back({"CCITT on 8-bit samples", page({w2, h2, b8, off, cnt, {259, 3, {4}}})});
  cases.push_back({"first IFD beyond the file", good.substr(0, 4) + le({0, 0, 0, 0x40})});
  cases.push_back({"truncated IFD", good.substr(0, good.size() - 20)});
  cases.push_back({"BigTIFF", le({'I', 'I', 43, 0, 8, 0, 0, 0})});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(timed(c.bytes, 0), 0);
  }
  // Every prefix of a valid file.
  for (size_t n = 0; n < good.size(); ++n)
    timed(good.substr(0, n), 0);
}

// JPEG data, alone or inside a TIFF file (new style: Compression 7, with
// or without JPEGTables; old style: Compression 6), is refused with its
// reason for the caller to say, whether the page is read or only counted,
// and without a word of its own. Other unreadable data gives no reason.
TEST(TIFFRead, JpegDataIsRefusedAsJpeg)
{
  const std::string jpegStart = le({0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0});
  const struct {
    const char* name;
    std::string bytes;
    const char* failure;
  } cases[] = {
    {"JPEG file", jpegStart + std::string(100, '\0'), "JPEG images are not read"},
    {"new-style JPEG in TIFF", plainPage(2, 2, 1, 8, jpegStart, {{259, 3, {7}}}),
     "JPEG images are not read"},
    {"new-style JPEG in TIFF with JPEGTables",
     plainPage(2, 2, 1, 8, jpegStart, {{259, 3, {7}}, {347, 7, {0xFF, 0xD8, 0xFF, 0xD9}}}),
     "JPEG images are not read"},
    {"old-style JPEG in TIFF",
     plainPage(2, 2, 1, 8, jpegStart, {{259, 3, {6}}, {512, 3, {1}}, {513, 4, {8}}, {514, 4, {11}}}),
     "JPEG images are not read"},
    {"start of image without a further marker", le({0xFF, 0xD8, 0x00, 0x01}), ""},
    {"text", "not an image at all", ""},
    {"TIFF in a compression no reader knows", plainPage(2, 2, 1, 8, "abcd", {{259, 3, {9}}}), ""},
  };
  for (const auto& c : cases)
    for (const char* options : {"", "count"}) {
      SCOPED_TRACE(std::string(c.name) + ", options '" + options + "'");
      Image img;
      CaptureStderr();
      EXPECT_EQ(readBytes(c.bytes, img, options), 0);
      const std::string err = GetCapturedStderr();
      EXPECT_EQ(ImageCodec::readFailure(), c.failure);
      if (*c.failure) {
        EXPECT_EQ(err, "");
      }
      EXPECT_EQ(err.find("NYI: JPEG"), std::string::npos) << err;
    }
}

// A file that ends before a page it has is refused as cut short, naming
// the first page it lost, whether the cut is in the IFD chain (a link past
// the end, an IFD that ends past it) or in a page's strips: pages before
// the cut still read one by one, but no count stops short at the cut.
// Reading page 0 counts the chain; counting ("count") also checks every
// page's strips; a page read checks its own. A cycle ends the chain as
// before.
TEST(TIFFRead, CutShortFilesNameTheFirstPageTheyLost)
{
  const std::vector<TiffField> fields = {{256, 4, {2}}, {257, 4, {2}}, {258, 3, {8}},
                                         {262, 3, {1}}, {273, 4, {0}}, {279, 4, {4}}};
  // Three pages of 2 x 2 samples 10, 11, 12, each strip before its IFD (as
  // libtiff and Pillow write them); with `lastBytes`, the last page's strip
  // comes after its IFD and only that many bytes of it are in the file.
  struct Built {
    std::string bytes;
    std::vector<uint32_t> ifds, links;
  };
  auto build = [&](size_t lastBytes, std::vector<TiffField> page1Extra = {}) {
    TiffBuilder b;
    Built out;
    for (int page = 0; page < 3; ++page) {
      const std::string pixels(4, (char)(10 + page));
      std::vector<TiffField> f = fields;
      if (page == 1)
        f.insert(f.end(), page1Extra.begin(), page1Extra.end());
      if (page == 2 && lastBytes < 4) {
        const uint32_t at = b.ifd(f);
        b.patch(at + 2 + 12 * 4 + 8, b.data(pixels.substr(0, lastBytes)));
        out.ifds.push_back(at);
      } else {
        f[4].values = {b.data(pixels)};
        out.ifds.push_back(b.ifd(f));
      }
      out.links.push_back(b.lastLink());
    }
    out.bytes = b.str();
    return out;
  };
  // The bytes with the little-endian u32 at `at` replaced.
  auto patched = [](std::string bytes, uint32_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
      bytes[at + i] = (char)(value >> (8 * i));
    return bytes;
  };
  const Built whole = build(4);
  const std::string& w = whole.bytes;
  const uint32_t offsetsEntry1 = whole.ifds[1] + 2 + 12 * 4;
  const struct Case {
    const char* name;
    std::string bytes;
    int page0, page0Cut; // result of reading page 0 and the page its refusal names (-1: none)
    int count, countCut; // the same for counting
    const char* pages;   // pages 1..3 read one by one: r read, c refused as cut short, - none
  } cases[] = {
    {"whole", w, 3, -1, 3, -1, "rr-"},
    {"link past the end", patched(w, whole.links[1], (uint32_t)w.size() + 100), 0, 2, 0, 2, "rcc"},
    {"cut inside the last IFD", w.substr(0, whole.ifds[2] + 10), 0, 2, 0, 2, "rcc"},
    {"cut inside the last link", w.substr(0, whole.links[2] + 2), 0, 2, 0, 2, "rcc"},
    {"cut inside the last strip", w.substr(0, whole.ifds[2] - 2), 0, 2, 0, 2, "rcc"},
    {"last strip cut, its IFD whole", build(2).bytes, 3, -1, 0, 2, "rc-"},
    {"page 1's strip offsets past the end",
     patched(patched(w, offsetsEntry1 + 4, 2), offsetsEntry1 + 8, (uint32_t)w.size() - 4), 3, -1,
     0, 1, "cr-"},
    // Values the page can do without, past the end: the page still reads.
    {"page 1's description past the end",
     build(4, {{270, 2, {}, 20, (int64_t)w.size() + 1000}}).bytes, 3, -1, 3, -1, "rr-"},
    {"first IFD cut", w.substr(0, whole.ifds[0] + 6), 0, 0, 0, 0, "ccc"},
    {"header only", w.substr(0, 6), 0, 0, 0, 0, "ccc"},
    {"cycle", patched(w, whole.links[1], whole.ifds[0]), 2, -1, 2, -1, "r--"},
  };
  // What a read gave: the result, and the page a cut-short refusal named.
  struct Outcome {
    int result, cut;
    bool operator==(const Outcome& o) const { return result == o.result && cut == o.cut; }
  };
  auto outcome = [](int result) {
    const bool cut = ImageCodec::readFailure() == "the file is cut short";
    EXPECT_TRUE(cut || ImageCodec::readFailure().empty()) << ImageCodec::readFailure();
    return Outcome{result, cut ? ImageCodec::readFailurePage() : -1};
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    Image img;
    const Outcome page0 = outcome(readBytes(c.bytes, img));
    const int sample0 = img.w > 0 ? sampleAt(img, 0, 0) : -1;
    const Outcome counted = outcome(readBytes(c.bytes, img, "count"));
    std::string pages;
    for (int index = 1; index <= 3; ++index) {
      Image one;
      const Outcome o = outcome(readBytes(c.bytes, one, "", index));
      if (o.result == 1 && sampleAt(one, 0, 0) == 10 + index)
        pages += 'r';
      else if (o.result == 0 && o.cut == index)
        pages += 'c';
      else
        pages += o.result == 0 && o.cut < 0 ? '-' : '?';
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(page0, (Outcome{c.page0, c.page0Cut}));
    EXPECT_EQ(sample0, c.page0 > 0 ? 10 : -1); // a refused read leaves the image alone
    EXPECT_EQ(counted, (Outcome{c.count, c.countCut}));
    EXPECT_EQ(pages, c.pages);
  }

  // A good read clears the refusal.
  Image img;
  testing::internal::CaptureStderr();
  readBytes(cases[1].bytes, img, "count");
  EXPECT_EQ(readBytes(w, img, "count"), 3);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ImageCodec::readFailure(), "");
  EXPECT_EQ(ImageCodec::readFailurePage(), -1);
}

// A strip whose data ends early keeps what it holds and reads as zero
// after it, never as memory an earlier image left behind.
TEST(TIFFRead, ShortStripsReadAsZeroAfterTheirData)
{
  const int w = 64, h = 16;
  std::string pixels(w * h, '\0');
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = (char)(1 + i % 200);
  std::ostringstream z;
  {
    ZlibEncoder enc(&z, 0); // stored blocks: output in step with the input
    enc.write(pixels.data(), (int)pixels.size());
    enc.finish();
  }
  std::string packed;
  for (size_t i = 0; i < pixels.size(); i += 128)
    packed += (char)127 + pixels.substr(i, 128);
  const std::string deflated = z.str().substr(0, z.str().size() / 2);
  const std::string packedHalf = packed.substr(0, packed.size() / 2);
  const TiffField w64{256, 4, {(uint32_t)w}}, h16{257, 4, {(uint32_t)h}}, b8{258, 3, {8}},
      off{273, 4, {8}}, black0{262, 3, {1}};
  auto page = [](std::vector<TiffField> fields, const std::string& data) {
    TiffBuilder b;
    b.data(data);
    b.ifd(fields);
    return b.str();
  };
  const struct Case {
    const char* name;
    std::string file;
  } cases[] = {
      {"uncompressed, no byte count", page({w64, h16, b8, off, black0}, pixels.substr(0, 300))},
      {"deflate, truncated",
       page({w64, h16, b8, off, black0, {259, 3, {8}}, {279, 4, {(uint32_t)deflated.size()}}},
            deflated)},
      {"PackBits, truncated",
       page({w64, h16, b8, off, black0, {259, 3, {32773}}, {279, 4, {(uint32_t)packedHalf.size()}}},
            packedHalf)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      // an image of the same size freed just before
      Image stale;
      ASSERT_EQ(readBytes(plainPage(w, h, 1, 8, std::string(w * h, '\xee'), {black0}), stale), 1);
    }
    Image img;
    testing::internal::CaptureStderr();
    ASSERT_EQ(readBytes(c.file, img), 1);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(img.w, w);
    ASSERT_EQ(img.h, h);
    size_t zeros = 0, kept = 0;
    for (int i = 0; i < w * h; ++i) {
      const uint8_t v = img.getRawData()[i];
      if (v == 0)
        ++zeros;
      else if (v == (uint8_t)pixels[i])
        ++kept;
      else if (v == 0xee) {
        ADD_FAILURE() << "stale byte at " << i;
        break;
      }
    }
    EXPECT_GT(zeros, 0u);
    EXPECT_GT(kept, 0u);
  }
}

TEST(TIFFRead, FieldRoutines)
{
  EXPECT_EQ(typeSize(5), 8);
  EXPECT_EQ(typeSize(8), 2);
  EXPECT_THROW(typeSize(13), std::runtime_error);
  std::stringstream s;
  tiffWrite<uint16_t>(&s, true, 0x1234);
  tiffWrite<int32_t>(&s, false, -5);
  tiffWriteArray(&s, true, 10, {-7.9});
  EXPECT_EQ(s.str().substr(0, 2), le({0x12, 0x34}));
  EXPECT_EQ(tiffRead<uint16_t>(&s, true), 0x1234);
  EXPECT_EQ(tiffRead<int32_t>(&s, false), -5);
  EXPECT_EQ(tiffReadArray(&s, true, 10, 1), std::vector<double>{-7});
  EXPECT_THROW(tiffRead<uint8_t>(&s, false), std::runtime_error);

  std::istringstream rationals(le({10, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(tiffReadArray(&rationals, false, 5, 2), (std::vector<double>{0, 4}));
  std::istringstream strs(std::string("ab\0\0cd", 6));
  testing::internal::CaptureStderr();
  EXPECT_EQ(tiffReadStrArray(&strs, false, 2, 6), (std::vector<std::string>{"ab", "", "cd"}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "last str not 0-terminated?\n");

  TiffBuilder b(true);
  const uint32_t first = b.ifd({{256, 4, {1}}});
  const uint32_t second = b.ifd({{256, 4, {1}}, {257, 4, {1}}});
  std::istringstream chain(b.str());
  chain.seekg(first);
  EXPECT_EQ(seekNextIFD(&chain, true), second);
  EXPECT_EQ(chain.tellg(), second);
  EXPECT_EQ(seekNextIFD(&chain, true), 0u);
}

// Geometry fields may come in any field type (rationals read as whole
// quotients, as everywhere in the reader). Each is taken as a whole
// number from 0 to 2^32 - 1; a fraction (which used to truncate to a zero
// divisor), a negative or a non-finite value is refused with a line naming
// the field.
TEST(TIFFRead, GeometryFieldsInEveryFieldType)
{
  // Little-endian bytes of one value of a field type.
  auto encode = [](uint16_t type, double v) {
    std::string out;
    auto put = [&out](uint64_t bits, int n) {
      for (int i = 0; i < n; ++i)
        out += (char)(bits >> (8 * i));
    };
    switch (type) {
    case 1: case 6: put((uint64_t)(int64_t)v, 1); break;
    case 3: case 8: put((uint64_t)(int64_t)v, 2); break;
    case 4: case 9: put((uint64_t)(int64_t)v, 4); break;
    case 5: case 10: put((uint64_t)(int64_t)(v * 2), 4); put(2, 4); break;
    case 11: { float f = (float)v; uint32_t b; memcpy(&b, &f, 4); put(b, 4); } break;
    case 12: { uint64_t b; memcpy(&b, &v, 8); put(b, 8); } break;
    }
    return out;
  };
  const struct { uint16_t tag; const char* name; double good; } tags[] = {
    {256, "ImageWidth", 4}, {257, "ImageLength", 2}, {322, "TileWidth", 4}, {323, "TileLength", 2}};
  const struct { uint16_t type; bool isSigned, fractions; } types[] = {
    {1, false, false}, {3, false, false}, {4, false, false}, {5, false, false}, {6, true, false},
    {8, true, false},  {9, true, false},  {10, true, false}, {11, true, true}, {12, true, true}};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const auto& t : tags) {
    for (const auto& ty : types) {
      std::vector<double> values = {t.good};
      if (ty.fractions)
        values.insert(values.end(), {0.5, 0.999, 2.5});
      if (ty.isSigned)
        values.push_back(-1);
      if (ty.type >= 11)
        values.insert(values.end(), {nan, std::numeric_limits<double>::infinity()});
      for (double v : values) {
        SCOPED_TRACE(std::string(t.name) + " type " + std::to_string(ty.type) + " value " +
                     std::to_string(v));
        TiffBuilder b;
        const uint32_t pixels = b.data("abcdefgh");
        const std::string bytes = encode(ty.type, v);
        TiffField field{t.tag, ty.type, {}, 1};
        if (bytes.size() <= 4) {
          uint32_t inline_ = 0;
          for (size_t i = 0; i < bytes.size(); ++i)
            inline_ |= (uint32_t)(unsigned char)bytes[i] << (8 * i);
          field.offset = inline_;
        } else {
          field.offset = b.data(bytes);
        }
        std::vector<TiffField> fields = {{256, 4, {4}}, {257, 4, {2}}, {258, 3, {8}},
                                         {262, 3, {1}}};
        if (t.tag >= 322)
          fields.insert(fields.end(), {{322, 4, {4}}, {323, 4, {2}}, {324, 4, {pixels}},
                                       {325, 4, {8}}});
        else
          fields.insert(fields.end(), {{273, 4, {pixels}}, {279, 4, {8}}});
        for (TiffField& f : fields)
          if (f.tag == t.tag)
            f = field;
        b.ifd(fields);
        Image img;
        testing::internal::CaptureStderr();
        const int r = readBytes(b.str(), img);
        const std::string err = testing::internal::GetCapturedStderr();
        if (v == t.good) {
          ASSERT_EQ(r, 1) << err;
          ASSERT_EQ(img.w, 4);
          ASSERT_EQ(img.h, 2);
          EXPECT_EQ(std::string((const char*)img.getRawData(), 4), "abcd");
          EXPECT_EQ(std::string((const char*)img.getRawData() + img.stride(), 4), "efgh");
        } else {
          EXPECT_EQ(r, 0);
          EXPECT_NE(err.find(std::string("invalid ") + t.name + ": "), std::string::npos) << err;
        }
      }
    }
  }
}
