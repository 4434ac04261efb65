// Each side of the sheet is found twice: roughly, as the outermost strong
// line of a Hough accumulator fed with the edges of a reduced gray copy whose
// gradient points into the paper; then exactly, by locating the edge on
// short profiles across that line in the full-resolution gray image and
// fitting a straight line through them. The four lines meet in the corners.
#include "deskew/Flatbed.hh"
#include "deskew/SheetCheck.hh"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "image/Colorspace.hh"
#include "image/Scale.hh"
#include "math/Hough.hh"
#include "math/Line.hh"
#include "math/LinearRegression.hh"
#include "utility/Saturate.hh"

namespace {

const double kPi = 3.141592653589793;
const int kReducedSize = 800;      // long side of the copy the Hough runs on
const double kMaxSkew = 12.0;      // degrees searched either way
const double kThetaStep = 0.1;     // degrees
const int kMinEdge = 32;           // Sobel response: a step of 8 levels
const double kStrongShare = 0.5;   // of the strongest line, to count as a side
const int kMinProfiles = 8;
const double kLidRange = 64;       // levels within the lid beside an edge
const int kDarkBackground = 96;    // around the cut: a sheet-fed scanner's, no lid

enum Side { Top, Bottom, Left, Right };

struct Gray {
  const uint8_t* data;
  unsigned stride;
  int w, h;
  int at(int x, int y) const { return data[(uint64_t)y * stride + x]; }
  // Bilinear, clamped to the image.
  double sample(double x, double y) const
  {
    x = std::min(std::max(x, 0.0), (double)w - 1.001);
    y = std::min(std::max(y, 0.0), (double)h - 1.001);
    const int x0 = (int)x, y0 = (int)y;
    const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    const double fx = x - x0, fy = y - y0;
    const double top = at(x0, y0) * (1 - fx) + at(x1, y0) * fx;
    const double bottom = at(x0, y1) * (1 - fx) + at(x1, y1) * fx;
    return top * (1 - fy) + bottom * fy;
  }
};

// Accumulators for the four sides, fed with thinned edge points of the
// reduced image whose gradient points into the paper.
void vote(const Gray& g, LineHough* hough[4])
{
  const int w = g.w, h = g.h;
  std::vector<int> gx((size_t)w * h, 0), gy((size_t)w * h, 0);
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) {
      gx[(size_t)y * w + x] = (g.at(x + 1, y - 1) + 2 * g.at(x + 1, y) + g.at(x + 1, y + 1)) -
                              (g.at(x - 1, y - 1) + 2 * g.at(x - 1, y) + g.at(x - 1, y + 1));
      gy[(size_t)y * w + x] = (g.at(x - 1, y + 1) + 2 * g.at(x, y + 1) + g.at(x + 1, y + 1)) -
                              (g.at(x - 1, y - 1) + 2 * g.at(x, y - 1) + g.at(x + 1, y - 1));
    }
  for (int y = 2; y + 2 < h; ++y)
    for (int x = 2; x + 2 < w; ++x) {
      const size_t i = (size_t)y * w + x;
      const int ax = std::abs(gx[i]), ay = std::abs(gy[i]);
      // Thinned across the edge: a local maximum of the magnitude.
      if (ay >= kMinEdge && ay > ax && ay >= std::abs(gy[i - w]) && ay > std::abs(gy[i + w]))
        hough[gy[i] > 0 ? Top : Bottom]->add(x, y);
      if (ax >= kMinEdge && ax > ay && ax >= std::abs(gx[i - 1]) && ax > std::abs(gx[i + 1]))
        hough[gx[i] > 0 ? Left : Right]->add(x, y);
    }
}

// Whether a rough line is a sheet edge rather than a rule, a line of print
// or a photo's edge on the sheet: along most of its edge pixels the band
// just outside is darker than the band just inside, as the lid is darker
// than paper, and everything from the edge out to the scan's border is
// flat, as the lid holds no print. A sheet that fills the scan's height or
// width has no lid beyond two of its sides; what lies past a photo's edge
// reaches paper or print before the border, so those sides stay the scan's.
bool bordersLid(const Gray& g, Side side, const LineHough::Peak& p)
{
  const double c = std::cos(p.theta), s = std::sin(p.theta);
  const double sign = side == Top || side == Left ? 1 : -1;
  const double nx = c * sign, ny = s * sign;
  auto inside = [&](double x, double y) { return x >= 0 && y >= 0 && x <= g.w - 1 && y <= g.h - 1; };
  const double length = 2.0 * (g.w + g.h);
  uint32_t darker = 0;
  for (double t = -length; t <= length; t += 1) {
    const double x = p.rho * c - t * s, y = p.rho * s + t * c;
    if (!inside(x, y))
      continue;
    double in = 0, out = 0;
    int nin = 0, nout = 0;
    for (int k = 3; k <= 8; ++k)
      if (inside(x + k * nx, y + k * ny))
        in += g.sample(x + k * nx, y + k * ny), ++nin;
    double outMin = 255, outMax = 0;
    for (int k = 3; inside(x - k * nx, y - k * ny); ++k) {
      const double v = g.sample(x - k * nx, y - k * ny);
      if (k <= 10)
        out += v, ++nout;
      outMin = std::min(outMin, v);
      outMax = std::max(outMax, v);
    }
    if (nin && nout && in / nin - out / nout >= kMinEdge / 4 && outMax - outMin <= kLidRange)
      ++darker;
  }
  return darker * 2 >= p.votes;
}

struct Fit {
  bool found = false;
  double a = 0, b = 0; // across = a + b * along (y over x for top/bottom)
  int64_t count = 0;
};

// The exact edge near a rough line: on profiles across it, every `step`
// pixels along it, the position of the steepest rise into the paper, then
// a line fitted through them twice, the second time without the outliers.
Fit refine(const Gray& full, Side side, double theta, double rho, double scaleX, double scaleY)
{
  const bool horizontal = side == Top || side == Bottom;
  const double c = std::cos(theta), s = std::sin(theta);
  // The rough line in full-resolution pixels: through p0 with direction d.
  // Reduced pixel X covers full pixels from X * scale, centred half a
  // reduced pixel further on.
  const double px = rho * c, py = rho * s;
  const double p0x = (px + 0.5) * scaleX - 0.5, p0y = (py + 0.5) * scaleY - 0.5;
  double dx = -s * scaleX, dy = c * scaleY;
  const double dl = std::hypot(dx, dy);
  dx /= dl;
  dy /= dl;
  // Unit normal pointing into the paper.
  double nx = dy, ny = -dx;
  const bool inward = side == Top || side == Left;
  if ((horizontal ? ny : nx) < 0)
    nx = -nx, ny = -ny;
  if (!inward)
    nx = -nx, ny = -ny;

  const double reach = 2.5 * std::max(scaleX, scaleY) + 4; // across, either way
  const int half = (int)std::ceil(reach);
  const double length = horizontal ? full.w : full.h;
  const double step = std::max(2.0, std::max(scaleX, scaleY) * 2);
  std::vector<std::pair<double, double>> pts;
  std::vector<double> prof(2 * half + 1);
  for (double t = -2 * length; t <= 2 * length; t += step) {
    const double cx = p0x + t * dx, cy = p0y + t * dy;
    if (cx < 2 || cy < 2 || cx > full.w - 3 || cy > full.h - 3)
      continue;
    for (int k = -half; k <= half; ++k) {
      double v = 0;
      for (int a = -2; a <= 2; ++a)
        v += full.sample(cx + k * nx + a * dx, cy + k * ny + a * dy);
      prof[k + half] = v / 5;
    }
    int best = 0;
    double bestD = 0;
    for (int k = 1; k + 1 < (int)prof.size(); ++k) {
      const double d = prof[k + 1] - prof[k - 1];
      if (d > bestD) {
        bestD = d;
        best = k;
      }
    }
    if (bestD < 2.0 * kMinEdge / 8) // 8 levels over two pixels
      continue;
    // Parabola through the three slopes around the steepest one.
    double off = best - half;
    if (best >= 2 && best + 2 < (int)prof.size()) {
      const double dm = prof[best] - prof[best - 2], dp = prof[best + 2] - prof[best];
      const double den = dm - 2 * bestD + dp;
      if (den < 0)
        off += std::min(0.5, std::max(-0.5, 0.5 * (dm - dp) / den));
    }
    const double ex = cx + off * nx, ey = cy + off * ny;
    pts.push_back(horizontal ? std::make_pair(ex, ey) : std::make_pair(ey, ex));
  }

  Fit fit;
  for (int pass = 0; pass < 3; ++pass) {
    LinearRegression<double> lr;
    for (const auto& p : pts)
      lr.addXY(p.first, p.second);
    if (lr.count < kMinProfiles || (pass > 0 && lr.count < (int64_t)pts.size() / 4))
      return Fit();
    fit.found = true;
    fit.a = lr.a;
    fit.b = lr.b;
    fit.count = lr.count;
    if (lr.b == 0 && lr.a == 0)
      return Fit(); // degenerate: every point at one position along the line
    const double limit = pass == 0 ? 3.0 : 1.5;
    pts.erase(std::remove_if(pts.begin(), pts.end(),
                             [&](const std::pair<double, double>& p) {
                               return std::fabs(fit.a + fit.b * p.first - p.second) > limit;
                             }),
              pts.end());
  }
  return fit;
}

Line lineOf(const Fit& f, bool horizontal)
{
  if (horizontal)
    return Line{0, f.a, 1000, f.a + 1000 * f.b};
  return Line{f.a, 0, f.a + 1000 * f.b, 1000};
}

} // namespace

namespace {

// The two gray copies the search runs on: the full-resolution one for the
// exact edges, the reduced one for the Hough accumulators.
struct Copies {
  Image full, reduced;
  double scaleX = 1, scaleY = 1;
};

bool grayCopies(Image& image, Copies& c)
{
  c.full = image;
  if (!colorspace_by_name(c.full, "gray8", 127) || !c.full.getRawData()) {
    fprintf(stderr, "deskewFlatbed: unsupported pixel type (spp %d, bps %d)\n", image.spp, image.bps);
    return false;
  }
  c.reduced = c.full;
  const double f = std::min(1.0, (double)kReducedSize / std::max(c.full.w, c.full.h));
  if (f < 1.0)
    box_scale(c.reduced, f, f);
  if (c.reduced.w < 8 || c.reduced.h < 8)
    return false;
  c.scaleX = (double)c.full.w / c.reduced.w;
  c.scaleY = (double)c.full.h / c.reduced.h;
  return true;
}

// Each side: the outermost strong line of its accumulator that is at least a
// fifth of the image long and borders the lid, refined at full resolution.
// Returns how many sides were found.
int findSides(Copies& c, Fit fits[4])
{
  const Gray g{c.reduced.getRawData(), c.reduced.stride(), c.reduced.w, c.reduced.h};
  const Gray fg{c.full.getRawData(), c.full.stride(), c.full.w, c.full.h};
  const double deg = kPi / 180;
  const int steps = (int)(2 * kMaxSkew / kThetaStep) + 1;
  const double diag = (double)c.reduced.w + c.reduced.h;
  LineHough top(90 * deg - kMaxSkew * deg, 90 * deg + kMaxSkew * deg, steps, -diag, diag);
  LineHough bottom(90 * deg - kMaxSkew * deg, 90 * deg + kMaxSkew * deg, steps, -diag, diag);
  LineHough left(-kMaxSkew * deg, kMaxSkew * deg, steps, -diag, diag);
  LineHough right(-kMaxSkew * deg, kMaxSkew * deg, steps, -diag, diag);
  LineHough* hough[4] = {&top, &bottom, &left, &right};
  vote(g, hough);

  int found = 0;
  for (int side = Top; side <= Right; ++side) {
    const bool lowRho = side == Top || side == Left;
    const double extent = side <= Bottom ? c.reduced.w : c.reduced.h;
    const std::vector<LineHough::Peak> lines = hough[side]->strongLines(kStrongShare, 3);
    LineHough::Peak p{false, 0, 0, 0};
    for (size_t i = 0; i < lines.size() && !p.found; ++i) {
      const LineHough::Peak& l = lowRho ? lines[i] : lines[lines.size() - 1 - i];
      if (l.votes >= extent / 5 && bordersLid(g, (Side)side, l))
        p = l;
    }
    if (!p.found)
      continue;
    fits[side] = refine(fg, (Side)side, p.theta, p.rho, c.scaleX, c.scaleY);
    found += fits[side].found;
  }
  return found;
}

using Point = std::pair<double, double>;

// The corners where the four sides meet; sides not found are the scan's
// borders. False when the sides do not meet sensibly.
bool corners(const Fit fits[4], double W, double H, Point& tl, Point& tr, Point& bl, Point& br)
{
  Line lines[4] = {
    fits[Top].found ? lineOf(fits[Top], true) : Line{0, 0, W, 0},
    fits[Bottom].found ? lineOf(fits[Bottom], true) : Line{0, H - 1, W, H - 1},
    fits[Left].found ? lineOf(fits[Left], false) : Line{0, 0, 0, H},
    fits[Right].found ? lineOf(fits[Right], false) : Line{W - 1, 0, W - 1, H},
  };
  auto sane = [&](const Point& p) {
    return std::isfinite(p.first) && std::isfinite(p.second) && std::fabs(p.first) < 4 * W + 4 &&
           std::fabs(p.second) < 4 * H + 4;
  };
  return lines[Top].intersection(lines[Left], tl) && lines[Top].intersection(lines[Right], tr) &&
         lines[Bottom].intersection(lines[Left], bl) && lines[Bottom].intersection(lines[Right], br) &&
         sane(tl) && sane(tr) && sane(bl) && sane(br);
}

// The skew, weighted by how much of each side was seen: top and bottom rise
// by b, the left and right sides lean by -b for a clockwise turn. Sides not
// found have no say.
double skewOf(const Fit fits[4])
{
  const double deg = kPi / 180;
  double sum = 0, weight = 0;
  for (int side = Top; side <= Right; ++side) {
    if (!fits[side].found)
      continue;
    const double a = std::atan(fits[side].b) / deg;
    sum += (side <= Bottom ? a : -a) * fits[side].count;
    weight += fits[side].count;
  }
  return sum / weight;
}

// Whether the sheet shows at each of its corners that lies on the scan: one
// of the two sides meeting there (a side found, not the scan's border) is
// seen as an edge within 5 mm of the corner, paper against the darker lid.
// Lines of print or the marks in a band as dark as the lid, taken for a
// side, have corners where no edge shows: the sheet's true edge lies
// further out, hidden under the band.
bool cornersShow(const Gray& g, const Fit fits[4], const Point& tl, const Point& tr,
                 const Point& bl, const Point& br, double dpi)
{
  // Per side: its direction (from the top or left end on) and the normal
  // into the paper.
  double dir[4][2], normal[4][2];
  for (int side = Top; side <= Right; ++side) {
    const double b = fits[side].b, n = std::hypot(1.0, b);
    const bool horizontal = side <= Bottom;
    dir[side][0] = horizontal ? 1 / n : b / n;
    dir[side][1] = horizontal ? b / n : 1 / n;
    const double sign = side == Top || side == Left ? 1 : -1;
    normal[side][0] = (horizontal ? -b / n : 1 / n) * sign;
    normal[side][1] = (horizontal ? 1 / n : -b / n) * sign;
  }
  const int reach = std::max(3, (int)(dpi * 5 / 25.4));
  auto inside = [&](double x, double y) { return x >= 0 && y >= 0 && x <= g.w - 1 && y <= g.h - 1; };
  // Whether `side` shows as an edge going from corner c along `sense`.
  auto shows = [&](const Point& c, int side, double sense) {
    if (!fits[side].found)
      return false;
    for (int t = 0, run = 0; t <= reach; ++t) {
      const double x = c.first + sense * t * dir[side][0], y = c.second + sense * t * dir[side][1];
      double in = 0, out = 0;
      bool ok = true;
      for (int k = 3; k <= 6 && ok; ++k) {
        const double ix = x + k * normal[side][0], iy = y + k * normal[side][1];
        const double ox = x - k * normal[side][0], oy = y - k * normal[side][1];
        ok = inside(ix, iy) && inside(ox, oy);
        if (ok) {
          in += g.sample(ix, iy);
          out += g.sample(ox, oy);
        }
      }
      run = ok && (in - out) / 4 >= kMinEdge / 4 ? run + 1 : 0;
      if (run == 3)
        return true;
    }
    return false;
  };
  const struct {
    const Point& c;
    int a, b;
    double senseA, senseB;
  } corners[4] = {{tl, Top, Left, 1, 1}, {tr, Top, Right, -1, 1}, {bl, Bottom, Left, 1, -1},
                  {br, Bottom, Right, -1, -1}};
  for (const auto& k : corners) {
    // A corner off the scan (a sheet running off it) hides nothing.
    if (!inside(k.c.first, k.c.second) || (!fits[k.a].found && !fits[k.b].found))
      continue;
    if (!shows(k.c, k.a, k.senseA) && !shows(k.c, k.b, k.senseB))
      return false;
  }
  return true;
}

} // namespace

deskew_rect deskewFlatbed(Image& image)
{
  deskew_rect result = wholeImageRect(image);
  if (image.w < 8 || image.h < 8 || !image.getRawData())
    return result;

  Copies copies;
  if (!grayCopies(image, copies))
    return result;

  Fit fits[4];
  const int found = findSides(copies, fits);
  if (found < 2)
    return result;

  Point tl, tr, bl, br;
  if (!corners(fits, image.w, image.h, tl, tr, bl, br))
    return result;
  const double skew = skewOf(fits);

  auto mid = [](const Point& a, const Point& b) {
    return std::make_pair((a.first + b.first) / 2, (a.second + b.second) / 2);
  };
  auto dist = [](const Point& a, const Point& b) {
    return std::hypot(a.first - b.first, a.second - b.second);
  };
  result.x = saturate_cast<int32_t>(std::ceil(tl.first));
  result.y = saturate_cast<int32_t>(std::ceil(tl.second));
  result.width = saturate_cast<int32_t>(std::floor(dist(mid(tl, bl), mid(tr, br))));
  result.height = saturate_cast<int32_t>(std::floor(dist(mid(tl, tr), mid(bl, br))));
  result.angle = (float)-skew;
  result.x_back = (image.w - 1) - saturate_cast<int32_t>(std::ceil(tr.first));
  result.y_back = saturate_cast<int32_t>(std::ceil(tr.second));

  // Lines of print or a photo's edges on a page without a lid around it can
  // pass for sides: a cut that is no sheet, or that would throw away print,
  // is no sheet.
  const Gray g{copies.full.getRawData(), copies.full.stride(), copies.full.w, copies.full.h};
  const double dpi = image.resX < 1 ? 200.0 : (double)image.resX;
  auto gray = [&g](int x, int y) { return g.at(x, y); };
  if (!sheetcheck::plausible(image.w, image.h, result) || !cornersShow(g, fits, tl, tr, bl, br, dpi) ||
      !sheetcheck::backgroundOutside(image.w, image.h, result, dpi, 64, gray) ||
      sheetcheck::stepsOutside(image.w, image.h, result, dpi, 1, 0, image.h, gray))
    return wholeImageRect(image);
  // A dark background around the cut is no lid but a sheet-fed scanner's,
  // against which the sheet's edges were not found: print as dark as the
  // background hides them (a band over the sheet's end), and a cut at the
  // lines seen would drop it.
  const int32_t level = sheetcheck::levelOutside(image.w, image.h, result, dpi, gray);
  if (level >= 0 && level < kDarkBackground)
    return wholeImageRect(image);
  return result;
}
