// Line Hough accumulator: every point votes for the lines through it, in the
// normal form x cos(theta) + y sin(theta) = rho, over a band of directions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class LineHough {
public:
  struct Peak {
    bool found;
    double theta; // radians
    double rho;
    uint32_t votes;
  };

  // Directions thetaFrom..thetaTo (radians) in `steps` equal steps (at least
  // one); distances rhoMin..rhoMax in bins of rhoStep. Sizes are bounded by
  // the caller: the accumulator holds steps x bins counters.
  LineHough(double thetaFrom, double thetaTo, int steps, double rhoMin, double rhoMax,
            double rhoStep = 1.0);

  void add(double x, double y);

  int thetaSteps() const { return (int)cosT.size(); }
  int rhoBins() const { return bins; }
  uint32_t votes(int t, int r) const { return acc[(size_t)t * bins + r]; }
  double theta(int t) const;
  double rho(int r) const { return rhoMin + (r + 0.5) * rhoStep; }

  Peak strongest() const;

  // The line nearest one end of the rho range among the strong ones: of the
  // cells holding at least `share` of the strongest cell's votes, the one
  // with the smallest rho (lowRho) or the largest, then the strongest cell
  // within `window` bins of it. Not found when nothing voted.
  Peak outermost(bool lowRho, double share, int window) const;

  // Every strong line, by rising rho: the strongest cell of each group of
  // cells holding at least `share` of the strongest cell's votes, groups
  // being `window` bins of rho apart at least.
  std::vector<Peak> strongLines(double share, int window) const;

private:
  double thetaFrom, thetaStep, rhoMin, rhoStep;
  int bins;
  std::vector<double> cosT, sinT;
  std::vector<uint32_t> acc;
};
