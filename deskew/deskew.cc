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
  fit.b = (q1 - q0) / (p1 - p0);
  fit.a = fit.sumY / fit.count - fit.b * fit.sumX / fit.count;
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

  // Whether rows [from, to) show only scanner background: every column
  // alike, bar a few. Paper or print reaching into the band (a sheet that
  // runs off the scan, a page without background) makes it uneven.
  bool bandIsBackground(int from, int to, int32_t& level) const
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
    int64_t uneven = 0;
    for (int x = 0; x < W; ++x)
      uneven += std::abs(col[x] - median) > 40 * scale;
    return uneven * 100 <= W;
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
      if (avg.index >= 3 && avg.sum / 3 > 0)
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

    for (int x = 0; x < W;) {
      for (int i = 0; i < 3; ++i) {
        top[i].clear();
        bot[i].clear();
      }
      for (int r = 0; r < tl; ++r)
        push(top, x, r);
      for (int r = H - bl; r < H; ++r)
        push(bot, x, r);

      if (bothBands) {
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
    if (topLines > 0 && !bandIsBackground(0, topLines, topLevel))
      topLines = 0;
    if (bottomLines > 0 && !bandIsBackground(H - bottomLines, H, bottomLevel))
      bottomLines = 0;
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
    // steps tell their slope.
    Steps steps[4];
    for (int i = 0; i < 4; ++i)
      steps[i] = staircase(*lists[i], fits[i]);
    const bool stairs = std::count(steps, steps + 4, Staircase) > 0;
    bool weak[4];
    for (int i = 0; i < 4; ++i)
      weak[i] = stairs && steps[i] == Flat;
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
    {
      const double m = median / 180.0 * kPi;
      const double ux = std::cos(m), uy = std::sin(m), vx = -uy, vy = ux;
      const double w = dist(midLeft, midRight), h = dist(midTop, midBottom);
      if (!offTop && !noTop)
        past[0] = beyond(tl_, ux, uy, -vx, -vy, w, dpi);
      if (!offBottom && !noBottom)
        past[1] = beyond(bl_, ux, uy, vx, vy, w, dpi);
      if (!offLeft && !noLeft)
        past[2] = beyond(tl_, vx, vy, -ux, -uy, h, dpi);
      if (!offRight && !noRight)
        past[3] = beyond(tr_, vx, vy, ux, uy, h, dpi);
    }
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
      // inside the cut: nothing of the scan is lost there, and the rotation
      // fills what lies beyond the scan with white.
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

    result.x = saturate_cast<int32_t>(std::ceil(corner.first));
    result.y = saturate_cast<int32_t>(std::ceil(corner.second));
    result.width = saturate_cast<int32_t>(std::floor(width));
    result.height = saturate_cast<int32_t>(std::floor(height));
    result.angle = (float)-median;
    result.x_back = (W - 1) - saturate_cast<int32_t>(std::ceil(cornerTR.first));
    result.y_back = saturate_cast<int32_t>(std::ceil(cornerTR.second));
    if (!isSheet(result, dpi))
      return wholeImageRect(image);
    return result;
  }

  // How far the sheet goes on beyond a side found at `from` running along
  // (ax, ay) for `length` pixels, outward (nx, ny): lines parallel to the
  // side, a pixel apart, are walked outwards until one is background on
  // average (over the middle four fifths of the side) or mostly beyond the
  // scan. 0 when that is within 2 mm: the side is the sheet's edge, its
  // blur or shadow.
  double beyond(const std::pair<double, double>& from, double ax, double ay, double nx, double ny,
                double length, double dpi) const
  {
    const int step = std::max(1, (int)(dpi / 75));
    const int near = (int)(dpi * 2 / 25.4);
    for (int k = 1;; ++k) {
      int64_t sum = 0, n = 0, tried = 0;
      for (double t = 0.1 * length; t <= 0.9 * length; t += step) {
        ++tried;
        const double fx = from.first + t * ax + k * nx, fy = from.second + t * ay + k * ny;
        if (!(fx >= 0 && fy >= 0 && fx <= W - 1 && fy <= H - 1))
          continue;
        const int x = (int)(fx + 0.5), y = (int)(fy + 0.5);
        sum += grayAt(x, y) - bgGray[x];
        ++n;
      }
      if (n * 4 < tried || std::abs(sum) < 4 * scale * n)
        return k <= near ? 0 : k;
    }
  }

  // What was measured is a sheet on a background: most of the scan, paper
  // that differs from the background, and nothing but background outside
  // the cut.
  bool isSheet(const deskew_rect& r, double dpi) const
  {
    if (!sheetcheck::plausible(W, H, r))
      return false;
    std::vector<int32_t> levels(bgGray);
    std::nth_element(levels.begin(), levels.begin() + W / 2, levels.end());
    auto gray = [this](int x, int y) { return grayAt(x, y); };
    const int32_t paper = sheetcheck::paperLevel(W, H, r, dpi, gray);
    if (paper < 0 || std::abs(paper - levels[W / 2]) < 16 * scale)
      return false;
    return sheetcheck::backgroundOutside(W, H, r, dpi, 64 * scale, gray);
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
