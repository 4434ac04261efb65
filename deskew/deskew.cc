// Sheet-edge detector for sheet-fed scans: learns the scanner background per
// column from bands at the top and bottom of the scan, finds where each row
// and column first departs from it, fits a line to each sheet edge and turns
// the four lines into a rectangle and a skew angle.
#include "deskew/Deskew.hh"
#include "deskew/SheetCheck.hh"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "image/TypedIterators.hh"
#include "image/PixelType.hh"
#include "math/Averager.hh"
#include "math/Line.hh"
#include "math/LinearRegression.hh"
#include "utility/Saturate.hh"

deskew_rect wholeImageRect(const Image& image)
{
  deskew_rect r;
  r.x = r.y = 0;
  r.width = image.w;
  r.height = image.h;
  r.x_back = r.y_back = 0;
  r.angle = 0;
  return r;
}

namespace {

const double kPi = 3.141592653589793;

typedef std::pair<int32_t, int32_t> point_t;
typedef std::vector<point_t> points_t;

struct cleanup {
  // Drops points near neither their kept predecessor nor their successor.
  static void byNeighbor(points_t& list, const Image&, double distance)
  {
    points_t kept;
    kept.reserve(list.size());
    const double d2 = distance * distance;
    auto near = [d2](const point_t& a, const point_t& b) {
      const double dx = (double)a.first - b.first, dy = (double)a.second - b.second;
      return dx * dx + dy * dy <= d2;
    };
    for (size_t i = 0; i < list.size(); ++i) {
      if ((!kept.empty() && near(kept.back(), list[i])) ||
          (i + 1 < list.size() && near(list[i], list[i + 1])))
        kept.push_back(list[i]);
    }
    list.swap(kept);
  }

  static void byDistance(points_t& list, const LinearRegression<double>& fit, double distance)
  {
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const point_t& p) {
                                return std::fabs(p.first * fit.b + fit.a - p.second) > distance;
                              }),
               list.end());
  }

  // Keeps the points near the straight line that most of them lie on. A
  // side whose edge is hidden over part of its length (print as dark as the
  // background reaching it) gives points on the print's own inner boundary
  // there; a least-squares fit through both would lie between them. Lines
  // within 15 degrees are tried in half-degree steps; points are counted in
  // 4-pixel bins across the side, three bins to a line.
  static void byConsensus(points_t& list, double distance)
  {
    if (list.size() < 3)
      return;
    // Points all near their least-squares line are one edge already.
    LinearRegression<double> all;
    all.addRange(list.begin(), list.end());
    if (std::none_of(list.begin(), list.end(), [&](const point_t& p) {
          return std::fabs(p.first * all.b + all.a - p.second) > distance;
        }))
      return;
    int32_t pLo = list[0].first, pHi = pLo, qLo = list[0].second, qHi = qLo;
    for (const point_t& p : list) {
      pLo = std::min(pLo, p.first);
      pHi = std::max(pHi, p.first);
      qLo = std::min(qLo, p.second);
      qHi = std::max(qHi, p.second);
    }
    const double pMid = (pLo + pHi) / 2.0, reach = (pHi - pLo) / 2.0;
    const double bin = 4, maxSlope = std::tan(15.0 / 180.0 * kPi);
    const double lo = qLo - maxSlope * reach - bin;
    const size_t bins = (size_t)((qHi - qLo + 2 * maxSlope * reach) / bin) + 3;
    std::vector<int32_t> hist(bins);
    int32_t best = -1;
    double bestSlope = 0, bestAt = 0;
    for (int k = -30; k <= 30; ++k) {
      const double slope = std::tan(k * 0.5 / 180.0 * kPi);
      std::fill(hist.begin(), hist.end(), 0);
      for (const point_t& p : list) {
        const double at = (p.second - slope * (p.first - pMid) - lo) / bin;
        ++hist[(size_t)std::max(0.0, std::min(at, (double)bins - 1))];
      }
      for (size_t i = 1; i + 1 < bins; ++i) {
        const int32_t n = hist[i - 1] + hist[i] + hist[i + 1];
        if (n > best) {
          best = n;
          bestSlope = slope;
          bestAt = lo + (i + 0.5) * bin;
        }
      }
    }
    // The half-degree step leaves the line up to a quarter degree off.
    const double slack = distance + bin * 1.5 + reach * std::tan(0.25 / 180.0 * kPi);
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const point_t& p) {
                                return std::fabs(bestAt + bestSlope * (p.first - pMid) - p.second) >
                                       slack;
                              }),
               list.end());
  }
};

// The fit turned to slope `b` about its points' centre.
void setSlope(LinearRegression<double>& fit, double b)
{
  fit.b = b;
  fit.a = fit.sumY / fit.count - b * fit.sumX / fit.count;
}

// Sides turned by less than this (0.2 degree) have too few steps to
// tell their slope by whole pixels.
const double kSmallSlope = std::tan(0.2 / 180 * kPi);

// How a side's points tell its slope. A clean edge turned by a small angle
// is found as a staircase: runs of points at one position, each a pixel on
// from the last. A least-squares line through a few long steps is off by up
// to a pixel over the side's length (0.05 degree on a 150 dpi page), and a
// side with no step at all says only that its angle is under that. Where
// the steps all go one way, the positions at which the first and the last
// occur tell the slope exactly.
enum Steps { Irregular, Flat, Staircase };

Steps staircase(const points_t& list, LinearRegression<double>& fit)
{
  if (list.size() < 3 || fit.count < 3)
    return Irregular;
  int sign = 0, steps = 0, located = 0;
  double p0 = 0, q0 = 0, p1 = 0, q1 = 0;
  for (size_t i = 1; i < list.size(); ++i) {
    const int dq = list[i].second - list[i - 1].second;
    if (dq == 0)
      continue;
    const int s = dq > 0 ? 1 : -1;
    if (sign && s != sign)
      return Irregular;
    sign = s;
    ++steps;
    // A step between neighbouring points is where the edge crosses the
    // middle between the two positions.
    if (std::abs(dq) == 1 && list[i].first - list[i - 1].first <= 2) {
      const double p = (list[i].first + list[i - 1].first) / 2.0;
      const double q = (list[i].second + list[i - 1].second) / 2.0;
      if (!located++) {
        p0 = p;
        q0 = q;
      }
      p1 = p;
      q1 = q;
    }
  }
  if (located < 2 || p1 == p0)
    return steps <= 1 ? Flat : Irregular;
  // Over many short steps the fit through all points is the better
  // measure: one step in a hundred pixels is a side turned by half a degree.
  if ((located - 1) * 100 > p1 - p0)
    return Irregular;
  setSlope(fit, (q1 - q0) / (p1 - p0));
  return Staircase;
}

// Up to three colour channels of a pixel as ints; gray gives its value once
// (the detector's channel count is 1 then). Alpha takes no part.
template <typename T>
struct channels {
  enum { n = T::accu::samples >= 3 ? 3 : 1 };
  static void read(const T& it, int32_t* c)
  {
    const typename T::accu a = *it;
    for (int i = 0; i < n; ++i)
      c[i] = (int32_t)a.v[i];
  }
};

// The working state of one measurement.
template <typename T>
struct detector {
  enum { NC = channels<T>::n };
  // 16-bit bodies work on 16-bit samples: every level scales by 257.
  static const int scale = T::accu::maxval == 65535 ? 257 : 1;

  struct pix {
    int32_t c[3] = {0, 0, 0};
  };

  const int W, H;
  const T src;
  std::vector<pix> bg;        // background per column, as stored in the row
  std::vector<int32_t> tol;   // per-column threshold
  std::vector<uint8_t> light; // background light enough for a shadow walk
  std::vector<int32_t> bgGray; // the background's gray level per column
  std::vector<int32_t> rowShift; // how far each row's background lies from bgGray
  // Columns where a band shows paper (a corner of the sheet), per band.
  std::vector<uint8_t> topPaper, bottomPaper;
  // Distances in pixels from the resolution, set by measure().
  int shadowSpan = 0, borderMin = 0, rowLimit = 0;
  int run = 3; // steps in a row that make an edge

  explicit detector(const Image& image) : W(image.w), H(image.h), src(image) {}

  pix at(int x, int y) const
  {
    pix p;
    channels<T>::read(src.at(x, y), p.c);
    return p;
  }

  int32_t grayAt(int x, int y) const
  {
    const pix p = at(x, y);
    return NC == 3 ? (11 * p.c[0] + 16 * p.c[1] + 5 * p.c[2]) / 32 : p.c[0];
  }

  // Whether rows [from, to) show scanner background: every column alike,
  // bar a few. Paper or print reaching into the band (a sheet that runs off
  // the scan, a page without background) makes it uneven. A turned sheet
  // whose corners graze the scan's border reaches into it in at most two
  // runs of columns, together under half the width: those columns
  // are marked in `paper` and learn nothing from the band.
  bool bandIsBackground(int from, int to, int32_t& level, std::vector<uint8_t>& paper) const
  {
    std::vector<int32_t> col(W), sorted;
    for (int x = 0; x < W; ++x) {
      int64_t sum = 0;
      for (int y = from; y < to; ++y)
        sum += grayAt(x, y);
      col[x] = (int32_t)(sum / (to - from));
    }
    sorted = col;
    std::nth_element(sorted.begin(), sorted.begin() + W / 2, sorted.end());
    const int32_t median = sorted[W / 2];
    level = median;
    paper.assign(W, 0);
    int64_t uneven = 0, runs = 0;
    for (int x = 0; x < W; ++x)
      if (std::abs(col[x] - median) > 40 * scale) {
        paper[x] = 1;
        ++uneven;
        runs += x == 0 || !paper[x - 1];
      }
    if (uneven * 100 <= W) {
      paper.assign(W, 0);
      return true;
    }
    return uneven * 2 < W && runs <= 2;
  }

  // The pixel averaged with its neighbour at (dx, dy).
  pix get(int x, int y, int dx, int dy) const
  {
    pix p = at(x, y);
    if (dx || dy) {
      const pix q = at(x + dx, y + dy);
      for (int i = 0; i < NC; ++i)
        p.c[i] = (p.c[i] + q.c[i]) / 2;
    }
    return p;
  }

  pix getBg(int x, int dx) const
  {
    pix p = bg[x];
    if (dx) {
      const pix& q = bg[x + (dx > 0 ? 1 : -1)];
      for (int i = 0; i < NC; ++i)
        p.c[i] = (p.c[i] + q.c[i]) / 2;
    }
    return p;
  }

  static int32_t largest(const int32_t* d)
  {
    int32_t best = d[0];
    for (int i = 1; i < NC; ++i)
      if (std::abs(d[i]) > std::abs(best))
        best = d[i];
    return best;
  }

  // comparator: the source's departure from the background, 0 below the
  // threshold.
  int32_t compare(int x, int y, int dx, int dy, int32_t threshold) const
  {
    const pix a = getBg(x, dx);
    const pix b = get(x, y, dx, dy);
    int32_t d[3];
    for (int i = 0; i < NC; ++i)
      d[i] = b.c[i] - a.c[i];
    const int32_t r = largest(d);
    return std::abs(r) >= threshold ? r : 0;
  }

  // comparator::shadow: how much the departure from the background grows
  // one step further on.
  int32_t shadow(int x, int y, int dx, int dy) const
  {
    const pix s0 = get(x, y, dx, dy), b0 = getBg(x, dx);
    const pix s1 = get(x + dx, y + dy, dx, dy), b1 = getBg(x + dx, dx);
    int32_t e[3];
    for (int i = 0; i < NC; ++i)
      e[i] = (s1.c[i] - b1.c[i]) - (s0.c[i] - b0.c[i]);
    return largest(e);
  }

  // Walks from (x, y) in direction (dx, dy) while `inside(position)` holds,
  // at most `span` steps; returns the edge moved back by 3 against the walk
  // when the departure keeps growing (the scan hit a shadow), else `edge`.
  // Growing means by more than 3 levels a step over three steps: on paper
  // beyond the edge, the sensor's noise alone makes the growth positive
  // every other time, which would move the edge into the paper by a random
  // distance.
  template <typename Inside>
  int shadowWalk(int x, int y, int dx, int dy, int span, int edge, Inside inside) const
  {
    averager avg(3);
    for (int step = 0; step < span; ++step) {
      const int p = dx ? x : y;
      if (!inside(p))
        break;
      const int32_t v = shadow(x, y, dx, dy);
      int32_t& slot = avg.slots[avg.index % 3];
      avg.sum += v - slot;
      slot = v;
      ++avg.index;
      if (avg.index >= 3 && avg.sum / 3 > 3 * scale)
        return (dx > 0 || dy > 0) ? p - 3 : p + 3;
      x += dx;
      y += dy;
    }
    return edge;
  }

  void sampleBackground(Image& image, int topLines, int bottomLines, bool noBands, bool bothBands)
  {
    // Negative bands contribute no rows.
    const int tl = std::max(topLines, 0), bl = std::max(bottomLines, 0);
    Image row;
    row.copyMeta(image);
    row.rowStride = 0;
    row.resize(W, 1, 0);
    T rowIt(row);

    std::vector<int32_t> top[3], bot[3];
    bg.resize(W);
    tol.assign(W, 0);
    light.assign(W, 0);

    auto push = [&](std::vector<int32_t>* v, int x, int y) {
      const pix p = at(x, y);
      for (int i = 0; i < 3; ++i)
        v[i].push_back(p.c[NC == 3 ? i : 0]);
    };

    std::vector<uint8_t> learnt(W, 1);
    for (int x = 0; x < W;) {
      for (int i = 0; i < 3; ++i) {
        top[i].clear();
        bot[i].clear();
      }
      if (topPaper.empty() || !topPaper[x])
        for (int r = 0; r < tl; ++r)
          push(top, x, r);
      if (bottomPaper.empty() || !bottomPaper[x])
        for (int r = H - bl; r < H; ++r)
          push(bot, x, r);
      if (!noBands && top[0].empty() && bot[0].empty()) {
        // Paper in both bands here: the column takes its neighbour's.
        learnt[x++] = 0;
        continue;
      }

      if (bothBands && !top[0].empty() && !bot[0].empty()) {
        const size_t nt = top[0].size() / 2, nb = bot[0].size() / 2;
        const int32_t t = (top[0][nt] + top[1][nt] + top[2][nt]) / 3;
        const int32_t b = (bot[0][nb] + bot[1][nb] + bot[2][nb]) / 3;
        // Bands this different: the top one probably shows the sheet.
        if (std::abs(t - b) > 85 * scale)
          for (int i = 0; i < 3; ++i)
            top[i].clear();
      }
      for (int i = 0; i < 3; ++i)
        top[i].insert(top[i].end(), bot[i].begin(), bot[i].end());
      if (noBands)
        for (int r = 0; r < H; ++r)
          push(top, x, r);

      double mean[3];
      const int n = (int)top[0].size(), lo = n / 4, hi = 3 * n / 4;
      const int count = hi - lo > 0 ? hi - lo : 1;
      for (int i = 0; i < 3; ++i) {
        std::sort(top[i].begin(), top[i].end());
        int64_t sum = 0;
        for (int k = lo; k < hi; ++k)
          sum += top[i][k];
        mean[i] = (double)sum / count;
      }
      double spread = 0;
      for (int i = 0; i < 3; ++i)
        for (int k = lo; k < hi; ++k)
          spread = std::max(spread, std::fabs(mean[i] - top[i][k]));
      int32_t t = saturate_cast<int32_t>(spread);

      const double s = mean[0] + mean[1] + mean[2];
      int factor, minimum;
      if (s < 255.0 * scale) {
        factor = 6;
        minimum = 16;
      } else if (s > 653.0 * scale) {
        factor = 2;
        minimum = 12;
      } else {
        factor = 3;
        minimum = 16;
      }
      t *= factor;
      if (t < minimum * scale)
        t = minimum * scale;
      else if (t >= 49 * scale)
        t = 48 * scale;

      // The background pixel goes through the row image so that it carries
      // exactly what the pixel type can hold (0 or 255 for one bit).
      typename T::accu a;
      for (int i = 0; i < T::accu::samples; ++i)
        a.v[i] = T::accu::maxval;
      for (int i = 0; i < NC; ++i)
        a.v[i] = (typename T::accu::vtype)mean[i];
      T w = rowIt.at(x, 0);
      w.set(a);
      pix p;
      channels<T>::read(rowIt.at(x, 0), p.c);
      const bool isLight = NC == 3 ? 11 * p.c[0] + 16 * p.c[1] + 5 * p.c[2] >= 2752 * scale
                                   : p.c[0] >= 86 * scale;

      if (noBands) {
        const int from = x == 0 ? 0 : W / 2, to = x == 0 ? W / 2 : W;
        for (int k = from; k < to; ++k) {
          bg[k] = p;
          tol[k] = t;
          light[k] = isLight;
        }
        if (x == W - 1)
          break;
        x = W - 1;
        continue;
      }
      bg[x] = p;
      tol[x] = t;
      light[x] = isLight;
      ++x;
    }
    // Columns that learnt nothing take the background of the learnt column
    // to their left (to their right at the scan's left end).
    for (int pass = 0; pass < 2; ++pass)
      for (int k = 0; k < W; ++k) {
        const int x = pass ? W - 1 - k : k, from = pass ? x + 1 : x - 1;
        if (learnt[x] || from < 0 || from >= W || !learnt[from])
          continue;
        bg[x] = bg[from];
        tol[x] = tol[from];
        light[x] = light[from];
        learnt[x] = 1;
      }
  }

  // The sheet's sides as points: per row the first step from background
  // to paper from the left and from the right, walked past a shadow.
  void sideRowPoints(points_t& leftPts, points_t& rightPts)
  {
    for (int y = H / 8; y < 7 * H / 8; ++y) {
      int left = -1, right = -1;
      for (int x = 0, hits = 0; x < rowLimit + 1 - run; ++x) {
        hits = compare(x, y, 1, 0, tol[x]) ? hits + 1 : 0;
        if (hits == run) {
          left = x;
          break;
        }
      }
      // A run starting at the scan's border is the sheet running off it.
      if (left >= 0 && left - (run - 1) <= borderMin)
        left = -1;
      if (left >= 0 && light[left])
        left = shadowWalk(left, y, 1, 0, shadowSpan, left, [&](int p) { return p < rowLimit; });

      for (int x = W - 1, hits = 0; x >= run - 1; --x) {
        hits = compare(x, y, -1, 0, tol[x]) ? hits + 1 : 0;
        if (hits == run) {
          right = x;
          break;
        }
      }
      if (right >= 0 && right + (run - 1) >= W - 1 - borderMin)
        right = -1;
      // The walk reads two columns ahead: it stops before the row's start.
      if (right >= 0 && light[right])
        right = shadowWalk(right, y, -1, 0, shadowSpan, right, [](int p) { return p >= 2; });

      if (!(left >= 0 && right >= 0 && left >= right)) {
        if (left >= 0)
          leftPts.emplace_back(y, left);
        if (right >= 0)
          rightPts.emplace_back(y, right);
      }
    }

  }

  // The same per column for the top and bottom edges, below the top band.
  void sideColumnPoints(int topLines, points_t& topPts, points_t& bottomPts)
  {
    const int startRow = topLines ? topLines + 1 : 0;
    for (int x = W / 8; x < 7 * W / 8; ++x) {
      int top = -1, bottom = -1;
      for (int y = startRow, hits = 0; y < H / 4; ++y) {
        hits = compare(x, y, 0, 1, tol[x]) ? hits + 1 : 0;
        if (hits == run) {
          top = y;
          break;
        }
      }
      if (top >= 0 && top - (run - 1) <= startRow + borderMin)
        top = -1;
      if (top >= 0 && light[x])
        top = shadowWalk(x, top, 0, 1, shadowSpan, top, [&](int p) { return p < H / 4; });

      // Row 0 has no row above it to average with.
      for (int y = H - 1, hits = 0; y >= std::max(H / 2, 1); --y) {
        hits = compare(x, y, 0, -1, tol[x]) ? hits + 1 : 0;
        if (hits == run) {
          bottom = y;
          break;
        }
      }
      if (bottom >= 0 && bottom + (run - 1) >= H - 1 - borderMin)
        bottom = -1;
      if (bottom >= 0 && light[x])
        bottom = shadowWalk(x, bottom, 0, -1, shadowSpan, bottom,
                            [&](int p) { return p >= H / 2 && p >= 2; });

      if (!(top >= 0 && bottom >= 0 && top >= bottom)) {
        if (top >= 0)
          topPts.emplace_back(x, top);
        if (bottom >= 0)
          bottomPts.emplace_back(x, bottom);
      }
    }
  }

  // Where each point's edge lies to a fraction of a pixel: the scan blurs
  // the edge over a pixel or two, and how much of a window across it
  // (`before` pixels outwards, 2 inwards) is paper tells where in the window
  // the paper begins. Side 0 is the top, 1 the bottom, 2 the left, 3 the
  // right; the points are the side's own, (along, across); the positions
  // come back as (along, first pixel of paper across).
  std::vector<std::pair<double, double>> edgesAt(const points_t& list, int side, int before) const
  {
    const int dir = side == 0 || side == 2 ? 1 : -1; // towards the paper
    const bool rows = side >= 2;
    const int after = 2;
    std::vector<std::pair<double, double>> at;
    at.reserve(list.size());
    for (const point_t& p : list) {
      const int q0 = p.second - dir * before, q1 = p.second + dir * (after + 3);
      const int limit = rows ? W : H;
      if (std::min(q0, q1) < 0 || std::max(q0, q1) >= limit)
        continue;
      // Averaged over 5 pixels along the side: the sensor's noise is as
      // large as a fraction of a pixel's step where paper and background
      // are close.
      auto g = [&](int q) {
        int32_t sum = 0;
        for (int k = -2; k <= 2; ++k) {
          const int a = std::min(std::max(p.first + k, 0), (rows ? H : W) - 1);
          sum += rows ? grayAt(q, a) : grayAt(a, q);
        }
        return sum / 5.0;
      };
      const int x = rows ? p.second : p.first;
      const double b = bgGray[x];
      const double paper = (g(p.second + dir * (after + 1)) + g(p.second + dir * (after + 2)) +
                            g(p.second + dir * (after + 3))) / 3.0;
      if (std::fabs(paper - b) < tol[x])
        continue;
      double covered = 0;
      for (int k = -before; k <= after; ++k)
        covered += std::max(0.0, std::min(1.0, (g(p.second + dir * k) - b) / (paper - b)));
      // Where the paper begins, counted from the window's far end.
      const double edge = p.second + dir * (after + 1) - dir * covered;
      at.emplace_back((double)p.first, edge);
    }
    return at;
  }

  // The slope of a line through the edges' positions `at`, fitted twice
  // (to a fraction of a pixel: a side too straight to show a step, under a
  // pixel over its length, is 0.04 degree on a 150 dpi page). False when
  // too few points give a position.
  bool slopeThrough(std::vector<std::pair<double, double>> at, int side, double& slope) const
  {
    const bool rows = side >= 2;
    // Fitted twice: print touching the edge in a few places moves those
    // positions by whole pixels.
    for (int pass = 0; pass < 2; ++pass) {
      LinearRegression<double> fit;
      for (const auto& a : at)
        fit.addXY(a.first, a.second);
      if (fit.count < 0.05 * (rows ? H : W) || fit.count < 3)
        return false;
      slope = fit.b;
      if (pass == 0)
        at.erase(std::remove_if(at.begin(), at.end(),
                                [&](const std::pair<double, double>& a) {
                                  return std::fabs(a.first * fit.b + fit.a - a.second) > 0.5;
                                }),
                 at.end());
    }
    return true;
  }

  // Each side moved onto the sheet's edge. An edge is found where a few
  // pixels in a row depart from the background by the column's tolerance:
  // a pixel or two inside the paper against a dark background, more where
  // paper and background are close (a gray or light background) and the
  // scan's blur spreads the step. Where the points' edges lie to a
  // fraction of a pixel, the median of their distances from the side's
  // line moves it out onto the first pixels of paper.
  void edgePositions(const std::vector<std::pair<double, double>> edges[4],
                     LinearRegression<double> fits[4]) const
  {
    for (int i = 0; i < 4; ++i) {
      LinearRegression<double>& f = fits[i];
      const std::vector<std::pair<double, double>>& at = edges[i];
      if (at.size() < 3 || (double)at.size() < 0.05 * (i >= 2 ? H : W))
        continue;
      std::vector<double> d;
      d.reserve(at.size());
      for (const auto& a : at)
        d.push_back(a.second - (f.a + f.b * a.first));
      std::nth_element(d.begin(), d.begin() + d.size() / 2, d.end());
      // Outwards only, and by less than the window reaches: the points lie
      // on or inside the edge, and a median inside them is not the sheet's
      // edge but something on it (light rings in a photograph as dark as
      // the background).
      const double out = i == 0 || i == 2 ? -d[d.size() / 2] : d[d.size() / 2];
      if (out > 0 && out < run + 6)
        f.a += d[d.size() / 2];
    }
  }

  // A straight line through each side's points, fitted again without the
  // points far from the first fit.
  static void fitSides(const Image& image, points_t* lists[4], LinearRegression<double> fits[4])
  {
    for (int i = 0; i < 4; ++i) {
      cleanup::byNeighbor(*lists[i], image, 2.0);
      cleanup::byConsensus(*lists[i], 32.0);
    }
    for (int i = 0; i < 4; ++i)
      fits[i].addRange(lists[i]->begin(), lists[i]->end());
    for (int i = 0; i < 4; ++i)
      cleanup::byDistance(*lists[i], fits[i], 32.0);
    for (int i = 0; i < 4; ++i) {
      fits[i] = LinearRegression<double>();
      fits[i].addRange(lists[i]->begin(), lists[i]->end());
    }
  }

  // Sides without a step all round, or whose steps go both ways (the
  // sensor's noise on an edge pixel half covered) while they turn by less
  // than 0.2 degree: their slopes to a fraction of a pixel replace those of
  // the whole-pixel fits. Sides without any step keep theirs unless the
  // finer slopes agree on a turn of at least 0.015 degree: below that the
  // sheet counts as straight.
  void fineSlopes(points_t* lists[4], LinearRegression<double> fits[4], const Steps steps[4]) const
  {
    double slope[4];
    std::vector<double> angles;
    bool found[4] = {false, false, false, false}, flat = true;
    for (int i = 0; i < 4; ++i) {
      const bool smooth = steps[i] == Flat || (steps[i] == Irregular && std::fabs(fits[i].b) < kSmallSlope);
      if (smooth && slopeThrough(edgesAt(*lists[i], i, run + 3), i, slope[i])) {
        found[i] = true;
        flat = flat && steps[i] == Flat;
        const double a = std::atan(slope[i]) / kPi * 180;
        angles.push_back(i < 2 ? a : -a);
      }
    }
    if (angles.empty())
      return;
    std::sort(angles.begin(), angles.end());
    const size_t n = angles.size();
    const double median = n % 2 ? angles[n / 2] : (angles[n / 2 - 1] + angles[n / 2]) / 2;
    if (flat && std::fabs(median) < 0.015)
      return;
    for (int i = 0; i < 4; ++i)
      if (found[i])
        setSlope(fits[i], slope[i]);
  }

  // The skew: the median of the sides' angles that enough points support;
  // top and bottom count only when they agree with the left and right.
  static double skewOf(const Line& top, const Line& bottom, const Line& left, const Line& right,
                       const LinearRegression<double> fits[4], const bool weak[4])
  {
    const LinearRegression<double>&topFit = fits[0], &bottomFit = fits[1], &leftFit = fits[2],
                                    &rightFit = fits[3];
    auto degrees = [](double a) {
      double d = a / kPi * 180;
      if (d > 180)
        d -= 360;
      return d;
    };
    const double topA = degrees(std::fmod(top.angle(), 2 * kPi));
    const double bottomA = degrees(std::fmod(bottom.angle(), 2 * kPi));
    const double leftA = degrees(std::fmod(left.angle() - kPi / 2, 2 * kPi));
    const double rightA = degrees(std::fmod(right.angle() - kPi / 2, 2 * kPi));

    const int64_t total =
      std::max<int64_t>(topFit.count + bottomFit.count + leftFit.count + rightFit.count, 1);
    auto qualifies = [&](const LinearRegression<double>& f) {
      return f.count * 100 / total >= 11 && !weak[&f - fits];
    };

    std::vector<double> candidates;
    if (std::fabs((topA + bottomA) / 2 - (leftA + rightA) / 2) <= 1.0) {
      if (qualifies(topFit))
        candidates.push_back(topA);
      if (qualifies(bottomFit))
        candidates.push_back(bottomA);
    }
    if (!(!candidates.empty() &&
          topFit.count + bottomFit.count > 2 * (leftFit.count + rightFit.count))) {
      if (qualifies(leftFit))
        candidates.push_back(leftA);
      if (qualifies(rightFit))
        candidates.push_back(rightA);
    }
    std::sort(candidates.begin(), candidates.end());
    double median = 0;
    switch (candidates.size()) {
    case 1: median = candidates[0]; break;
    case 2: median = (candidates[0] + candidates[1]) / 2; break;
    case 3: median = candidates[1]; break;
    case 4: median = (candidates[1] + candidates[2]) / 2; break;
    default: break;
    }
    return median;
  }

  deskew_rect measure(Image& image, int topLines, int bottomLines)
  {
    deskew_rect result = wholeImageRect(image);
    // Negative bands count as none here, so an oversized other band cannot
    // slip past the test and be read beyond the image.
    const int64_t tl = std::max(topLines, 0), bl = std::max(bottomLines, 0);
    if (tl + bl >= H) {
      fprintf(stderr, "Not enough lines to deskew\n");
      return result;
    }

    // A band that is not background teaches nothing about the background:
    // without it the other band alone is used; without either there is no
    // sheet to find.
    const bool hadBands = topLines > 0 || bottomLines > 0;
    int32_t topLevel = 0, bottomLevel = 0;
    if (topLines > 0 && !bandIsBackground(0, topLines, topLevel, topPaper))
      topLines = 0;
    if (bottomLines > 0 && !bandIsBackground(H - bottomLines, H, bottomLevel, bottomPaper))
      bottomLines = 0;
    if (topLines < 1)
      topPaper.clear();
    if (bottomLines < 1)
      bottomPaper.clear();
    if (hadBands && topLines < 1 && bottomLines < 1)
      return result;

    result = measureWith(image, topLines, bottomLines);
    // Two even bands far apart in level: the bottom one is taken for the
    // background, but it may be paper that fills the scan's width and runs
    // off the bottom. Then the darker band alone is the background.
    if (topLines > 0 && bottomLines > 0 && std::abs(topLevel - bottomLevel) > 85 * scale &&
        result.width == W && result.height == H && result.x == 0 && result.y == 0 &&
        result.angle == 0)
      result = topLevel < bottomLevel ? measureWith(image, topLines, 0)
                                      : measureWith(image, 0, bottomLines);
    return result;
  }

  deskew_rect measureWith(Image& image, int topLines, int bottomLines)
  {
    deskew_rect result = wholeImageRect(image);
    const bool noBands = topLines < 1 && bottomLines < 1;
    const bool bothBands = bottomLines >= 1 && topLines > 0;
    const double dpi = image.resX < 1 ? 200.0 : (double)image.resX;
    shadowSpan = (int)(dpi * 8 / 25.4);
    borderMin = (int)(dpi * 0.5 / 25.4);
    rowLimit = W / 2 - (int)(dpi * 5 / 25.4);
    run = image.resX > 300 ? 5 : 3; // from the raw field: 0 dpi gives 3

    sampleBackground(image, topLines, bottomLines, noBands, bothBands);
    bgGray.resize(W);
    for (int x = 0; x < W; ++x)
      bgGray[x] = NC == 3 ? (11 * bg[x].c[0] + 16 * bg[x].c[1] + 5 * bg[x].c[2]) / 32 : bg[x].c[0];

    points_t leftPts, rightPts, topPts, bottomPts;
    sideRowPoints(leftPts, rightPts);
    if (topLines >= 0 && bottomLines >= 0)
      sideColumnPoints(topLines, topPts, bottomPts);

    points_t* lists[4] = {&topPts, &bottomPts, &leftPts, &rightPts};
    LinearRegression<double> fits[4];
    fitSides(image, lists, fits);
    // Sides too straight to show a step have no say beside sides whose
    // steps tell their slope; nor have sides whose points shift by less
    // than two pixels along the stretch they were found on (a side half
    // hidden under print as dark as the background): a line fitted through
    // a step or two, back and forth, is off by as much as the slope itself.
    Steps steps[4];
    for (int i = 0; i < 4; ++i)
      steps[i] = staircase(*lists[i], fits[i]);
    const bool stairs = std::count(steps, steps + 4, Staircase) > 0;
    bool weak[4];
    for (int i = 0; i < 4; ++i) {
      const points_t& l = *lists[i];
      const double span = l.empty() ? 0.0 : (double)l.back().first - l.front().first;
      weak[i] = stairs && (steps[i] == Flat ||
                           (steps[i] == Irregular && std::fabs(fits[i].b) * span < 2.0));
    }
    if (!stairs)
      fineSlopes(lists, fits, steps);
    // Sides turned further (many steps, their positions rounded to whole
    // pixels, jittered by the noise where the step from the background is
    // small): the slope through their edges to a fraction of a pixel.
    std::vector<std::pair<double, double>> edges[4];
    for (int i = 0; i < 4; ++i) {
      double slope = 0;
      LinearRegression<double>& f = fits[i];
      edges[i] = edgesAt(*lists[i], i, run + 8);
      if (steps[i] == Irregular && std::fabs(f.b) >= kSmallSlope &&
          slopeThrough(edges[i], i, slope) && std::fabs(slope - f.b) < 0.01)
        setSlope(f, slope);
    }
    edgePositions(edges, fits);
    const LinearRegression<double>&topFit = fits[0], &bottomFit = fits[1], &leftFit = fits[2],
                                    &rightFit = fits[3];

    // Sides without enough points are the scan's borders (below and above
    // the bands).
    const bool noLeft = leftFit.count < 0.05 * H, noRight = rightFit.count < 0.05 * H;
    const bool noTop = topFit.count < 0.05 * W, noBottom = bottomFit.count < 0.05 * W;
    Line left{leftFit.a, 0, leftFit.a + leftFit.b * H, (double)H};
    if (noLeft)
      left = Line{0, 0, 0, (double)H};
    Line right{rightFit.a, 0, rightFit.a + rightFit.b * H, (double)H};
    if (noRight)
      right = Line{(double)(W - 1), 0, (double)(W - 1), (double)H};
    Line top{0, topFit.a, (double)W, topFit.a + topFit.b * W};
    if (noTop)
      top = Line{0, (double)topLines, (double)W, (double)topLines};
    Line bottom{0, bottomFit.a, (double)W, bottomFit.a + bottomFit.b * W};
    if (noBottom)
      bottom = Line{0, (double)H - bottomLines - 1, (double)W, (double)H - bottomLines - 1};
    // Sides that fell back to the scan's own border (not to a band line):
    // the sheet runs off the scan there.
    const bool offLeft = noLeft, offRight = noRight;
    const bool offTop = noTop && topLines == 0, offBottom = noBottom && bottomLines == 0;
    // A sheet shows at least two of its edges.
    if (noLeft + noRight + noTop + noBottom > 2)
      return result;

    // Nearly parallel lines cross far away or not at all; a corner outside
    // a generous frame around the scan counts as parallel.
    auto sane = [&](const std::pair<double, double>& p) {
      return std::isfinite(p.first) && std::isfinite(p.second) && p.first >= -W &&
             p.first <= 2.0 * W && p.second >= -H && p.second <= 2.0 * H;
    };
    std::pair<double, double> tl_, tr_, bl_, br_;
    if (!top.intersection(left, tl_) || !sane(tl_) || !top.intersection(right, tr_) ||
        !sane(tr_) || !bottom.intersection(left, bl_) || !sane(bl_) ||
        !bottom.intersection(right, br_) || !sane(br_)) {
      fprintf(stderr, "lines parallel!?\n");
      return result;
    }
    // Fits of one or two points are the line x = 0 (or y = 0) and may
    // coincide with a fallback line: a side of zero length has no direction.
    if (tl_ == tr_ || bl_ == br_ || tl_ == bl_ || tr_ == br_) {
      fprintf(stderr, "lines parallel!?\n");
      return result;
    }
    top = Line{tl_.first, tl_.second, tr_.first, tr_.second};
    bottom = Line{bl_.first, bl_.second, br_.first, br_.second};
    left = Line{tl_.first, tl_.second, bl_.first, bl_.second};
    right = Line{tr_.first, tr_.second, br_.first, br_.second};
    double median = skewOf(top, bottom, left, right, fits, weak);

    auto mid = [](const std::pair<double, double>& a, const std::pair<double, double>& b) {
      return std::make_pair((a.first + b.first) / 2, (a.second + b.second) / 2);
    };
    auto dist = [](const std::pair<double, double>& a, const std::pair<double, double>& b) {
      return std::hypot(a.first - b.first, a.second - b.second);
    };
    const auto midTop = mid(tl_, tr_), midBottom = mid(bl_, br_);
    const auto midLeft = mid(tl_, bl_), midRight = mid(tr_, br_);

    // A side found inside the scan may be print as dark as the background
    // that reaches the sheet's edge (a header band): the sheet goes on
    // beyond it. Such a side is moved out as far as the sheet goes and has
    // no say in the angle.
    double past[4] = {0, 0, 0, 0};
    learnRowShift(topLines, bottomLines, dpi, !offLeft, !offRight);
    const double m0 = median / 180.0 * kPi;
    const double ux = std::cos(m0), uy = std::sin(m0), vx = -uy, vy = ux;
    const double w0 = dist(midLeft, midRight), h0 = dist(midTop, midBottom);
    // Per side: where it starts, along it, outwards, its length. The lines
    // walked outwards run at the skew through the side's middle, from which
    // the cut moves the side: a side found on print inside the sheet (light
    // marks in a band at the background's level) may lie at an angle of its
    // own, and its corner then lies off that line by as much as the angle
    // turns it over half the side.
    auto start = [](const std::pair<double, double>& mid, double ax, double ay, double length) {
      return std::make_pair(mid.first - ax * length / 2, mid.second - ay * length / 2);
    };
    struct Side {
      std::pair<double, double> from;
      double ax, ay, nx, ny, length;
      bool found;
    };
    const Side sides[4] = {{start(midTop, ux, uy, w0), ux, uy, -vx, -vy, w0, !offTop && !noTop},
                           {start(midBottom, ux, uy, w0), ux, uy, vx, vy, w0,
                            !offBottom && !noBottom},
                           {start(midLeft, vx, vy, h0), vx, vy, -ux, -uy, h0, !offLeft && !noLeft},
                           {start(midRight, vx, vy, h0), vx, vy, ux, uy, h0,
                            !offRight && !noRight}};
    for (int i = 0; i < 4; ++i)
      if (sides[i].found)
        past[i] = beyond(sides[i].from, sides[i].ax, sides[i].ay, sides[i].nx, sides[i].ny,
                         sides[i].length, dpi);

    // Print at the background's own level (within a few levels) hides the
    // sheet's edge under it altogether. Such print is sought at a finer
    // difference from the background: a side that no edge of its
    // neighbours reaches (neither corner seen within 5 mm) is the inner
    // edge of such print only if print at the background's level lies
    // along all of it up to where the neighbours' edges show; it then goes
    // on outwards to the sheet's edge. Where that does not hold or no edge
    // shows, the sheet's end cannot be told and the page is left as it is.
    const int seen = (int)(dpi * 5 / 25.4), near = (int)(dpi * 2 / 25.4);
    double bias = 0;
    bool biasKnown = false;
    auto fineOut = [&](int i, int limit) {
      if (!biasKnown) {
        bias = bandBias(topLines, bottomLines);
        biasKnown = true;
      }
      const Side& d = sides[i];
      return fineWalk(d.from, d.ax, d.ay, limit > 0 ? d.nx : -d.nx, limit > 0 ? d.ny : -d.ny,
                      d.length, dpi, bias, limit > 0 ? limit : -limit);
    };
    // The corners of each side: where its neighbours start and which way
    // they run (along, then towards their background).
    const double corners[4][2][6] = {
      {{tl_.first, tl_.second, vx, vy, -ux, -uy}, {tr_.first, tr_.second, vx, vy, ux, uy}},
      {{bl_.first, bl_.second, -vx, -vy, -ux, -uy}, {br_.first, br_.second, -vx, -vy, ux, uy}},
      {{tl_.first, tl_.second, ux, uy, -vx, -vy}, {bl_.first, bl_.second, ux, uy, vx, vy}},
      {{tr_.first, tr_.second, -ux, -uy, -vx, -vy}, {br_.first, br_.second, -ux, -uy, vx, vy}}};
    for (int i = 0; i < 4; ++i) {
      if (!sides[i].found || past[i] != 0)
        continue;
      // The neighbours are looked along for a third of their length.
      const int reach = (int)((i < 2 ? h0 : w0) / 3);
      // Only a neighbour found as an edge can show the corner.
      int gap = reach + 1;
      bool looked = false;
      for (int j = 0; j < 2; ++j) {
        const double* c = corners[i][j];
        if (!sides[(i < 2 ? 2 : 0) + j].found)
          continue;
        looked = true;
        gap = std::min(gap, cornerGap({c[0], c[1]}, c[2], c[3], c[4], c[5], reach));
      }
      if (!looked || gap <= seen)
        continue;
      const int inner = gap - 3;
      if (fineOut(i, -inner) <= inner)
        return wholeImageRect(image);
      const int k = fineOut(i, W + H);
      if (k <= near)
        return wholeImageRect(image);
      past[i] = k;
    }

    const double median0 = median;
    bool weak0[4];
    std::copy(weak, weak + 4, weak0);
    auto cut = [&](const double past[4]) {
      bool weak[4];
      std::copy(weak0, weak0 + 4, weak);
      double median = median0;
      const bool hidden = past[0] > 0 || past[1] > 0 || past[2] > 0 || past[3] > 0;
      if (hidden) {
        for (int i = 0; i < 4; ++i)
          weak[i] = weak[i] || past[i] > 0;
        median = skewOf(top, bottom, left, right, fits, weak);
      }

      auto corner = tl_, cornerTR = tr_;
      double width = dist(midLeft, midRight), height = dist(midTop, midBottom);
      if (offLeft || offRight || offTop || offBottom || hidden) {
        // A side where the sheet runs off the scan is turned with the sheet
        // and moved out until all of the scan's border on that side lies
        // inside the cut: nothing of the scan is lost there, and the
        // rotation fills what lies beyond the scan with white.
        const double m = median / 180.0 * kPi;
        const double ux = std::cos(m), uy = std::sin(m), vx = -uy, vy = ux;
        auto U = [&](const std::pair<double, double>& p) { return p.first * ux + p.second * uy; };
        auto V = [&](const std::pair<double, double>& p) { return p.first * vx + p.second * vy; };
        double uL = U(midLeft) - past[2], uR = U(midRight) + past[3];
        double vT = V(midTop) - past[0], vB = V(midBottom) + past[1];
        if (offLeft)
          uL = std::min(U(tl_), U(bl_)) - 1;
        if (offRight)
          uR = std::max(U(tr_), U(br_)) + 1;
        if (offTop)
          vT = std::min(V(tl_), V(tr_)) - 1;
        if (offBottom)
          vB = std::max(V(bl_), V(br_)) + 1;
        corner = std::make_pair(uL * ux + vT * vx, uL * uy + vT * vy);
        cornerTR = std::make_pair(uR * ux + vT * vx, uR * uy + vT * vy);
        width = uR - uL;
        height = vB - vT;
      }

      deskew_rect r;
      r.x = saturate_cast<int32_t>(std::ceil(corner.first));
      r.y = saturate_cast<int32_t>(std::ceil(corner.second));
      r.width = saturate_cast<int32_t>(std::floor(width));
      r.height = saturate_cast<int32_t>(std::floor(height));
      r.angle = (float)-median;
      r.x_back = (W - 1) - saturate_cast<int32_t>(std::ceil(cornerTR.first));
      r.y_back = saturate_cast<int32_t>(std::ceil(cornerTR.second));
      return r;
    };

    result = cut(past);
    const Verdict v = isSheet(result, dpi, topLines, bottomLines);
    if (v == Sheet)
      return result;
    if (v != PrintOutside)
      return wholeImageRect(image);
    // Print beyond a side whose corners show: a band at the background's
    // level over the sheet's end, with marks in it (light text, a title),
    // ends at an edge of its own that a finer look may find.
    double further[4];
    bool moved = false;
    for (int i = 0; i < 4; ++i) {
      further[i] = past[i];
      if (!sides[i].found || past[i] != 0)
        continue;
      const int k = fineOut(i, W + H);
      if (k > near) {
        further[i] = k;
        moved = true;
      }
    }
    if (moved) {
      result = cut(further);
      if (isSheet(result, dpi, topLines, bottomLines) == Sheet)
        return result;
    }
    return wholeImageRect(image);
  }

  // A scanner's background is rarely even along the scan: its level may
  // drift by tens of levels from the top to the bottom, which the columns
  // learnt from the bands at both ends do not show. The outermost 2 mm of
  // the scan at either side are background in every row of a sheet that
  // lies on it; each row's departure there from the columns' level, less
  // that of the bands' rows (which the columns were learnt from), is the
  // drift. A median per row stands against print reaching the border;
  // less than a level counts as none, so an even background keeps its
  // model as it was.
  void learnRowShift(int topLines, int bottomLines, double dpi, bool left, bool right)
  {
    rowShift.assign(H, 0);
    const int k = std::min((int)(dpi * 2 / 25.4), W / 8);
    if (k < 1 || !(left || right))
      return;
    // Per row the median of the border's samples; paper or print there
    // (beyond the tolerance) is left out, a row without samples gets none.
    // Every few rows and columns: the drift is slow.
    const int step = std::max(1, (int)(dpi / 75));
    std::vector<int32_t> d(H), px;
    std::vector<uint8_t> has(H, 0);
    for (int y = 0; y < H; y += step) {
      px.clear();
      for (int i = 0; i < k; i += 2)
        for (int x : {left ? i : -1, right ? W - 1 - i : -1})
          if (x >= 0) {
            const int32_t v = grayAt(x, y) - bgGray[x];
            if (std::abs(v) < tol[x])
              px.push_back(v);
          }
      if (px.size() * 4 < (size_t)k)
        continue;
      std::nth_element(px.begin(), px.begin() + px.size() / 2, px.end());
      d[y] = px[px.size() / 2];
      has[y] = 1;
    }
    // Averaged over 6 mm of rows, through running sums.
    const int half = std::max(1, (int)(dpi * 3 / 25.4));
    std::vector<int64_t> sum(H + 1, 0), count(H + 1, 0);
    for (int y = 0; y < H; ++y) {
      sum[y + 1] = sum[y] + (has[y] ? d[y] : 0);
      count[y + 1] = count[y] + has[y];
    }
    std::vector<double> smooth(H, 0.0);
    std::vector<uint8_t> known(H, 0);
    for (int y = 0; y < H; ++y) {
      const int lo = std::max(0, y - half), hi = std::min(H, y + half + 1);
      if (count[hi] - count[lo] == 0)
        continue;
      smooth[y] = (double)(sum[hi] - sum[lo]) / (double)(count[hi] - count[lo]);
      known[y] = 1;
    }
    double band = 0;
    int n = 0;
    for (int y = 0; y < H; ++y)
      if (known[y] && ((topLines > 0 && y < topLines) || (bottomLines > 0 && y >= H - bottomLines) ||
                       (topLines < 1 && bottomLines < 1))) {
        band += smooth[y];
        ++n;
      }
    if (!n)
      return;
    band /= n;
    for (int y = 0; y < H; ++y) {
      const double v = smooth[y] - band;
      if (known[y] && std::fabs(v) >= 1.0 * scale)
        rowShift[y] = saturate_cast<int32_t>(std::round(v));
    }
  }

  // How far from its corner `c` a side running along (ax, ay), the
  // background lying towards (nx, ny), first shows as an edge: three steps
  // in a row where paper and background beside it differ by the column's
  // tolerance. More than `limit` when it does not within that. A corner
  // beyond the scan's border (a turned sheet grazing it) hides nothing:
  // the distance counts from where the side comes into the scan.
  int cornerGap(const std::pair<double, double>& c, double ax, double ay, double nx, double ny,
                int limit) const
  {
    int from = 0;
    auto gray = [&](double fx, double fy, int32_t& v) {
      if (!(fx >= 0 && fy >= 0 && fx <= W - 1 && fy <= H - 1))
        return false;
      v = grayAt((int)(fx + 0.5), (int)(fy + 0.5));
      return true;
    };
    for (int t = 0, shown = 0; t <= limit; ++t) {
      const double px = c.first + t * ax, py = c.second + t * ay;
      int32_t in = 0, out = 0, v = 0;
      bool ok = true;
      for (int k = 2; k <= 4 && ok; ++k) {
        ok = gray(px - k * nx, py - k * ny, v);
        in += v;
        ok = ok && gray(px + (k + 1) * nx, py + (k + 1) * ny, v);
        out += v;
      }
      const int x = std::min(W - 1, std::max(0, (int)(px + 4 * nx + 0.5)));
      if (!ok && t == from) {
        ++from;
        continue;
      }
      shown = ok && std::abs(in - out) >= 3 * tol[x] ? shown + 1 : 0;
      if (shown == 3)
        return t - 2 - from;
    }
    return limit + 1;
  }

  // The background's mean departure from its model over the bands' rows:
  // the columns' levels are whole numbers, the background's are not.
  double bandBias(int topLines, int bottomLines) const
  {
    int64_t sum = 0, n = 0;
    for (int y = 0; y < H; ++y)
      if ((topLines > 0 && y < topLines) || (bottomLines > 0 && y >= H - bottomLines)) {
        const std::vector<uint8_t>& paper = y < topLines ? topPaper : bottomPaper;
        for (int x = 0; x < W; ++x) {
          if (!paper.empty() && paper[x])
            continue;
          sum += grayAt(x, y) - bgGray[x] - rowShift[y];
          ++n;
        }
      }
    return n ? (double)sum / n : 0.0;
  }

  // How far the sheet goes on beyond a side found at `from` running along
  // (ax, ay) for `length` pixels, outward (nx, ny): lines parallel to the
  // side, a pixel apart, are walked outwards until one is background on
  // average (over the middle four fifths of the side) or mostly beyond the
  // scan, and so is the next: a line along the edge of light marks in a
  // darker band averages to the background's level without being it. 0
  // when that is within 2 mm: the side is the sheet's edge, its blur or
  // shadow.
  double beyond(const std::pair<double, double>& from, double ax, double ay, double nx, double ny,
                double length, double dpi) const
  {
    const int near = (int)(dpi * 2 / 25.4);
    auto background = [&](int k) {
      int64_t sum = 0, n = 0;
      const int64_t tried = alongLine(from, ax, ay, nx, ny, k, length, dpi, [&](int x, int y) {
        sum += grayAt(x, y) - bgGray[x] - rowShift[y];
        ++n;
      });
      return n * 4 < tried || std::abs(sum) < 4 * scale * n;
    };
    for (int k = 1;; ++k)
      if (background(k) && background(k + 1))
        return k <= near ? 0 : k;
  }

  // Visits the pixels (x, y) of the middle four fifths of the side found at
  // `from` running along (ax, ay) for `length` pixels, moved `k` pixels
  // outward (nx, ny), a few pixels apart, that lie on the scan; returns how
  // many places were tried.
  template <typename Visit>
  int64_t alongLine(const std::pair<double, double>& from, double ax, double ay, double nx,
                    double ny, int k, double length, double dpi, Visit visit) const
  {
    const int step = std::max(1, (int)(dpi / 75));
    int64_t tried = 0;
    for (double t = 0.1 * length; t <= 0.9 * length; t += step) {
      ++tried;
      const double fx = from.first + t * ax + k * nx, fy = from.second + t * ay + k * ny;
      if (fx >= 0 && fy >= 0 && fx <= W - 1 && fy <= H - 1)
        visit((int)(fx + 0.5), (int)(fy + 0.5));
    }
    return tried;
  }

  // The finer walk of the same lines: the first (from 1) whose median lies
  // on the background within a level (print that the line grazes leaves
  // the median alone), or that lies mostly beyond the scan; `limit` + 1
  // when every line up to `limit` departs from it. `bias` is the
  // background's own departure from its model.
  int fineWalk(const std::pair<double, double>& from, double ax, double ay, double nx, double ny,
               double length, double dpi, double bias, int limit) const
  {
    std::vector<int32_t> diffs;
    for (int k = 1; k <= limit; ++k) {
      diffs.clear();
      const int64_t tried = alongLine(from, ax, ay, nx, ny, k, length, dpi, [&](int x, int y) {
        diffs.push_back(grayAt(x, y) - bgGray[x] - rowShift[y]);
      });
      if (diffs.empty() || (int64_t)diffs.size() * 4 < tried)
        return k;
      std::nth_element(diffs.begin(), diffs.begin() + diffs.size() / 2, diffs.end());
      if (std::fabs(diffs[diffs.size() / 2] - bias) < 1.0 * scale)
        return k;
    }
    return limit + 1;
  }

  // What was measured is a sheet on a background: most of the scan, paper
  // that differs from the background, and nothing but background outside
  // the cut.
  enum Verdict { Sheet, NoSheet, PrintOutside };
  Verdict isSheet(const deskew_rect& r, double dpi, int topLines, int bottomLines) const
  {
    if (!sheetcheck::plausible(W, H, r))
      return NoSheet;
    std::vector<int32_t> levels(bgGray);
    std::nth_element(levels.begin(), levels.begin() + W / 2, levels.end());
    auto gray = [this](int x, int y) { return grayAt(x, y); };
    const int32_t paper = sheetcheck::paperLevel(W, H, r, dpi, gray);
    if (paper < 0 || std::abs(paper - levels[W / 2]) < 16 * scale)
      return NoSheet;
    if (!sheetcheck::backgroundOutside(W, H, r, dpi, 64 * scale, gray))
      return PrintOutside;
    // The bands are background by the caller's word, even where their
    // level is not the model's (a top band far from the bottom one).
    const int from = std::max(topLines, 0), to = H - std::max(bottomLines, 0);
    // Over 2 x 2 pixels, as the edge scans compare pairs: a coarse pixel
    // type turns the background's noise into single steps of a sixteenth.
    const bool print = sheetcheck::printOutside(W, H, r, dpi, from, to, [this](int x, int y) {
      const int x1 = std::min(x + 1, W - 1), y1 = std::min(y + 1, H - 1);
      const int32_t sum = grayAt(x, y) + grayAt(x1, y) + grayAt(x, y1) + grayAt(x1, y1);
      return std::abs(sum - 2 * (bgGray[x] + bgGray[x1] + rowShift[y] + rowShift[y1])) > 4 * tol[x];
    });
    if (print || sheetcheck::stepsOutside(W, H, r, dpi, scale, from, to, gray))
      return PrintOutside;
    return Sheet;
  }

};

template <typename T>
struct deskewParameters_template {
  deskew_rect operator()(Image& image, int topLines, int bottomLines)
  {
    detector<T> d(image);
    return d.measure(image, topLines, bottomLines);
  }
};

} // namespace

deskew_rect deskewParameters(Image& image, int topLines, int bottomLines)
{
  if (image.empty())
    return wholeImageRect(image);
  if (!isPixelType(image)) {
    fprintf(stderr, "deskew: unsupported pixel type (spp %d, bps %d)\n", image.spp, image.bps);
    return wholeImageRect(image);
  }
  return codegen_return<deskew_rect, deskewParameters_template>(image, topLines, bottomLines);
}
