#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "filters/optimize2bw.hh"
#include "image/Colorspace.hh"
#include "tests/support/Pages.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

bool onlyBlackAndWhite(const Image& img)
{
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x) {
      const int v = sampleAt(img, x, y);
      if (v != 0 && v != 255)
        return false;
    }
  return true;
}

// Share of stroke pixels (away from their edges) that came out black, and
// of paper pixels (away from strokes) that came out white.
void scorePage(const Image& out, const std::vector<pages::Rect>& strokes, double& strokeBlack,
               double& paperWhite)
{
  int64_t s = 0, sb = 0, p = 0, pw = 0;
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x) {
      const int v = sampleAt(out, x, y);
      if (pages::inside(strokes, x, y)) {
        ++s;
        sb += v == 0;
      } else if (!pages::inside(strokes, x, y, 3)) {
        ++p;
        pw += v == 255;
      }
    }
  strokeBlack = s ? (double)sb / s : 1;
  paperWhite = p ? (double)pw / p : 1;
}

} // namespace

TEST(Optimize2bw, StretchOfUniformPageGivesTheWeightedWhite)
{
  for (int spp : {1, 3, 4}) {
    Image img = uniform(8, 6, spp, 8, 200);
    optimize2bw(img, 0, 0, 128, 0, 0, 2.1);
    ASSERT_EQ(img.spp, 1);
    ASSERT_EQ(img.bps, 8);
    EXPECT_EQ(img.rowStride, 0u);
    // 28 + 59 + 11 = 98: full white is 249.
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x)
        ASSERT_EQ(sampleAt(img, x, y), 249) << spp;
  }
}

TEST(Optimize2bw, StretchBetweenHistogramPoints)
{
  // Peak 240 (L = 239), first bin with two pixels 30: low = 30, high = 239,
  // scale 65280 / 209 = 312.
  Image img = makeImage(10, 10, 1, 8, 12);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      setSampleAt(img, x, y, 0, 240);
  setSampleAt(img, 0, 0, 0, 10); // alone: not a first bin
  setSampleAt(img, 1, 0, 0, 30);
  setSampleAt(img, 2, 0, 0, 30);
  setSampleAt(img, 3, 0, 0, 100);
  optimize2bw(img, 0, 0, 0, 0, 0, 0);
  auto stretch = [](int v) {
    int s = std::min(std::max((v - 30) * 312 / 256, 0), 255);
    return (28 * s + 59 * s + 11 * s) / 100;
  };
  EXPECT_EQ(sampleAt(img, 0, 0), stretch(10));
  EXPECT_EQ(sampleAt(img, 1, 0), stretch(30));
  EXPECT_EQ(sampleAt(img, 3, 0), stretch(100));
  EXPECT_EQ(sampleAt(img, 5, 5), stretch(240));

  // Explicit points win; equal points make a threshold instead of a
  // division by zero.
  Image t = makeImage(3, 1, 1, 8, 0);
  setSampleAt(t, 0, 0, 0, 99);
  setSampleAt(t, 1, 0, 0, 100);
  setSampleAt(t, 2, 0, 0, 101);
  optimize2bw(t, 100, 100, 0, 0, 0, 0);
  EXPECT_EQ(sampleAt(t, 0, 0), 0);
  EXPECT_EQ(sampleAt(t, 1, 0), 0);
  EXPECT_EQ(sampleAt(t, 2, 0), 249);
}

TEST(Optimize2bw, StretchMatchesNumpy)
{
  REQUIRE_TOOL(python, "python3");
  TempDir dir;
  Image img = makeImage(64, 48, 3, 8, 0);
  fillPattern(img, 11);
  for (int y = 0; y < 48; ++y) // a paper-like peak
    for (int x = 0; x < 40; ++x)
      for (int c = 0; c < 3; ++c)
        setSampleAt(img, x, y, c, 215 + c * 5);
  ASSERT_TRUE(writePNM(img, dir.file("in.ppm")));
  optimize2bw(img, 0, 0, 0, 0, 0, 0);
  const std::string script = R"(
import numpy as np, sys
d = open(sys.argv[1], 'rb').read().split(b'\n', 3)
w, h = map(int, d[1].split()); a = np.frombuffer(d[3], np.uint8).reshape(h, w, 3).astype(np.int64)
hist = [np.bincount(a[:, :, c].ravel(), minlength=256) for c in range(3)]
first = next((v for v in range(256) if any(hist[c][v] >= 2 for c in range(3))), 255)
pk = [int(np.argmax(hist[c])) for c in range(3)]
L = int((pk[0] * 0.21267 + pk[1] * 0.71516) + pk[2] * 0.07217)
lo = max(min(L - 128, first), 0); hi = min(max(L, lo + 128), 255)
sc = 65280 // (hi - lo)
s = np.clip(np.trunc((a - lo) * sc / 256), 0, 255).astype(np.int64)
g = (28 * s[:, :, 0] + 59 * s[:, :, 1] + 11 * s[:, :, 2]) // 100
open(sys.argv[2], 'wb').write(b'P5\n%d %d\n255\n' % (w, h) + g.astype(np.uint8).tobytes())
)";
  ASSERT_TRUE(writeFile(dir.file("s.py"), script));
  ASSERT_EQ(run(python + " " + dir.file("s.py") + " " + dir.file("in.ppm") + " " + dir.file("out.pgm")), 0);
  Image want;
  ASSERT_TRUE(readPNM(want, dir.file("out.pgm")));
  EXPECT_TRUE(samePixels(img, want));
}

// Gray pages are stretched without a detour through RGB; the result is the
// one the same page widened to RGB gives, to the bit, whatever the rows'
// padding, the points and the sharpening.
TEST(Optimize2bw, GrayPagesGiveWhatTheirRGBTwinsGive)
{
  const std::vector<pages::Rect> strokes = pages::textStrokes(300, 200, 12);
  Image scan = pages::grayPage(300, 200, strokes);
  Image noisy = makeImage(97, 61, 1, 8, 0);
  fillPattern(noisy, 5);
  const struct {
    const char* name;
    const Image* page;
    unsigned padding;
    int low, high, radius;
  } cases[] = {
      {"page", &scan, 0, 0, 0, 0},         {"page, sharpened", &scan, 0, 0, 0, 3},
      {"page, padded rows", &scan, 5, 0, 0, 1}, {"noise", &noisy, 3, 0, 0, 3},
      {"noise, points", &noisy, 0, 40, 200, 0}, {"noise, one point", &noisy, 0, 0, 90, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Image gray = makeImage(c.page->w, c.page->h, 1, 8, c.page->w + c.padding);
    for (int y = 0; y < gray.h; ++y)
      for (int x = 0; x < gray.w; ++x)
        setSampleAt(gray, x, y, 0, sampleAt(*c.page, x, y));
    Image rgb = gray;
    colorspace_by_name(rgb, "rgb8", 127);
    ASSERT_EQ(rgb.spp, 3);
    optimize2bw(gray, c.low, c.high, 0, 0, c.radius, 2.1);
    optimize2bw(rgb, c.low, c.high, 0, 0, c.radius, 2.1);
    EXPECT_EQ(gray.rowStride, 0u);
    EXPECT_TRUE(samePixels(gray, rgb));
  }
}

TEST(Optimize2bw, BilevelImagesStayAsTheyAre)
{
  for (auto f : {+[](Image& i) { optimize2bw(i); }, +[](Image& i) { optimize2bw2(i); },
                 +[](Image& i) { optimize2bw3(i); }}) {
    Image img = makeImage(19, 5, 1, 1, 0);
    fillPattern(img, 2);
    Image before = img;
    img.pixelsDirty = false;
    f(img);
    EXPECT_EQ(img.bps, 1);
    EXPECT_TRUE(samePixels(img, before));
    EXPECT_FALSE(img.pixelsDirty);
  }
}

TEST(Optimize2bw, UnsharpMaskKeepsFlatAreasAndRaisesEdges)
{
  Image img = makeImage(40, 40, 1, 8, 0);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      setSampleAt(img, x, y, 0, x < 15 ? 60 : 230);
  optimize2bw(img, 0, 0, 0, 0, 3, 2.1);
  // stretch: first 60, peak 230, low 60, high 229 -> 0 and 249
  EXPECT_EQ(sampleAt(img, 5, 20), 0);
  EXPECT_GE(sampleAt(img, 30, 20), 248);
  EXPECT_LE(sampleAt(img, 30, 20), 249);
  EXPECT_GT(sampleAt(img, 15, 20), 249); // overshoot at the edge
  EXPECT_EQ(sampleAt(img, 14, 20), 0);   // undershoot clamped
}

TEST(Optimize2bw2, UniformPagesUseTheNeutralThreshold)
{
  for (int v : {128, 129}) {
    Image img = uniform(70, 40, 1, 8, v);
    img.pixelsDirty = false;
    optimize2bw2(img);
    EXPECT_TRUE(img.pixelsDirty);
    EXPECT_EQ(sampleAt(img, 35, 20), v <= 128 ? 0 : 255);
    EXPECT_TRUE(onlyBlackAndWhite(img));
  }
}

TEST(Optimize2bw2, EdgeAndStepLimits)
{
  // Two columns of values: the pair at the boundary marks its darker pixel
  // from a difference of 33; steps of 40 teach the tile their midpoint.
  struct Case {
    int left, right;
    bool edgeMarked, leftBlack;
  };
  const Case cases[] = {{140, 172, false, false}, {140, 173, true, false}, {141, 180, true, false},
                        {140, 180, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.left) + "/" + std::to_string(c.right));
    Image img = makeImage(20, 20, 1, 8, 0);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x)
        setSampleAt(img, x, y, 0, x < 10 ? c.left : c.right);
    optimize2bw2(img);
    EXPECT_EQ(sampleAt(img, 9, 10) == 0, c.edgeMarked);
    EXPECT_EQ(sampleAt(img, 3, 10) == 0, c.leftBlack);
    EXPECT_EQ(sampleAt(img, 15, 10), 255);
  }
}

TEST(Optimize2bw2, TextOnUnevenPaper)
{
  const int w = 600, h = 400;
  const auto strokes = pages::textStrokes(w, h);
  for (int spp : {1, 3}) {
    Image page = pages::grayPage(w, h, strokes);
    if (spp == 3) {
      Image rgb = makeImage(w, h, 3, 8, 0);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          for (int c = 0; c < 3; ++c)
            setSampleAt(rgb, x, y, c, sampleAt(page, x, y));
      page = rgb;
    }
    optimize2bw2(page);
    ASSERT_EQ(page.spp, 1);
    ASSERT_EQ(page.bps, 8);
    ASSERT_TRUE(onlyBlackAndWhite(page));
    double strokeBlack, paperWhite;
    scorePage(page, strokes, strokeBlack, paperWhite);
    EXPECT_GT(strokeBlack, 0.99) << spp;
    EXPECT_GT(paperWhite, 0.99) << spp;
  }
}

TEST(Optimize2bw2, KeepsStrokesInADarkCorner)
{
  const int w = 400, h = 300;
  const auto strokes = pages::textStrokes(w, h, 20, 9);
  Image page = pages::grayPage(w, h, strokes, 20);
  // A shadowed corner: paper 90, ink 20 — a global threshold of 128 would
  // lose the text there.
  for (int y = h / 2; y < h; ++y)
    for (int x = w / 2; x < w; ++x)
      page.data[(uint64_t)y * w + x] = pages::inside(strokes, x, y) ? 20 : 90;
  optimize2bw2(page);
  int64_t paper = 0, paperWhite = 0, ink = 0, inkBlack = 0;
  for (int y = h / 2 + 40; y < h; ++y)
    for (int x = w / 2 + 40; x < w; ++x) {
      if (pages::inside(strokes, x, y)) {
        ++ink;
        inkBlack += sampleAt(page, x, y) == 0;
      } else if (!pages::inside(strokes, x, y, 3)) {
        ++paper;
        paperWhite += sampleAt(page, x, y) == 255;
      }
    }
  ASSERT_GT(ink, 0);
  EXPECT_GT((double)inkBlack / ink, 0.99);
  EXPECT_GT((double)paperWhite / paper, 0.9);
}

namespace {

// The binariser's tile learning written out plainly: every ring of every
// tile, no shortcut.
Image plainOptimize2bw2(const Image& gray)
{
  const int w = gray.w, h = gray.h;
  auto s = [&](int x, int y) { return (int)gray.data[(uint64_t)y * w + x]; };
  Image out;
  out = gray;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      out.data[(uint64_t)y * w + x] = 255;
  auto mark = [&](int ax, int ay, int bx, int by) {
    const int d = s(ax, ay) - s(bx, by);
    if (d >= 33)
      out.data[(uint64_t)by * w + bx] = 0;
    else if (d < -32)
      out.data[(uint64_t)ay * w + ax] = 0;
  };
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x < w; ++x)
      mark(x, y, x, y + 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x + 1 < w; ++x)
      mark(x, y, x + 1, y);
  const int cols = (w + 31) / 32, rows = (h + 31) / 32;
  std::vector<int64_t> sum(cols * rows), cnt(cols * rows);
  std::vector<int> borrowed(cols * rows);
  auto step = [&](int p, int a, int b, bool more, int n, int t) {
    int d = b - a, d2 = b - p;
    if ((d2 < 0 && d2 < d) || (d2 >= 1 && d2 > d)) { a = p; d = d2; }
    if (more) {
      int d3 = n - b;
      if ((d < 0 && d3 < d) || (d >= 1 && d3 > d)) return;
    }
    if (d < -39 || d > 39) { sum[t] += (a + b) >> 1; cnt[t]++; }
  };
  for (int y = 1; y < h - 1; ++y) {
    for (int x = 1; x < w - 1; ++x)
      step(s(x - 1, y), s(x, y), s(x + 1, y), x < w - 2, x < w - 2 ? s(x + 2, y) : 0, y / 32 * cols + x / 32);
    for (int x = 0; x < w; ++x)
      step(s(x, y - 1), s(x, y), s(x, y + 1), y < h - 2, y < h - 2 ? s(x, y + 2) : 0, y / 32 * cols + x / 32);
  }
  for (int ty = 0; ty < rows; ++ty)
    for (int tx = 0; tx < cols; ++tx) {
      const int t = ty * cols + tx;
      if (cnt[t] >= 32) continue;
      for (int r = 1; r < cols && cnt[t] <= 31; ++r)
        for (int k = 0; k <= r; ++k) {
          const int cand[4][3] = {{ty - r + k, tx - k, 1}, {ty - r + k, tx + k, k > 0},
                                  {ty + r - k, tx - k, k < r}, {ty + r - k, tx + k, k > 0 && k < r}};
          for (auto& c : cand) {
            if (!c[2] || c[0] < 0 || c[0] >= rows || c[1] < 0 || c[1] >= cols) continue;
            const int o = c[0] * cols + c[1];
            if (cnt[o] > 0 && !borrowed[o]) { sum[t] += sum[o]; cnt[t] += cnt[o]; borrowed[t] = 1; }
          }
        }
      if (!borrowed[t]) { cnt[t]++; sum[t] += 128; borrowed[t] = 1; }
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int t = y / 32 * cols + x / 32;
      if (s(x, y) <= sum[t] / cnt[t]) out.data[(uint64_t)y * w + x] = 0;
    }
  return out;
}

} // namespace

TEST(Optimize2bw2, BorrowingShortcutGivesThePlainResult)
{
  struct Case {
    const char* what;
    int w, h;
    int textRows; // lines of text only in the top textRows pixels
  };
  const Case cases[] = {{"blank", 330, 250, 0}, {"sparse", 400, 330, 80}, {"full", 330, 260, 260},
                        {"narrow", 30, 200, 200}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto strokes = pages::textStrokes(c.w, c.textRows, 12, 5);
    Image page = pages::grayPage(c.w, c.h, strokes);
    Image want = plainOptimize2bw2(page);
    optimize2bw2(page);
    EXPECT_TRUE(samePixels(page, want));
  }
}

TEST(Optimize2bw2, PaddedRowsGiveTheTightResult)
{
  const auto strokes = pages::textStrokes(90, 70, 10, 2);
  Image tight = pages::grayPage(90, 70, strokes);
  Image padded = makeImage(90, 70, 1, 8, 101);
  for (int y = 0; y < 70; ++y)
    for (int x = 0; x < 90; ++x)
      setSampleAt(padded, x, y, 0, sampleAt(tight, x, y));
  optimize2bw2(tight);
  optimize2bw2(padded);
  EXPECT_EQ(padded.rowStride, 0u);
  EXPECT_TRUE(samePixels(padded, tight));
}

TEST(Optimize2bw3, BinarisesTextOnUnevenPaper)
{
  const int w = 600, h = 520;
  const auto strokes = pages::textStrokes(w, h);
  Image page = pages::grayPage(w, h, strokes);
  optimize2bw3(page);
  ASSERT_EQ(page.spp, 1);
  ASSERT_TRUE(onlyBlackAndWhite(page));
  double strokeBlack, paperWhite;
  scorePage(page, strokes, strokeBlack, paperWhite);
  EXPECT_GT(strokeBlack, 0.99);
  EXPECT_GT(paperWhite, 0.99);
}
