// Page-orientation detection on a black-and-white working copy. Dark
// connected regions stand for characters; chains of neighbouring regions
// tell horizontal from vertical writing, and the shape of each text line
// (where the tops and bottoms of its characters gather, and which side its
// dots and accents sit on) tells upright from upside-down.
#include "deskew/Orientation.hh"

#include <algorithm>
#include <cmath>
#include <list>
#include <memory>
#include <vector>

#include "filters/cluster.hh"
#include "filters/color_mode.hh"
#include "filters/lut.hh"
#include "filters/optimize2bw.hh"
#include "image/Colorspace.hh"
#include "image/Rotate.hh"

namespace {

typedef std::list<cluster*> Regions;

int widthOf(const cluster* c) { return c->x2 + 1 - c->x1; }
int heightOf(const cluster* c) { return c->y2 + 1 - c->y1; }

// A dot or accent of cur: less than half as tall, within cur's columns
// (2 pixels of slack) and wholly above or below it.
bool isMark(const cluster* cand, const cluster* cur)
{
  return heightOf(cand) < heightOf(cur) / 2 && cand->x1 >= cur->x1 - 2 && cand->x2 <= cur->x2 + 2 &&
         (cand->y2 < cur->y1 || cand->y1 > cur->y2);
}

// Regions of black pixels that may be characters: not too large, not too
// small, not part of a dense dark area and not a thin rule.
void collectRegions(Image& work, int maxSize, int minPoints, std::vector<std::unique_ptr<cluster>>& owned,
                    std::vector<cluster*>& regions)
{
  const int w = work.w, h = work.h;
  const uint8_t* data = work.getRawData();
  const uint64_t stride = work.stride();
  std::vector<uint8_t> visited((size_t)w * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // A pixel already taken would only give a region without points,
      // which the size test discards anyway.
      if (data[(uint64_t)y * stride + x] != 0 || visited[(size_t)y * w + x] == 2)
        continue;
      std::unique_ptr<cluster> c(new cluster(work, x, y, visited.data(), 0, 0));
      const int cw = widthOf(c.get()), ch = heightOf(c.get());
      if (cw > maxSize || ch > maxSize || (int64_t)c->points.size() < minPoints)
        continue;
      const int mx = std::max(cw / 2, 2), my = std::max(ch / 2, 2);
      const int bx0 = std::max(c->x1 - mx, 0), bx1 = std::min(c->x2 + mx, w);
      const int by0 = std::max(c->y1 - my, 0), by1 = std::min(c->y2 + my, h);
      int64_t dark = 0;
      for (int yy = by0; yy < by1; ++yy) {
        const uint8_t* row = data + (uint64_t)yy * stride;
        for (int xx = bx0; xx < bx1; ++xx)
          dark += row[xx] < 128;
      }
      const double area = (double)(bx1 - bx0) * (by1 - by0);
      if (dark / area > 0.5 || (cw == 1 && ch >= 4) || (ch == 1 && cw >= 4))
        continue;
      regions.push_back(c.get());
      owned.push_back(std::move(c));
    }
  std::stable_sort(regions.begin(), regions.end(),
                   [](const cluster* a, const cluster* b) { return a->y1 < b->y1; });
}

// Chains of nearest neighbours: links that go right on the same level count
// as horizontal writing, links to a region starting below as vertical.
void chainDirections(const std::vector<cluster*>& sorted, int maxSize, int& totalH, int& totalV)
{
  Regions remaining(sorted.begin(), sorted.end());
  totalH = totalV = 0;
  while (!remaining.empty()) {
    cluster* cur = remaining.front();
    remaining.pop_front();
    int links = 0, hor = 0, ver = 0;
    for (;;) {
      Regions::iterator best = remaining.end();
      float bestScore = 0;
      for (Regions::iterator it = remaining.begin(); it != remaining.end();) {
        cluster* cand = *it;
        if (cand->y1 > cur->y2 + maxSize)
          break;
        if (isMark(cand, cur)) {
          it = remaining.erase(it);
          continue;
        }
        // Overlap is the shared extent, min of the ends minus max of the
        // starts, raised to 0: regions side by side share rows, regions of
        // consecutive lines share columns.
        const int ox = std::max(std::min(cand->x2, cur->x2) - std::max(cand->x1, cur->x1) + 1, 0);
        const int oy = std::max(std::min(cand->y2, cur->y2) - std::max(cand->y1, cur->y1) + 1, 0);
        const int dx = (cand->x1 + widthOf(cand) / 2) - (cur->x1 + widthOf(cur) / 2);
        const int dy = (cand->y1 + heightOf(cand) / 2) - (cur->y1 + heightOf(cur) / 2);
        // Integer centres are 0 or at least 1 apart; coincident ones (a
        // region inside another's box) count as 1 instead of dividing by 0.
        const float dist = std::sqrt((float)dx * dx + (float)dy * dy);
        const float score = (float)(ox + oy) / std::max(dist, 1.0f);
        if (best == remaining.end() || score > bestScore) {
          best = it;
          bestScore = score;
        }
        ++it;
      }
      if (best == remaining.end())
        break;
      cluster* next = *best;
      if (next->y1 <= cur->y2) {
        if (next->x1 > cur->x2)
          ++hor;
      } else {
        ++ver;
      }
      remaining.erase(best);
      ++links;
      cur = next;
    }
    if (links >= 4) {
      totalH += hor;
      totalV += ver;
    }
  }
}

struct Line {
  std::vector<cluster*> members; // characters in reading order, marks among them
};

// Text lines: from the leftmost of the topmost regions, repeatedly the best
// neighbour whose rows fall into the current character's band.
std::vector<Line> buildLines(const std::vector<cluster*>& sorted, int maxSize)
{
  Regions regions(sorted.begin(), sorted.end());
  std::vector<Line> lines;
  while (!regions.empty()) {
    const size_t n = regions.size();
    const size_t look = n < 32 ? 1 : n / 16;
    Regions::iterator start = regions.begin(), it = regions.begin();
    for (size_t i = 0; i < look && it != regions.end(); ++i, ++it)
      if ((*it)->x1 < (*start)->x1)
        start = it;
    cluster* cur = *start;
    regions.erase(start);
    Line line;
    int count = 0;
    for (;;) {
      line.members.push_back(cur);
      Regions::iterator best = regions.end();
      float bestScore = 0;
      for (it = regions.begin(); it != regions.end();) {
        cluster* cand = *it;
        if (cand->y1 > cur->y2 + maxSize)
          break;
        const bool curBig = heightOf(cur) > heightOf(cand);
        const cluster* big = curBig ? cur : cand;
        const cluster* small = curBig ? cand : cur;
        const int bigH = heightOf(big);
        const int lo = (int)(big->y1 - 0.11 * bigH - 1.5), hi = (int)(big->y2 + 0.11 * bigH + 1.5);
        const int s = big->y1 >= small->y1 ? lo : small->y1;
        const int e = big->y2 <= small->y2 ? hi : small->y2;
        if (e < s) {
          ++it;
          continue;
        }
        if (isMark(cand, cur)) {
          cand->parent = cur;
          line.members.push_back(cand);
          it = regions.erase(it);
          continue;
        }
        const float v = (float)(e - s + 1) / (float)(hi - lo + 1);
        const cluster* W = (small->x2 - small->x1) > (big->x2 - big->x1) ? small : big;
        const cluster* N = W == big ? small : big;
        int gap = W->x1 < N->x1 ? N->x1 - W->x2 : W->x1 - N->x2;
        gap = std::max(gap, 0);
        if (gap > 4 * widthOf(W)) {
          ++it;
          continue;
        }
        const float score = v * (1.0f / (float)(gap + 1));
        if (best == regions.end() || score > bestScore) {
          best = it;
          bestScore = score;
        }
        ++it;
      }
      if (best == regions.end())
        break;
      cur = *best;
      regions.erase(best);
      ++count;
    }
    if (count > 2)
      lines.push_back(std::move(line));
  }
  return lines;
}

// Sum of hist over [from, below). The bands of a line spanning few rows
// reach past its histogram; rows there hold no tops or bottoms: 0.
int64_t bandSum(const std::vector<int64_t>& hist, double from, double below)
{
  int64_t s = 0;
  for (int64_t r = std::max<int64_t>((int64_t)from, 0); r < below && r < (int64_t)hist.size(); ++r)
    s += hist[r];
  return s;
}

// The black-and-white working copy: the retry's turned copy thresholded
// again, else a copy of the page, its shadows darkened and paper brightened,
// binarised and inverted when mostly dark. Null when there is nothing to
// work on.
std::unique_ptr<Image> workingCopy(Image& image, Image* work)
{
  std::unique_ptr<Image> owned(work);
  if (owned) {
    colorspace_gray8_threshold(*owned, 127);
  } else {
    if (image.w <= 0 || image.h <= 0 || !image.getRawData() || !image.Type())
      return nullptr;
    owned.reset(new Image(image));
    Image& wk = *owned;
    if (wk.bps < 2) {
      colorspace_by_name(wk, "gray8", 127);
    } else {
      if (wk.spp > 3)
        colorspace_by_name(wk, "rgb8", 127);
      // (i - 2) x 255 / 188: darkens the paper's shadows and brightens it.
      uint8_t t[256];
      for (int i = 0; i < 256; ++i) {
        const double v = i * 1.3563829787234043 - 2.7127659574468086;
        t[i] = (uint8_t)std::min(std::max((int)v, 0), 255);
      }
      lut(wk, t, t, t);
      optimize2bw2(wk);
    }
    autoInvert(wk);
  }
  if (owned->Type() != Image::GRAY8 || owned->w <= 0 || owned->h <= 0)
    return nullptr;
  return owned;
}

// Size limits of a character at the working copy's resolution (0 counts
// as 300 dpi, anything below 200 as 200).
struct CharacterSize {
  int maxSize;   // widest and tallest
  int minPoints; // fewest pixels
};

CharacterSize characterSize(const Image& wk)
{
  int res = wk.resX;
  if (res == 0)
    res = 300;
  if (res < 200)
    res = 200;
  const int minSide = (int)std::ceil(res * 1.5 / 300);
  return {res * 40 / 72, minSide * minSide};
}

// Where a line's characters start and end (rows rounded down to even), and
// the bottom centres of neighbouring characters that sit level, for its
// slope. Marks take no part.
void lineShape(const Line& line, std::vector<int64_t>& hist, std::vector<std::pair<float, float>>& base)
{
  const std::vector<cluster*>& m = line.members;
  auto bump = [&](int row) {
    row &= ~1;
    if (row < 0)
      return;
    if ((size_t)row >= hist.size())
      hist.resize(row + 1, 0);
    ++hist[row];
  };
  for (size_t i = 0; i + 1 < m.size(); ++i) {
    const cluster* cur = m[i];
    const cluster* next = m[i + 1];
    if (cur->parent || next->parent)
      continue;
    const int cw = widthOf(cur), nw = widthOf(next);
    const float dx = (float)((next->x1 + nw / 2) - (cur->x1 + cw / 2));
    const float dy = (float)(next->y2 - cur->y2);
    const float angle = std::atan(dy / (dx == 0 ? 1e-7f : dx));
    if (3 * std::min(cw, nw) >= std::fabs(dx) && std::fabs(angle) <= 0.17453292519943295) {
      base.emplace_back((float)(cur->x1 + cw / 2), (float)cur->y2);
      base.emplace_back((float)(next->x1 + nw / 2), (float)next->y2);
    }
    bump(cur->y1);
    bump(cur->y2);
  }
}

// One line's votes for upright (U) or upside-down (D): where the tops and
// bottoms of its characters gather, then which side its marks sit on.
void voteLine(const Line& line, const std::vector<int64_t>& hist, int& U, int& D)
{
  const std::vector<cluster*>& m = line.members;
  const int64_t n = (int64_t)hist.size();
  int64_t first = 0;
  while (first < n && hist[first] == 0)
    ++first;
  const int64_t span = n - first + 1;
  const float bw = span / 7.0f;
  const int64_t cnt = (int64_t)m.size();
  const double q1 = first + 0.25 * span, q3 = first + 0.75 * span;
  const int64_t S1 = bandSum(hist, std::trunc(q1 - bw / 2), q1 + bw);
  const int64_t S3 = bandSum(hist, std::trunc(q3 - bw / 2), q3 + bw);
  if (S1 * 100 / cnt > 80 || S3 * 100 / cnt > 80) {
    if (S1 >= S3)
      ++D;
    else
      ++U;
  } else {
    const int64_t T = bandSum(hist, (double)first, first + bw);
    const int64_t B = bandSum(hist, std::trunc(n - bw), (double)n);
    if (T * 100 / cnt > 80 || B * 100 / cnt > 80) {
      if (B * 0.66 > T)
        ++U;
      else if (T * 0.66 > B)
        ++D;
    }
  }
  int above = 0, below = 0;
  for (const cluster* c : m)
    if (c->parent) {
      const int64_t mid = (c->y1 + c->y2) / 2 - first;
      if (mid >= span / 2)
        ++below;
      else
        ++above;
    }
  if (above > 2 * below)
    ++U;
  else if (below > 2 * above)
    ++D;
}

// A line's slope in degrees: the mean angle from each baseline point to
// the one five further on (or the next, near the end).
float lineSlope(const std::vector<std::pair<float, float>>& base)
{
  const size_t pts = base.size();
  double sum = 0;
  for (size_t i = 0; i + 1 < pts; ++i) {
    const size_t j = i + 5 < pts ? i + 5 : i + 1;
    float ddx = base[j].first - base[i].first;
    if (ddx == 0)
      ddx = 1e-7f;
    sum += std::atan((base[j].second - base[i].second) / ddx);
  }
  return (float)(sum / (pts - 1) * 180.0 / M_PI);
}

// The verdict from the votes; a tie or too few votes goes by where the ink
// lies (left-aligned text leaves more in the left half), and byHalves
// tells that this made the page upside-down.
int verdict(int U, int D, const std::vector<Line>& lines, int width, bool& byHalves)
{
  byHalves = false;
  if (D > 0 && D * 0.66 > U)
    return 180;
  if (U >= 9 && U * 0.5 > D)
    return 0;
  if (U + D < 6 || U == D)
    return 0;
  int64_t left = 0, right = 0;
  for (const Line& line : lines)
    for (const cluster* c : line.members)
      for (const auto& p : c->points)
        (p.first < width / 2 ? left : right) += 1;
  if (right > 0 && right * 0.75 > left) {
    byHalves = true;
    return 180;
  }
  return 0;
}

} // namespace

int autoRotate2(Image& image, float* skew, bool rotated, Image* work)
{
  std::unique_ptr<Image> owned = workingCopy(image, work);
  if (!owned)
    return 0;
  Image& wk = *owned;
  const CharacterSize size = characterSize(wk);

  std::vector<std::unique_ptr<cluster>> store;
  std::vector<cluster*> regions;
  collectRegions(wk, size.maxSize, size.minPoints, store, regions);

  if (!rotated) {
    int totalH = 0, totalV = 0;
    chainDirections(regions, size.maxSize, totalH, totalV);
    if (totalH + totalV > 8 && totalV > 1.5 * totalH) {
      store.clear();
      regions.clear();
      Image::iterator bg(&wk, false);
      *bg;
      rotate(wk, 90, bg);
      return 90 + autoRotate2(image, skew, true, owned.release());
    }
  }

  const std::vector<Line> lines = buildLines(regions, size.maxSize);
  int U = 0, D = 0;
  std::vector<float> angles;
  for (const Line& line : lines) {
    std::vector<int64_t> hist;
    std::vector<std::pair<float, float>> base;
    lineShape(line, hist, base);
    if (!hist.empty())
      voteLine(line, hist, U, D);
    if (base.size() >= 2)
      angles.push_back(lineSlope(base));
  }

  bool byHalves;
  const int result = verdict(U, D, lines, wk.w, byHalves);
  if (skew && angles.size() >= 4 && !byHalves) {
    std::sort(angles.begin(), angles.end());
    *skew = -angles[angles.size() / 2];
  }
  return result;
}
