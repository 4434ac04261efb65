#include "codecs/PNG.hh"

#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <sstream>
#include <vector>

#include "codecs/Codecs.hh"
#include "math/CRC32.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// Samples the way Pillow's numpy view shows them: sub-byte gray scaled to
// 8 bits except 1-bit (0/1), everything as little-endian u16.
std::string canonical(const Image& img)
{
  std::string out;
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x)
      for (int c = 0; c < img.spp; ++c) {
        int v = sampleAt(img, x, y, c);
        if (img.bps == 2)
          v *= 85;
        else if (img.bps == 4)
          v *= 17;
        out += (char)(v & 0xff);
        out += (char)(v >> 8);
      }
  return out;
}

// "mode w h dpi\n" and the canonical samples as Pillow decodes each file,
// written next to it as FILE.dump: one interpreter for all files.
const char* kPillowDump = R"(
import sys, numpy as np
from PIL import Image
for f in sys.argv[1:]:
    im = Image.open(f)
    if im.mode == 'P':
        im = im.convert('RGB')
    a = np.asarray(im)
    if a.dtype == bool:
        a = a.astype(np.uint8)
    dpi = im.info.get('dpi', (0, 0))[0]
    with open(f + '.dump', 'wb') as out:
        out.write(('%s %d %d %.1f\n' % (im.mode, im.size[0], im.size[1], dpi)).encode())
        out.write(a.astype('<u2').tobytes())
)";

struct Dump {
  std::string header, samples;
};

void runPillowDumps(const std::string& python, const TempDir& dir,
                    const std::vector<std::string>& pngs)
{
  writeFile(dir.file("dump.py"), kPillowDump);
  std::string cmd = python + " " + dir.file("dump.py");
  for (const std::string& f : pngs)
    cmd += " " + f;
  EXPECT_EQ(run(cmd), 0);
}

Dump pillowDump(const std::string& png)
{
  const std::string out = readFile(png + ".dump");
  const size_t nl = out.find('\n');
  if (nl == std::string::npos)
    return {};
  return {out.substr(0, nl), out.substr(nl + 1)};
}

// ImageMagick's 16-bit raw samples, for the types Pillow narrows to 8 bits.
std::string magickDump16(const std::string& convert, const std::string& png, int spp)
{
  std::string raw;
  const char* map = spp == 4 ? "rgba" : spp == 3 ? "rgb" : "gray";
  EXPECT_EQ(run(convert + " " + png + " -depth 16 -endian LSB " + map + ":-", &raw), 0);
  return raw;
}

int readPNG(const std::string& data, Image& img, std::string* err = nullptr)
{
  std::istringstream in(data);
  testing::internal::CaptureStderr();
  const int res = ImageCodec::Read(&in, img, "png");
  const std::string e = testing::internal::GetCapturedStderr();
  if (err)
    *err = e;
  return res;
}

// Builds PNG files chunk by chunk for hostile inputs.
struct PNGBuilder {
  std::string data = std::string("\x89PNG\r\n\x1a\n", 8);
  static std::string be(uint32_t v)
  {
    return {(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v};
  }
  PNGBuilder& chunk(const char* type, const std::string& body, int64_t declared = -1)
  {
    data += be(declared < 0 ? (uint32_t)body.size() : (uint32_t)declared);
    const std::string tb = std::string(type, 4) + body;
    data += tb;
    data += be(crc32Of(tb.data(), tb.size()));
    return *this;
  }
  PNGBuilder& ihdr(uint32_t w, uint32_t h, int depth, int colorType, int interlace = 0)
  {
    return chunk("IHDR", be(w) + be(h) + std::string{(char)depth, (char)colorType, 0, 0,
                                                     (char)interlace});
  }
  static std::string z(const std::string& raw, int windowBits = 15)
  {
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, raw.size()), '\0');
    s.next_in = (Bytef*)raw.data();
    s.avail_in = (uInt)raw.size();
    s.next_out = (Bytef*)&out[0];
    s.avail_out = (uInt)out.size();
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
  }
};

} // namespace

TEST(PNG, OurFilesPassPngcheckAndReadIdenticallyInPillow)
{
  REQUIRE_TOOL(pngcheck, "pngcheck");
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(convert, "convert");
  TempDir dir;
  struct Case {
    int spp, bps;
    const char* pillowMode; // null: compare through ImageMagick's 16-bit output
  } cases[] = {
    {1, 1, "1"}, {1, 2, "L"}, {1, 4, "L"}, {1, 8, "L"}, {1, 16, "I"}, {2, 8, "LA"},
    {3, 8, "RGB"}, {4, 8, "RGBA"}, {3, 16, nullptr}, {4, 16, nullptr},
  };
  std::vector<std::string> paths;
  std::vector<std::unique_ptr<Image>> originals;
  for (const Case& c : cases) {
    const std::string name = std::to_string(c.spp) + "x" + std::to_string(c.bps);
    const std::string path = dir.file(name + ".png");
    Image img = makeImage(29, 7, c.spp, c.bps, 256); // padded rows
    fillPattern(img, c.spp * 100 + c.bps);
    img.setResolution(300, 300);
    originals.emplace_back(new Image(img));
    Image& before = *originals.back();
    ASSERT_TRUE(ImageCodec::Write(path, img, 75)) << name;
    EXPECT_TRUE(samePixels(img, before)) << name << ": the caller's pixels changed";
    paths.push_back(path);

    std::string out;
    EXPECT_EQ(run(pngcheck + " -v " + path, &out), 0) << name << "\n" << out;
    EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
    EXPECT_NE(out.find("pHYs"), std::string::npos) << out;

    Image back;
    EXPECT_EQ(ImageCodec::Read(path, back), 1) << name;
    EXPECT_TRUE(samePixels(back, before)) << name;
    EXPECT_EQ(back.resX, 300); // 11811 pixels per metre
    EXPECT_EQ(back.resY, 300);
    EXPECT_EQ(back.getDecoderID(), "PNG");
  }
  runPillowDumps(python, dir, paths);
  for (size_t i = 0; i < paths.size(); ++i) {
    const Case& c = cases[i];
    if (c.pillowMode) {
      Dump d = pillowDump(paths[i]);
      EXPECT_EQ(d.header, std::string(c.pillowMode) + " 29 7 300.0") << paths[i];
      EXPECT_TRUE(d.samples == canonical(*originals[i])) << paths[i];
    } else {
      EXPECT_TRUE(magickDump16(convert, paths[i], c.spp) == canonical(*originals[i])) << paths[i];
    }
  }
}

TEST(PNG, PillowAndImageMagickFilesReadIdentically)
{
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(convert, "convert");
  TempDir dir;
  const std::string gen = R"(
import sys, numpy as np
from PIL import Image
d = sys.argv[1]
r = np.random.RandomState(5)
Image.fromarray(r.randint(0, 256, (23, 31), dtype=np.uint8)).save(d + '/L.png', dpi=(300, 300))
Image.fromarray(r.randint(0, 256, (23, 31, 2), dtype=np.uint8), 'LA').save(d + '/LA.png')
Image.fromarray(r.randint(0, 256, (23, 31, 3), dtype=np.uint8)).save(d + '/RGB.png', dpi=(600, 150))
Image.fromarray(r.randint(0, 256, (23, 31, 4), dtype=np.uint8)).save(d + '/RGBA.png')
Image.fromarray(r.randint(0, 65536, (23, 31), dtype=np.uint16)).save(d + '/I16.png')
Image.fromarray(r.randint(0, 2, (23, 31), dtype=np.uint8).astype(bool)).save(d + '/bw.png')
p = Image.fromarray(r.randint(0, 256, (23, 31), dtype=np.uint8), 'P')
p.putpalette(list(r.randint(0, 256, 768, dtype=np.uint8)))
p.save(d + '/P8.png')
p16 = Image.fromarray(r.randint(0, 16, (23, 31), dtype=np.uint8), 'P')
p16.putpalette(list(r.randint(0, 256, 48, dtype=np.uint8)))
p16.save(d + '/P4.png')
open(d + '/rgb16.raw', 'wb').write(r.randint(0, 65536, (23, 31, 3), dtype=np.uint16).astype('>u2').tobytes())
open(d + '/g4.raw', 'wb').write(r.randint(0, 256, (23, 31), dtype=np.uint8).tobytes())
)";
  ASSERT_TRUE(writeFile(dir.file("gen.py"), gen));
  ASSERT_EQ(run(python + " " + dir.file("gen.py") + " " + dir.path()), 0);
  ASSERT_EQ(run(convert + " -endian LSB -size 31x23 -depth 16 rgb:" + dir.file("rgb16.raw") +
                " -define png:bit-depth=16 -define png:color-type=2 " + dir.file("RGB16.png")),
            0);
  ASSERT_EQ(run(convert + " -size 31x23 -depth 8 gray:" + dir.file("g4.raw") +
                " -depth 4 -define png:bit-depth=4 -define png:color-type=0 " +
                dir.file("G4.png")),
            0);
  struct Case {
    const char* file;
    int spp, bps, res;
  } cases[] = {
    {"L.png", 1, 8, 300}, {"LA.png", 2, 8, 0},   {"RGB.png", 3, 8, 600}, {"RGBA.png", 4, 8, 0},
    {"I16.png", 1, 16, 0}, {"bw.png", 1, 1, 0},  {"P8.png", 3, 8, 0},    {"G4.png", 1, 4, 0},
    {"RGB16.png", 3, 16, 0}, {"P4.png", 3, 8, 0},
  };
  std::vector<std::string> files;
  for (const Case& c : cases)
    files.push_back(dir.file(c.file));
  runPillowDumps(python, dir, files);
  for (const Case& c : cases) {
    Image img;
    ASSERT_EQ(ImageCodec::Read(dir.file(c.file), img), 1) << c.file;
    EXPECT_EQ(img.spp, c.spp) << c.file;
    EXPECT_EQ(img.bps, c.bps) << c.file;
    EXPECT_EQ(img.resX, c.res) << c.file;
    const std::string expect = c.bps == 16 && c.spp == 3
                                   ? magickDump16(convert, dir.file(c.file), 3)
                                   : pillowDump(dir.file(c.file)).samples;
    EXPECT_TRUE(canonical(img) == expect) << c.file;
  }
  Image rgb;
  ASSERT_EQ(ImageCodec::Read(dir.file("RGB.png"), rgb), 1);
  EXPECT_EQ(rgb.resY, 150); // 5906 pixels per metre
}

// Packed palette indices of 1, 2 and 4 bits, odd widths, interlaced, and
// the 1-bit palette files a barcode generator writes, all pixel-exact
// against Pillow after the palette is applied.
TEST(PNG, PackedPaletteFilesReadLikePillow)
{
  REQUIRE_TOOL(python, "python3");
  REQUIRE_TOOL(convert, "convert");
  REQUIRE_TOOL(zint, "zint");
  TempDir dir;
  const std::string gen = R"(
import sys, numpy as np
from PIL import Image
d = sys.argv[1]
r = np.random.RandomState(9)
for bits in (1, 2, 4):
    n = 1 << bits
    for w, h in ((1, 1), (13, 7), (67, 9)):
        p = Image.fromarray(r.randint(0, n, (h, w), dtype=np.uint8), 'P')
        p.putpalette(list(r.randint(0, 256, 3 * n, dtype=np.uint8)))
        p.save('%s/P%d_%d.png' % (d, bits, w), bits=bits)
g = Image.fromarray(r.randint(0, 4, (5, 11), dtype=np.uint8), 'P')
g.putpalette([0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255])
g.save(d + '/gray2.png', bits=2)
)";
  ASSERT_TRUE(writeFile(dir.file("gen.py"), gen));
  ASSERT_EQ(run(python + " " + dir.file("gen.py") + " " + dir.path()), 0);
  std::vector<std::string> files;
  for (int bits : {1, 2, 4})
    for (int w : {1, 13, 67})
      files.push_back(dir.file("P" + std::to_string(bits) + "_" + std::to_string(w) + ".png"));
  files.push_back(dir.file("gray2.png"));
  ASSERT_EQ(run(convert + " " + dir.file("P4_67.png") +
                " -interlace PNG -define png:color-type=3 " +
                dir.file("adam7.png")),
            0);
  files.push_back(dir.file("adam7.png"));
  ASSERT_EQ(run(zint + " -b 58 -d 'Tolm 0123456789' -o " + dir.file("qr.png")), 0);
  ASSERT_EQ(run(zint + " -b 20 -d ABC-42 --fg=C02040 --bg=F0F0E0 -o " + dir.file("code128.png")),
            0);
  files.push_back(dir.file("qr.png"));
  files.push_back(dir.file("code128.png"));
  runPillowDumps(python, dir, files);
  for (const std::string& f : files) {
    const std::string header = pillowDump(f).header;
    Image img;
    ASSERT_EQ(ImageCodec::Read(f, img), 1) << f;
    ASSERT_EQ(img.bps, 8) << f;
    // Pillow shows every palette file as RGB; a palette of grays reads as gray.
    std::string rgb;
    for (int y = 0; y < img.h; ++y)
      for (int x = 0; x < img.w; ++x)
        for (int c = 0; c < 3; ++c) {
          const int v = sampleAt(img, x, y, img.spp == 1 ? 0 : c);
          rgb += (char)v;
          rgb += '\0';
        }
    EXPECT_EQ(header.substr(0, 4), "RGB ") << f;
    EXPECT_TRUE(rgb == pillowDump(f).samples) << f;
  }
  Image img;
  ASSERT_EQ(ImageCodec::Read(dir.file("gray2.png"), img), 1);
  EXPECT_EQ(img.spp, 1);
  ASSERT_EQ(ImageCodec::Read(dir.file("code128.png"), img), 1);
  EXPECT_EQ(img.spp, 3);
}

TEST(PNG, InterlacedFilesFromImageMagick)
{
  REQUIRE_TOOL(convert, "convert");
  REQUIRE_TOOL(pngcheck, "pngcheck");
  TempDir dir;
  struct Case {
    int w, h, spp, bps, colorType;
  } cases[] = {
    {29, 11, 3, 8, 2}, {1, 1, 3, 8, 2}, {3, 5, 1, 8, 0}, {13, 9, 1, 1, 0}, {10, 17, 1, 4, 0},
    {9, 9, 1, 2, 0},   {7, 6, 4, 8, 6}, {12, 5, 3, 16, 2}, {5, 12, 1, 16, 0}, {2, 9, 4, 16, 6},
  };
  for (const Case& c : cases) {
    const std::string name = std::to_string(c.w) + "x" + std::to_string(c.h) + "_" +
                             std::to_string(c.spp) + "x" + std::to_string(c.bps);
    Image img = makeImage(c.w, c.h, c.spp, c.bps);
    fillPattern(img, c.w * 7 + c.bps);
    ASSERT_TRUE(ImageCodec::Write(dir.file(name + ".png"), img)) << name;
    ASSERT_EQ(run(convert + " " + dir.file(name + ".png") + " -interlace PNG -define png:bit-depth=" +
                  std::to_string(c.bps) + " -define png:color-type=" + std::to_string(c.colorType) +
                  " " + dir.file(name + "-i.png")),
              0);
    std::string out;
    run(pngcheck + " -v " + dir.file(name + "-i.png"), &out);
    ASSERT_NE(out.find(", interlaced"), std::string::npos) << name << out;
    Image back;
    ASSERT_EQ(ImageCodec::Read(dir.file(name + "-i.png"), back), 1) << name;
    EXPECT_TRUE(samePixels(back, img)) << name;
  }
}

TEST(PNG, ImgtoolMatchesImageMagickAlsoFromAPipe)
{
  REQUIRE_TOOL(convert, "convert");
  TempDir dir;
  Image img = makeImage(40, 9, 3, 8);
  fillPattern(img, 9);
  ASSERT_TRUE(ImageCodec::Write(dir.file("x.png"), img));
  std::string ours, piped, magick;
  ASSERT_EQ(run(std::string(IMGTOOL) + " read " + dir.file("x.png"), &ours), 0);
  ASSERT_EQ(run("cat " + dir.file("x.png") + " | " + IMGTOOL + " read -", &piped), 0);
  ASSERT_EQ(run(convert + " " + dir.file("x.png") + " ppm:-", &magick), 0);
  EXPECT_TRUE(ours == magick);
  EXPECT_TRUE(piped == ours);
  std::string pages;
  EXPECT_EQ(run(std::string(IMGTOOL) + " pages " + dir.file("x.png"), &pages), 0);
  EXPECT_EQ(pages, "1\n");

  // And back: imgtool's PNM through our writer, to standard output.
  ASSERT_TRUE(writeFile(dir.file("x.ppm"), magick));
  std::string png, info;
  ASSERT_EQ(run(std::string(IMGTOOL) + " write " + dir.file("x.ppm") + " png:- -r 300", &png), 0);
  ASSERT_TRUE(writeFile(dir.file("y.png"), png));
  ASSERT_EQ(run(std::string(IMGTOOL) + " info " + dir.file("y.png"), &info), 0);
  EXPECT_EQ(info, "40 9 3 8 300 300 PNG 1\n");
}

TEST(PNG, NotAPNGLeavesTheStreamAtItsStart)
{
  std::istringstream in("GIF89a....");
  Image img;
  for (const ImageCodec::loader_ref* e = ImageCodec::firstLoader(); e; e = e->next)
    if (std::string(e->extension) == "png") {
      EXPECT_EQ(e->prototype->readImage(&in, img, ""), 0);
      EXPECT_EQ(in.tellg(), 0);
    }
}

// Pixels per metre read as the nearest whole dpi (writers store 300 dpi as
// 11811, 299.9994 dpi; 11800 is 299.72), and a resolution under 1 dpi as 1,
// not as none. Unit 0 gives only the pixels' aspect ratio: no resolution.
TEST(PNG, ResolutionIsTheNearestWholeDpi)
{
  const struct {
    uint32_t perMetre;
    int dpi;
    char unit = 1;
  } cases[] = {
      {11811, 300},     {11812, 300}, {5906, 150}, {5905, 150},  {23622, 600},
      {39370, 1000},    {2835, 72},   {11800, 300}, {11830, 300}, {11850, 301},
      {11791, 299},     {11792, 300}, {0, 0},       {1, 1},       {4294967295u, 109092169},
      {2835, 0, 0},     {11811, 0, 0},
  };
  for (const auto& c : cases) {
    const std::string phys =
        PNGBuilder::be(c.perMetre) + PNGBuilder::be(c.perMetre / 2) + std::string(1, c.unit);
    const std::string file = PNGBuilder().ihdr(1, 1, 8, 0).chunk("pHYs", phys)
                                 .chunk("IDAT", PNGBuilder::z(std::string(2, '\0'))).data;
    Image img;
    ASSERT_EQ(readPNG(file, img), 1) << c.perMetre;
    EXPECT_EQ(img.resX, c.dpi) << c.perMetre;
  }
}

TEST(PNG, HostileFilesFailCleanly)
{
  const std::string row3 = std::string("\0\1\2\3", 4);
  struct Case {
    const char* what;
    std::string file;
    const char* err; // substring of stderr, or null
  } cases[] = {
    {"huge RGBA16 IHDR", PNGBuilder().ihdr(0x7fffffff, 0x7fffffff, 16, 6)
                      .chunk("IDAT", PNGBuilder::z(std::string(1000, 0))).chunk("IEND", "").data,
     "stride overflow"},
    {"huge gray IHDR", PNGBuilder().ihdr(0x7fffffff, 0x7fffffff, 8, 0)
                           .chunk("IDAT", PNGBuilder::z(std::string(1000, 0))).data,
     "uncompressed deflate stream too short?"},
    {"IHDR length", PNGBuilder().chunk("IHDR", std::string(14, 1)).data, "length mismatch"},
    {"pHYs length", PNGBuilder().ihdr(3, 1, 8, 0).chunk("pHYs", "12345678").data,
     "length mismatch"},
    {"IEND length", PNGBuilder().ihdr(3, 1, 8, 0).chunk("IEND", "x").data, "length mismatch"},
    {"bad zlib", PNGBuilder().ihdr(3, 1, 8, 0).chunk("IDAT", "\x78\x9c\xff\xff\xff\xff").data,
     "error in defalte stream"},
    {"short data", PNGBuilder().ihdr(3, 2, 8, 0).chunk("IDAT", PNGBuilder::z(row3)).data,
     "uncompressed deflate stream too short?"},
    {"IDAT longer than the file",
     PNGBuilder().ihdr(300, 300, 8, 0)
         .chunk("IDAT", PNGBuilder::z(std::string(90300, 7)).substr(0, 100), 0x7ffffff0).data,
     "uncompressed deflate stream too short?"},
    {"no IHDR", PNGBuilder().chunk("IDAT", PNGBuilder::z(row3)).data, "PNG without IHDR"},
    {"palette without PLTE", PNGBuilder().ihdr(3, 1, 8, 3).chunk("IDAT", PNGBuilder::z(row3)).data,
     "indexed PNG but no palette"},
    {"colour type 5", PNGBuilder().ihdr(3, 1, 8, 5).data, "unsupported PNG colour type"},
    {"bit depth 3", PNGBuilder().ihdr(3, 1, 3, 0).data, "unsupported PNG colour type"},
    {"zero width", PNGBuilder().ihdr(0, 1, 8, 0).data, "invalid PNG size"},
    {"interlace method 2", PNGBuilder().ihdr(3, 1, 8, 0, 2).data, "unsupported PNG interlace"},
    {"interlaced, short data", PNGBuilder().ihdr(9, 9, 8, 0, 1)
                                   .chunk("IDAT", PNGBuilder::z(std::string(80, 0))).data,
     "uncompressed deflate stream too short?"},
    {"signature only", PNGBuilder().data, "PNG without IHDR"},
  };
  for (const Case& c : cases) {
    Image img;
    std::string err;
    EXPECT_EQ(readPNG(c.file, img, &err), 0) << c.what;
    if (c.err) {
      EXPECT_NE(err.find(c.err), std::string::npos) << c.what << ": " << err;
    }
    EXPECT_EQ(img.getRawData(), nullptr) << c.what;
  }

  // Every truncation of a valid file: no crash; success only once all the
  // image data is there (the checksum and the chunks after it may be cut).
  Image src = makeImage(50, 20, 3, 8);
  fillPattern(src, 4);
  std::ostringstream os;
  ASSERT_TRUE(ImageCodec::Write(&os, src, "png", ""));
  const std::string full = os.str();
  for (size_t n = 0; n < full.size(); n += 7) {
    Image img;
    const int res = readPNG(full.substr(0, n), img);
    if (n < full.size() - 24) {
      EXPECT_EQ(res, 0) << n;
    } else if (n >= full.size() - 16) {
      EXPECT_EQ(res, 1) << n;
    }
  }
}

TEST(PNG, InflateBombIsBoundedByTheHeader)
{
  // 1000 x 1000 gray8 needs 1001000 bytes; the stream holds 16 MiB.
  const std::string file = PNGBuilder().ihdr(1000, 1000, 8, 0)
                               .chunk("IDAT", PNGBuilder::z(std::string(16 << 20, '\0')))
                               .chunk("IEND", "").data;
  Image img;
  EXPECT_EQ(readPNG(file, img), 1);
  EXPECT_EQ(img.w, 1000);
  EXPECT_EQ(sampleAt(img, 999, 999), 0);
}

TEST(PNG, PaletteIndicesBeyondThePaletteReadAsBlack)
{
  const std::string plte = std::string("\xff\x00\x00\x00\xff\x00", 6); // red, green
  const std::string rows = std::string("\0\0\1\2\xff", 5);
  const std::string file = PNGBuilder().ihdr(4, 1, 8, 3).chunk("PLTE", plte)
                               .chunk("IDAT", PNGBuilder::z(rows)).chunk("IEND", "").data;
  Image img;
  ASSERT_EQ(readPNG(file, img), 1);
  ASSERT_EQ(img.spp, 3);
  const int expect[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 0}, {0, 0, 0}};
  for (int x = 0; x < 4; ++x)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(sampleAt(img, x, 0, c), expect[x][c]) << x << " " << c;

  // A palette of grays expands to gray.
  const std::string grays = std::string("\x10\x10\x10\x80\x80\x80", 6);
  const std::string g = PNGBuilder().ihdr(4, 1, 8, 3).chunk("PLTE", grays)
                            .chunk("IDAT", PNGBuilder::z(rows)).data;
  ASSERT_EQ(readPNG(g, img), 1);
  EXPECT_EQ(img.spp, 1);
  EXPECT_EQ(sampleAt(img, 1, 0), 0x80);
}

TEST(PNG, CgBIIsRawDeflateInBlueGreenRedOrder)
{
  // Two BGRA rows; the second Up-filtered against the first as stored.
  const std::string rows = std::string("\0\x0a\x14\x1e\xff\x02\x01\x01\x01\x00", 10);
  const std::string file = PNGBuilder().chunk("CgBI", std::string(4, 0)).ihdr(1, 2, 8, 6)
                               .chunk("IDAT", PNGBuilder::z(rows, -15)).chunk("IEND", "").data;
  Image img;
  ASSERT_EQ(readPNG(file, img), 1);
  const int expect[2][4] = {{30, 20, 10, 255}, {31, 21, 11, 255}};
  for (int y = 0; y < 2; ++y)
    for (int c = 0; c < 4; ++c)
      EXPECT_EQ(sampleAt(img, 0, y, c), expect[y][c]) << y << " " << c;
}

TEST(PNG, WriterLevelsAndFailures)
{
  Image img = makeImage(64, 64, 1, 8);
  fillPattern(img, 2);
  // The zlib header's level field: 0 for levels 0-1, 1 for 2-5, 2 for 6,
  // 3 for 7-9.
  struct Case {
    int quality, flevel;
  } cases[] = {{0, 3}, {75, 1}, {100, 0}, {50, 1}, {20, 3}, {-50, 3}, {1000, 0}, {123, 0}};
  for (const Case& c : cases) {
    std::ostringstream os;
    ASSERT_TRUE(ImageCodec::Write(&os, img, "png", "", c.quality)) << c.quality;
    const std::string s = os.str();
    const size_t idat = s.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    EXPECT_EQ(((unsigned char)s[idat + 5] >> 6), c.flevel) << c.quality;
    Image back;
    EXPECT_EQ(readPNG(s, back), 1) << c.quality;
    EXPECT_TRUE(samePixels(back, img)) << c.quality;
  }

  // A failed stream is reported.
  std::ostringstream bad;
  bad.setstate(std::ios::badbit);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ImageCodec::Write(&bad, img, "png", ""));
  Image five = makeImage(2, 2, 5, 8);
  std::ostringstream os;
  EXPECT_FALSE(ImageCodec::Write(&os, five, "png", ""));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "unsupported PNG sample count\n");
  Image empty;
  EXPECT_FALSE(ImageCodec::Write(&os, empty, "png", ""));
  TempDir dir;
  EXPECT_FALSE(ImageCodec::Write(dir.file("missing/dir/x.png"), img));
}
