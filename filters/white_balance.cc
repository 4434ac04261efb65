// The page is measured on a reduced 8-bit copy: a paper-likeness map
// (brightness less a penalty for local contrast, so that print and its edges
// drop out), the largest region of paper-like levels in it, and the levels
// of the full-resolution pixels under that region. The white point is the
// darkest channel's low percentile of the paper, so that a tinted paper
// comes out neutral as well; ink keeps its place near black.
#include "filters/white_balance.hh"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "filters/cluster.hh"
#include "filters/lut.hh"
#include "image/Colorspace.hh"
#include "image/Crop.hh"
#include "image/ImageIterator.hh"
#include "image/Scale.hh"

namespace {

const int kAnalysisSize = 700; // long side of the reduced copy
const int kMinPaperLevel = 128;
const int kPaperBand = 24;     // paper levels below the peak still joined
const double kMinPaperShare = 0.15;
const double kWhitePercentile = 0.05;

// Brightness less four times the largest step to a 4-neighbour.
void paperLikeness(const Image& work, Image& map)
{
  const int w = work.w, h = work.h, spp = work.spp;
  const unsigned stride = work.stride();
  std::vector<uint8_t> lum((size_t)w * h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = work.data + (uint64_t)y * stride;
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = row + (size_t)x * spp;
      lum[(size_t)y * w + x] = spp >= 3 ? (uint8_t)((11 * p[0] + 16 * p[1] + 5 * p[2]) >> 5) : p[0];
    }
  }
  map.spp = 1;
  map.bps = 8;
  map.resize(w, h, 0);
  const unsigned mstride = map.stride();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int l = lum[(size_t)y * w + x];
      int g = 0;
      if (x > 0) g = std::max(g, std::abs(l - lum[(size_t)y * w + x - 1]));
      if (x + 1 < w) g = std::max(g, std::abs(l - lum[(size_t)y * w + x + 1]));
      if (y > 0) g = std::max(g, std::abs(l - lum[(size_t)(y - 1) * w + x]));
      if (y + 1 < h) g = std::max(g, std::abs(l - lum[(size_t)(y + 1) * w + x]));
      map.data[(uint64_t)y * mstride + x] = (uint8_t)std::max(0, l - 4 * g);
    }
}

// The most frequent paper-like level (counted over a window of +-3 levels).
int paperPeak(const Image& map)
{
  uint64_t hist[256] = {};
  const unsigned stride = map.stride();
  for (int y = 0; y < map.h; ++y)
    for (int x = 0; x < map.w; ++x)
      ++hist[map.data[(uint64_t)y * stride + x]];
  int best = -1;
  uint64_t bestCount = 0;
  for (int v = kMinPaperLevel; v < 256; ++v) {
    uint64_t n = 0;
    for (int d = -3; d <= 3; ++d)
      if (v + d >= 0 && v + d < 256)
        n += hist[v + d];
    if (n > bestCount) {
      bestCount = n;
      best = v;
    }
  }
  return best;
}

} // namespace

void autoWhite(Image& image)
{
  if (image.w <= 0 || image.h <= 0 || !image.getRawData())
    return;
  if (image.bps < 8 || (image.spp != 1 && image.spp != 3 && image.spp != 4) ||
      (image.bps != 8 && image.bps != 16)) {
    fprintf(stderr, "autoWhite: unsupported spp/bps %d/%d\n", image.spp, image.bps);
    return;
  }

  // The reduced 8-bit copy, without a margin of 5 % on every side where a
  // scanner lid or border may show.
  Image work;
  work = image;
  const double f = std::min(1.0, (double)kAnalysisSize / std::max(image.w, image.h));
  if (f < 1.0)
    box_scale(work, f, f);
  colorspace_by_name(work, image.spp == 1 ? "gray8" : "rgb8", 127);
  const int reducedW = work.w, reducedH = work.h;
  const int ox = reducedW / 20, oy = reducedH / 20;
  crop(work, ox, oy, (unsigned)(reducedW - 2 * ox), (unsigned)(reducedH - 2 * oy));
  if (work.w <= 0 || work.h <= 0 || !work.getRawData())
    return;

  Image map;
  paperLikeness(work, map);
  const int peak = paperPeak(map);

  std::vector<uint8_t> visited((size_t)map.w * map.h, 0);
  std::vector<std::pair<int32_t, int32_t>> paper;
  if (peak >= 0) {
    const uint8_t lo = (uint8_t)std::max(kMinPaperLevel, peak - kPaperBand);
    const unsigned stride = map.stride();
    for (int y = 0; y < map.h; ++y)
      for (int x = 0; x < map.w; ++x) {
        const size_t i = (size_t)y * map.w + x;
        if (visited[i] || map.data[(uint64_t)y * stride + x] < lo)
          continue;
        cluster c(map, x, y, visited.data(), lo, 255);
        if (c.points.size() > paper.size())
          paper.swap(c.points);
      }
  }
  const double share = (double)paper.size() / ((double)map.w * map.h);
  if (share < kMinPaperShare) {
    fprintf(stderr, "autoWhite: no paper-like region (largest %.1f%% of the page), left unchanged\n",
            share * 100);
    return;
  }

  // Levels of the full-resolution pixels under the paper region.
  uint64_t hist[3][256] = {};
  const int channels = image.spp == 1 ? 1 : 3;
  Image::iterator it(&image, false);
  for (const auto& p : paper) {
    const int x = std::min(image.w - 1, (int)((int64_t)(p.first + ox) * image.w / reducedW));
    const int y = std::min(image.h - 1, (int)((int64_t)(p.second + oy) * image.h / reducedH));
    Image::iterator px = it.at(x, y);
    *px;
    double rgb[3];
    px.getRGB(rgb[0], rgb[1], rgb[2]);
    for (int c = 0; c < channels; ++c)
      ++hist[c][std::min(255, (int)(rgb[c] * 255 + 0.5))];
  }
  auto percentile = [&](int c, double q) {
    const uint64_t want = (uint64_t)(q * paper.size());
    uint64_t n = 0;
    for (int v = 0; v < 256; ++v) {
      n += hist[c][v];
      if (n > want)
        return v;
    }
    return 255;
  };
  int level[3] = {0, 0, 0}, white = 255;
  for (int c = 0; c < channels; ++c) {
    level[c] = percentile(c, 0.5);
    white = std::min(white, percentile(c, kWhitePercentile));
  }
  if (channels == 1)
    level[1] = level[2] = level[0];
  fprintf(stderr, "autoWhite: paper %.1f%% of the page, level %d %d %d, white point %d\n",
          share * 100, level[0], level[1], level[2], white);
  if (white < kMinPaperLevel || white >= 255)
    return;

  uint8_t table[256];
  for (int i = 0; i < 256; ++i)
    table[i] = i >= white ? 255 : (uint8_t)((i * 255 + white / 2) / white);
  if (image.spp == 1)
    lut(image, table, nullptr, nullptr);
  else
    lut(image, table, table, table);
  image.setRawData();
}
