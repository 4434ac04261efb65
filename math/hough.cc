#include "math/Hough.hh"

#include <algorithm>
#include <cmath>

LineHough::LineHough(double thetaFrom_, double thetaTo, int steps, double rhoMin_, double rhoMax,
                     double rhoStep_)
  : thetaFrom(thetaFrom_), thetaStep(0), rhoMin(rhoMin_), rhoStep(rhoStep_ > 0 ? rhoStep_ : 1.0),
    bins(0)
{
  steps = std::max(1, steps);
  thetaStep = steps > 1 ? (thetaTo - thetaFrom) / (steps - 1) : 0.0;
  const double span = rhoMax - rhoMin;
  // A bin count past 2^24 is a caller's mistake, not an image.
  const double n = span / rhoStep;
  bins = n > 0 && std::isfinite(n) ? (int)std::min(std::ceil(n), 16777216.0) : 1;
  cosT.resize(steps);
  sinT.resize(steps);
  for (int t = 0; t < steps; ++t) {
    cosT[t] = std::cos(theta(t));
    sinT[t] = std::sin(theta(t));
  }
  acc.assign((size_t)steps * bins, 0);
}

double LineHough::theta(int t) const
{
  return thetaFrom + t * thetaStep;
}

void LineHough::add(double x, double y)
{
  const int steps = thetaSteps();
  for (int t = 0; t < steps; ++t) {
    const double r = std::floor((x * cosT[t] + y * sinT[t] - rhoMin) / rhoStep);
    if (r >= 0 && r < bins)
      ++acc[(size_t)t * bins + (size_t)r];
  }
}

LineHough::Peak LineHough::strongest() const
{
  Peak p{false, 0, 0, 0};
  for (int t = 0; t < thetaSteps(); ++t)
    for (int r = 0; r < bins; ++r)
      if (votes(t, r) > p.votes)
        p = Peak{true, theta(t), rho(r), votes(t, r)};
  return p;
}

std::vector<LineHough::Peak> LineHough::strongLines(double share, int window) const
{
  std::vector<Peak> lines;
  const Peak top = strongest();
  if (!top.found)
    return lines;
  const double limit = std::max(1.0, top.votes * share);
  // Strong rho bins, then each run of them (gaps up to `window`) gives its
  // strongest cell within `window` bins.
  std::vector<char> strong(bins, 0);
  for (int t = 0; t < thetaSteps(); ++t)
    for (int r = 0; r < bins; ++r)
      if (votes(t, r) >= limit)
        strong[r] = 1;
  window = std::max(0, window);
  for (int r = 0; r < bins;) {
    if (!strong[r]) {
      ++r;
      continue;
    }
    int end = r;
    for (int k = r; k < bins && k <= end + window; ++k)
      if (strong[k])
        end = k;
    Peak p{false, 0, 0, 0};
    const int lo = std::max(0, r - window), hi = std::min(bins - 1, end + window);
    for (int t = 0; t < thetaSteps(); ++t)
      for (int k = lo; k <= hi; ++k)
        if (votes(t, k) > p.votes)
          p = Peak{true, theta(t), rho(k), votes(t, k)};
    lines.push_back(p);
    r = end + 1;
  }
  return lines;
}

LineHough::Peak LineHough::outermost(bool lowRho, double share, int window) const
{
  const std::vector<Peak> lines = strongLines(share, window);
  if (lines.empty())
    return Peak{false, 0, 0, 0};
  return lowRho ? lines.front() : lines.back();
}
