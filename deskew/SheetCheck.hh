// Whether what a sheet detector measured can be a sheet at all. Both
// detectors answer "no sheet" (the whole image, unturned) when these fail:
// cutting a page that is not a sheet on a background loses its content.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "deskew/Deskew.hh"

namespace sheetcheck {

// The cut as a frame: the top-left corner and the unit vectors along its
// rows (u) and columns (v), as deskewApply walks them.
struct Frame {
  double x0, y0, ux, uy, vx, vy, w, h;
  explicit Frame(const deskew_rect& r)
  {
    const double a = -(double)r.angle / 180.0 * 3.141592653589793;
    x0 = r.x;
    y0 = r.y;
    ux = std::cos(a);
    uy = std::sin(a);
    vx = -uy;
    vy = ux;
    w = r.width;
    h = r.height;
  }
  // The columns [x0, x1) of row y that lie within `margin` of the cut (an
  // empty run when none do), rounded inwards by a pixel so that every
  // column in it is within.
  void run(int y, double margin, int W, int& x0, int& x1) const
  {
    double lo = -1e300, hi = 1e300;
    const double dy = y - this->y0;
    // each bound: -margin <= a * x + b <= limit + margin along u and v
    const double bounds[2][3] = {{ux, dy * uy, w}, {vx, dy * vy, h}};
    for (const auto& c : bounds) {
      const double a = c[0], b = c[1] - a * this->x0, l = -margin - b, r = c[2] + margin - b;
      if (std::fabs(a) < 1e-12) {
        if (l > 0 || r < 0)
          lo = 1, hi = 0;
        continue;
      }
      const double p = l / a, q = r / a;
      lo = std::max(lo, std::min(p, q));
      hi = std::min(hi, std::max(p, q));
    }
    x0 = 0;
    x1 = 0;
    if (!(lo <= hi))
      return;
    const double a = std::max(0.0, std::ceil(lo) + 1), b = std::min((double)W, std::floor(hi));
    if (a < b) {
      x0 = (int)a;
      x1 = (int)b;
    }
  }

  // How far (x, y) lies outside the cut along either axis; <= 0 inside.
  double outside(double x, double y) const
  {
    const double dx = x - x0, dy = y - y0;
    const double u = dx * ux + dy * uy, v = dx * vx + dy * vy;
    return std::max(std::max(-u, u - w), std::max(-v, v - h));
  }
};

// Most of the scan, a sane aspect and an angle the detectors measure.
inline bool plausible(int W, int H, const deskew_rect& r)
{
  if (r.width < 1 || r.height < 1 || !std::isfinite(r.angle) || std::fabs(r.angle) > 15)
    return false;
  const double area = (double)r.width * r.height, scan = (double)W * H;
  const double aspect = (double)r.width / r.height;
  return area >= 0.25 * scan && aspect >= 1.0 / 6 && aspect <= 6;
}

// Print on paper outside the cut: samples (every `step` pixels) lying more
// than `margin` pixels outside it whose level differs from the sample
// `step` pixels to the right or below by more than `contrast`. A scanner
// background is flat; a text page cut into is not. A few such places are
// noise, dust or the sheet's own torn edge.
template <typename Gray>
bool backgroundOutside(int W, int H, const deskew_rect& r, double dpi, int32_t contrast,
                       Gray gray)
{
  const Frame f(r);
  const int step = std::max(1, (int)(dpi / 75));
  const double margin = dpi * 2 / 25.4;
  int64_t outside = 0, marks = 0;
  for (int y = 0; y + step < H; y += step)
    for (int x = 0; x + step < W; x += step) {
      if (f.outside(x, y) <= margin || f.outside(x + step, y) <= margin ||
          f.outside(x, y + step) <= margin)
        continue;
      ++outside;
      const int32_t p = gray(x, y);
      if (std::abs(p - gray(x + step, y)) > contrast || std::abs(p - gray(x, y + step)) > contrast)
        ++marks;
    }
  return marks <= 50 + outside / 500;
}

// Print of any shade outside the cut: samples (every `step` pixels) lying
// more than `margin` pixels outside it that depart from the background's
// own level there by its tolerance, together with the sample `step` pixels
// to the right or below (one such sample alone is noise or dust). Light
// print counts as much as dark: white text in a dark band, rings in a
// photograph as dark as the background. `departs(x, y)` says whether the
// pixel is not background. Only rows [from, to) are looked at.
template <typename Departs>
bool printOutside(int W, int H, const deskew_rect& r, double dpi, int from, int to, Departs departs)
{
  const Frame f(r);
  const int step = std::max(1, (int)(dpi / 75));
  const double margin = dpi * 2 / 25.4;
  int64_t outside = 0, marks = 0;
  for (int y = std::max(from, 0); y + step < std::min(to, H); y += step) {
    // The row's samples within the margin around the cut form one run
    // [in0, in1): only those outside it are looked at.
    int in0 = 0, in1 = 0;
    f.run(y, margin, W, in0, in1);
    for (int x = 0; x + step < W; x += step) {
      if (x >= in0 && x < in1) {
        x = (in1 - 1) / step * step;
        continue;
      }
      if (f.outside(x, y) <= margin)
        continue;
      ++outside;
      if (departs(x, y) && ((f.outside(x + step, y) > margin && departs(x + step, y)) ||
                            (f.outside(x, y + step) > margin && departs(x, y + step))))
        ++marks;
    }
  }
  return marks > 20 + outside / 20000;
}

// Print of any shade outside the cut, told by the scan alone, whichever
// detector made the cut: a background is even but for its noise and a slow
// drift, while print steps from it, faintly or not (light letters in a band
// of the background's own level, the band's own edge). Outside the cut and
// more than `margin` pixels from it, sums of 2 x 2 pixels every `step`
// pixels are compared with the next sum to the right and below; a step
// larger than the background's noise allows (six of its deviations, at
// least three levels; the noise told by the median step) where the next
// sample along steps too is print. A few such places are dust. `scale` is
// one level in the samples' unit. Only rows [from, to) are looked at.
template <typename Gray>
bool stepsOutside(int W, int H, const deskew_rect& r, double dpi, int32_t scale, int from, int to,
                  Gray gray)
{
  const Frame f(r);
  const int step = std::max(2, (int)(dpi / 75));
  const double margin = dpi * 2 / 25.4;
  auto sum = [&](int x, int y) {
    return (int32_t)(gray(x, y) + gray(x + 1, y) + gray(x, y + 1) + gray(x + 1, y + 1));
  };
  // The samples lying outside, a row of the grid at a time, with their
  // steps to the right and below (a step to a sample within the margin or
  // beyond the scan counts as none).
  const int nx = (W - 2) / step + 1, ny = (H - 2) / step + 1;
  if (nx < 2 || ny < 2)
    return false;
  from = std::max(from, 0);
  to = std::min(to, H);
  // Per row of the grid, the columns within the margin around the cut:
  // only the grid's columns before `skip0` and from `skip1` on are outside.
  std::vector<int> in0(ny), in1(ny), skip0(ny), skip1(ny);
  for (int j = 0; j < ny; ++j) {
    f.run(j * step, margin, W, in0[j], in1[j]);
    skip0[j] = std::min(nx, (in0[j] + step - 1) / step);
    skip1[j] = std::max(skip0[j], std::min(nx, (in1[j] + step - 1) / step));
  }
  auto out = [&](int i, int j) {
    const int x = i * step, y = j * step;
    return i < nx && j < ny && y >= from && y + 1 < to && (x < in0[j] || x >= in1[j]) &&
           f.outside(x, y) > margin;
  };
  // The sums of the samples outside in row j of the grid, -1 where a
  // sample is not outside (a sum is never negative); the column after the
  // last is never outside.
  auto rowSums = [&](int j, std::vector<int32_t>& s) {
    std::fill(s.begin(), s.end(), -1);
    if (j >= ny)
      return;
    for (int part = 0; part < 2; ++part)
      for (int i = part ? skip1[j] : 0; i < (part ? nx : skip0[j]); ++i)
        if (out(i, j))
          s[i] = sum(i * step, j * step);
  };
  // The steps of a row's samples to the right and below, from its sums and
  // the next row's: -1 where none.
  auto rowSteps = [nx](const std::vector<int32_t>& s, const std::vector<int32_t>& next,
                       std::vector<int32_t>& right, std::vector<int32_t>& below) {
    for (int i = 0; i < nx; ++i) {
      right[i] = s[i] >= 0 && s[i + 1] >= 0 ? std::abs(s[i + 1] - s[i]) : -1;
      below[i] = s[i] >= 0 && next[i] >= 0 ? std::abs(next[i] - s[i]) : -1;
    }
    right[nx] = below[nx] = -1;
  };
  std::vector<int32_t> sums(nx + 1), nextSums(nx + 1);
  std::vector<int32_t> right(nx + 1), below(nx + 1), right1(nx + 1), below1(nx + 1);
  std::vector<int32_t> steps;
  rowSums(0, sums);
  for (int j = 0; j < ny; ++j) {
    rowSums(j + 1, nextSums);
    rowSteps(sums, nextSums, right, below);
    for (int i = 0; i < nx; ++i)
      for (int32_t v : {right[i], below[i]})
        if (v >= 0)
          steps.push_back(v);
    sums.swap(nextSums);
  }
  if (steps.empty())
    return false;
  std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
  // The median of |a - b| for two sums of Gaussian noise is 0.954 of one
  // sum's deviation.
  const double sigma = (double)steps[steps.size() / 2] / 0.954;
  const double limit = std::max(6 * sigma, 12.0 * scale);
  // The steps of rows j and j + 1 at a time; `sums` holds row j + 1's.
  int64_t marks = 0;
  rowSums(0, nextSums);
  rowSums(1, sums);
  rowSteps(nextSums, sums, right, below);
  for (int j = 0; j < ny; ++j) {
    rowSums(j + 2, nextSums);
    rowSteps(sums, nextSums, right1, below1);
    auto marked = [&](const std::vector<int32_t>& r, const std::vector<int32_t>& b, int i) {
      return r[i] > limit || b[i] > limit;
    };
    for (int i = 0; i < nx; ++i)
      if (marked(right, below, i) && (marked(right, below, i + 1) || marked(right1, below1, i)))
        ++marks;
    right.swap(right1);
    below.swap(below1);
    sums.swap(nextSums);
  }
  return marks > 20 + (int64_t)steps.size() / 40000;
}

// The level of the background: the median of the samples lying more than
// `margin` pixels outside the cut (most of them are background when the
// cut is a sheet). -1 when there are none.
template <typename Gray>
int32_t levelOutside(int W, int H, const deskew_rect& r, double dpi, Gray gray)
{
  const Frame f(r);
  const int step = std::max(2, (int)(dpi / 25));
  const double margin = dpi * 2 / 25.4;
  std::vector<int32_t> v;
  for (int y = 0; y < H; y += step)
    for (int x = 0; x < W; x += step)
      if (f.outside(x, y) > margin)
        v.push_back(gray(x, y));
  if (v.empty())
    return -1;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// The level of the paper: the upper quartile of the samples inside the cut
// (print is darker than paper and covers less than half of a page).
template <typename Gray>
int32_t paperLevel(int W, int H, const deskew_rect& r, double dpi, Gray gray)
{
  const Frame f(r);
  const int step = std::max(2, (int)(dpi / 25));
  std::vector<int32_t> v;
  for (int y = 0; y < H; y += step)
    for (int x = 0; x < W; x += step)
      if (f.outside(x, y) <= 0)
        v.push_back(gray(x, y));
  if (v.empty())
    return -1;
  const size_t k = v.size() * 3 / 4;
  std::nth_element(v.begin(), v.begin() + k, v.end());
  return v[k];
}

} // namespace sheetcheck
