// Contrast stretch and adaptive binarisation.
#include "filters/optimize2bw.hh"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "filters/convolution.hh"
#include "filters/fresh_buffer.hh"
#include "image/Colorspace.hh"
#include "image/Tonal.hh"

namespace {

bool isBilevel(const Image& image) { return image.spp == 1 && image.bps == 1; }

// 256 bins of 8-bit sample values per sample of the image as it is; 16-bit
// samples count by their high byte, sub-byte gray levels at their 0..255
// value (as the conversion to 8 bits will see them).
std::vector<std::vector<uint32_t>> sampleHistogram(Image& image)
{
  if (image.bps >= 8)
    return histogram(image, 256);
  const int levels = 1 << image.bps;
  std::vector<std::vector<uint32_t>> perLevel = histogram(image, levels);
  std::vector<std::vector<uint32_t>> hist(perLevel.size(), std::vector<uint32_t>(256, 0));
  for (size_t c = 0; c < perLevel.size(); ++c)
    for (int i = 0; i < levels && i < (int)perLevel[c].size(); ++i)
      hist[c][i * 255 / (levels - 1)] = perLevel[c][i];
  return hist;
}

} // namespace

void optimize2bw(Image& image, int low, int high, int /*threshold*/, int /*sloppyThreshold*/,
                 int radius, double sd)
{
  if (isBilevel(image) || image.w <= 0 || image.h <= 0 || !image.getRawData() || !image.Type())
    return;
  if (image.bps != 1 && image.bps != 2 && image.bps != 4 && image.bps != 8 && image.bps != 16)
    return;

  const std::vector<std::vector<uint32_t>> hist = sampleHistogram(image);
  if (hist.empty())
    return;
  // 8-bit gray is stretched as it is: widened to RGB it would give each
  // channel the same value and the same histogram, so the same result.
  const bool gray8 = image.spp == 1 && image.bps == 8;
  if (!gray8)
    colorspace_by_name(image, "rgb8", 127);

  // Channels 0..2; a one-channel histogram stands for all three.
  auto bin = [&](int c, int v) { return hist[hist.size() >= 3 ? c : 0][v]; };
  int first = 255;
  bool haveFirst = false;
  int peak[3] = {0, 0, 0};
  uint64_t peakCount[3] = {0, 0, 0};
  for (int v = 0; v < 256; ++v)
    for (int c = 0; c < 3; ++c) {
      const uint64_t n = bin(c, v);
      if (!haveFirst && n >= 2) {
        first = v;
        haveFirst = true;
      }
      if (n > peakCount[c]) {
        peakCount[c] = n;
        peak[c] = v;
      }
    }
  const int L = (int)((peak[0] * 0.21267 + peak[1] * 0.71516) + peak[2] * 0.07217);
  int autoLow = std::max(std::min(L - 128, first), 0);
  int autoHigh = std::min(std::max(L, autoLow + 128), 255);
  if (low)
    autoLow = low;
  if (high)
    autoHigh = high;
  low = autoLow;
  high = autoHigh;
  // Equal points would divide by zero; one step apart makes the stretch a
  // plain threshold at low, which is what such a request can mean.
  if (high == low)
    high = low + 1;
  const int scale = 65280 / (high - low);

  // The stretch of each sample value, and for gray the whole pixel: the
  // three equal channels weigh (28 + 59 + 11) / 100.
  int stretch[256];
  uint8_t grayOut[256];
  for (int v = 0; v < 256; ++v) {
    const int64_t t = ((int64_t)v - low) * scale / 256;
    stretch[v] = (int)std::min<int64_t>(std::max<int64_t>(t, 0), 255);
    grayOut[v] = (uint8_t)((28 + 59 + 11) * stretch[v] / 100);
  }

  uint8_t* data = image.getRawData();
  const int w = image.w;
  const uint64_t inStride = image.stride();
  for (int y = 0; y < image.h; ++y) {
    const uint8_t* in = data + (uint64_t)y * inStride;
    // Output row y starts at y * w, never after its input row.
    uint8_t* out = data + (uint64_t)y * w;
    if (gray8) {
      for (int x = 0; x < w; ++x)
        out[x] = grayOut[in[x]];
      continue;
    }
    for (int x = 0; x < w; ++x) {
      const int r = stretch[in[3 * x]], g = stretch[in[3 * x + 1]], b = stretch[in[3 * x + 2]];
      out[x] = (uint8_t)((28 * r + 59 * g + 11 * b) / 100);
    }
  }
  image.spp = 1;
  image.rowStride = 0;
  image.setRawData();

  if (radius > 0) {
    const float s = (float)sd;
    std::vector<double> h(radius + 1), v(radius + 1);
    for (int i = 0; i <= radius; ++i) {
      const float num = -(float)(i * i);
      h[i] = std::exp((double)num / (2.0 * (double)s * (double)s));
    }
    double tail = 0.0;
    for (int i = 1; i <= radius; ++i)
      tail += h[i];
    const double norm = h[0] + 2 * tail;
    for (int i = 0; i <= radius; ++i) {
      h[i] *= 1.0 / norm;
      v[i] = -h[i];
    }
    decomposable_sym_convolution_matrix(image, h.data(), v.data(), radius, radius, 2.0);
  }
}

namespace {

// The shared first steps of the adaptive binarisers: the page as 8-bit gray
// moves into src, the image becomes white, and both pixels of every
// neighbouring pair that differ by 33 or more get the darker one drawn black.
bool prepareBinarisation(Image& image, Image& src)
{
  if (isBilevel(image) || image.w <= 0 || image.h <= 0 || !image.getRawData() || !image.Type())
    return false;
  if (image.bps != 1 && image.bps != 2 && image.bps != 4 && image.bps != 8 && image.bps != 16)
    return false;
  colorspace_by_name(image, "gray8", 127);
  image.setRawData();
  move_to_fresh_buffer(image, src);
  const int w = image.w, h = image.h;
  // Everything below addresses the source as tight rows.
  if (src.stride() != (unsigned)w)
    src.restride((unsigned)w);
  uint8_t* out = image.data;
  memset(out, 255, (uint64_t)w * h);
  const uint8_t* s = src.data;
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int a = s[(uint64_t)y * w + x], b = s[(uint64_t)(y + 1) * w + x], d = a - b;
      if (d >= 33)
        out[(uint64_t)(y + 1) * w + x] = 0;
      else if (d <= -33)
        out[(uint64_t)y * w + x] = 0;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x + 1 < w; ++x) {
      const int a = s[(uint64_t)y * w + x], b = s[(uint64_t)y * w + x + 1], d = a - b;
      if (d >= 33)
        out[(uint64_t)y * w + x + 1] = 0;
      else if (d <= -33)
        out[(uint64_t)y * w + x] = 0;
    }
  return true;
}

// Visits the 4r tiles at Manhattan distance r from (tx, ty) in the
// binarisers' fixed order; f gets tiles inside the grid only.
template <typename F>
void forRing(int tx, int ty, int r, int cols, int rows, F f)
{
  auto visit = [&](int y, int x) {
    if (x >= 0 && x < cols && y >= 0 && y < rows)
      f((int64_t)y * cols + x);
  };
  for (int k = 0; k <= r; ++k) {
    visit(ty - r + k, tx - k);
    if (k > 0)
      visit(ty - r + k, tx + k);
    if (k < r)
      visit(ty + r - k, tx - k);
    if (k > 0 && k < r)
      visit(ty + r - k, tx + k);
  }
}

struct StepTile {
  uint64_t sum = 0;
  uint32_t count = 0; // 16 bits wrap on dense pages
  uint8_t borrowed = 0;
};

// A steep step between a and b, widened by one pixel backwards when the
// step started there and dropped when it goes on past b.
inline void collectStep(int prev, int a, int b, bool haveNext, int next, StepTile& tile)
{
  int d = b - a;
  const int d2 = b - prev;
  if ((d2 < 0 && d2 < d) || (d2 >= 1 && d2 > d)) {
    a = prev;
    d = d2;
  }
  if (haveNext) {
    const int d3 = next - b;
    if ((d < 0 && d3 < d) || (d >= 1 && d3 > d))
      return;
  }
  if (d < -39 || d > 39) {
    tile.sum += (uint32_t)((a + b) >> 1);
    ++tile.count;
  }
}

} // namespace

void optimize2bw2(Image& image)
{
  Image src;
  if (!prepareBinarisation(image, src))
    return;
  const int w = image.w, h = image.h;
  const uint8_t* s = src.data;
  uint8_t* out = image.data;
  const int cols = (w + 31) / 32, rows = (h + 31) / 32;
  std::vector<StepTile> tiles((size_t)cols * rows);

  for (int y = 1; y + 1 < h; ++y) {
    const uint8_t* row = s + (uint64_t)y * w;
    StepTile* tileRow = &tiles[(size_t)(y / 32) * cols];
    for (int x = 1; x + 1 < w; ++x)
      collectStep(row[x - 1], row[x], row[x + 1], x < w - 2, x < w - 2 ? row[x + 2] : 0,
                  tileRow[x / 32]);
    const uint8_t* up = row - w;
    const uint8_t* down = row + w;
    const bool haveNext = y < h - 2;
    const uint8_t* down2 = haveNext ? down + w : nullptr;
    for (int x = 0; x < w; ++x)
      collectStep(up[x], row[x], down[x], haveNext, haveNext ? down2[x] : 0, tileRow[x / 32]);
  }

  // Tiles that can still lend: collected something and not borrowed yet.
  // Rings beyond the farthest of them, or when none is left, add nothing;
  // skipping them keeps blank pages from scanning every ring of every tile.
  int64_t lenders = 0;
  int bx0 = cols, bx1 = -1, by0 = rows, by1 = -1;
  for (int ty = 0; ty < rows; ++ty)
    for (int tx = 0; tx < cols; ++tx)
      if (tiles[(size_t)ty * cols + tx].count > 0) {
        ++lenders;
        bx0 = std::min(bx0, tx); bx1 = std::max(bx1, tx);
        by0 = std::min(by0, ty); by1 = std::max(by1, ty);
      }
  for (int ty = 0; ty < rows; ++ty)
    for (int tx = 0; tx < cols; ++tx) {
      StepTile& t = tiles[(size_t)ty * cols + tx];
      if (t.count >= 32)
        continue;
      const bool wasLender = t.count > 0;
      const int reach = lenders > 0 ? std::max(std::abs(tx - bx0), std::abs(tx - bx1)) +
                                          std::max(std::abs(ty - by0), std::abs(ty - by1))
                                    : 0;
      for (int r = 1; r < cols && r <= reach && t.count <= 31; ++r)
        forRing(tx, ty, r, cols, rows, [&](int64_t i) {
          const StepTile& o = tiles[i];
          if (o.count > 0 && !o.borrowed) {
            t.sum += o.sum;
            t.count += o.count;
            t.borrowed = 1;
          }
        });
      if (!t.borrowed) {
        t.count += 1;
        t.sum += 128;
        t.borrowed = 1;
      }
      if (wasLender)
        --lenders;
    }

  for (int y = 0; y < h; ++y) {
    const uint8_t* row = s + (uint64_t)y * w;
    uint8_t* o = out + (uint64_t)y * w;
    const StepTile* tileRow = &tiles[(size_t)(y / 32) * cols];
    for (int x = 0; x < w; ++x) {
      const StepTile& t = tileRow[x / 32];
      if (row[x] <= t.sum / t.count)
        o[x] = 0;
    }
  }
  image.setRawData();
}

void optimize2bw3(Image& image)
{
  Image src;
  if (!prepareBinarisation(image, src))
    return;
  const int w = image.w, h = image.h;
  const uint8_t* s = src.data;
  uint8_t* out = image.data;
  const int T = 256;
  const int cols = (w + T - 1) / T, rows = (h + T - 1) / T;
  struct RangeTile {
    int lo = 255, hi = 0, borrowings = 0;
    bool borrowed = false;
  };
  std::vector<RangeTile> tiles((size_t)cols * rows);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      RangeTile& t = tiles[(size_t)(y / T) * cols + x / T];
      const int v = s[(uint64_t)y * w + x];
      t.lo = std::min(t.lo, v);
      t.hi = std::max(t.hi, v);
    }
  // A flat tile (range under 32) widens its range from nearby tiles that
  // have contrast of their own, ring by ring, and stops once the borrowed
  // range has drifted more than 31 from its own either way.
  for (int ty = 0; ty < rows; ++ty)
    for (int tx = 0; tx < cols; ++tx) {
      RangeTile& t = tiles[(size_t)ty * cols + tx];
      if (t.hi - t.lo >= 32)
        continue;
      const int ownLo = t.lo, ownHi = t.hi;
      bool drifted = false;
      for (int r = 1; r < cols && !drifted; ++r)
        forRing(tx, ty, r, cols, rows, [&](int64_t i) {
          const RangeTile& o = tiles[i];
          if (drifted || o.borrowed || o.hi - o.lo < 32)
            return;
          t.lo = std::min(t.lo, o.lo);
          t.hi = std::max(t.hi, o.hi);
          t.borrowed = true;
          ++t.borrowings;
          drifted = ownLo - t.lo > 31 || t.hi - ownHi > 31;
        });
    }
  // Threshold in the middle of the (borrowed) range; a tile that found no
  // contrast anywhere is split at mid-gray.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const RangeTile& t = tiles[(size_t)(y / T) * cols + x / T];
      const int threshold = t.hi - t.lo >= 32 ? (t.lo + t.hi) / 2 : 128;
      if (s[(uint64_t)y * w + x] <= threshold)
        out[(uint64_t)y * w + x] = 0;
    }
  image.setRawData();
}
