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

LineHough::Peak LineHough::outermost(bool lowRho, double share, int window) const
{
  const Peak top = strongest();
  if (!top.found)
    return top;
  const double limit = std::max(1.0, top.votes * share);
  int edge = lowRho ? bins : -1;
  for (int t = 0; t < thetaSteps(); ++t)
    for (int r = 0; r < bins; ++r)
      if (votes(t, r) >= limit)
        edge = lowRho ? std::min(edge, r) : std::max(edge, r);
  Peak p{false, 0, 0, 0};
  const int lo = std::max(0, edge - window), hi = std::min(bins - 1, edge + window);
  for (int t = 0; t < thetaSteps(); ++t)
    for (int r = lo; r <= hi; ++r)
      if (votes(t, r) > p.votes)
        p = Peak{true, theta(t), rho(r), votes(t, r)};
  return p;
}
