// Incremental least-squares fit of y = a + b x, kept as running sums so any
// number of points costs the same memory.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

template <typename T>
class LinearRegression {
public:
  int64_t count = 0;
  T sumX = 0, sumY = 0, sumXX = 0, sumYY = 0, sumXY = 0;
  T a = 0;        // intercept
  T b = 0;        // slope
  T coefD = 0;    // coefficient of determination
  T coefC = 0;    // correlation coefficient
  T stdError = 0; // standard error of the estimate

  // The flag is accepted for callers that batch, but every point
  // recomputes the fit.
  void addXY(const T& x, const T& y, bool = true)
  {
    sumX += x;
    sumY += y;
    sumXX += x * x;
    sumYY += y * y;
    sumXY += x * y;
    ++count;
    calculate();
  }

  // Adds integer pairs, `first` as x and `second` as y.
  template <typename It>
  void addRange(It first, It last)
  {
    for (; first != last; ++first)
      addXY((T)first->first, (T)first->second);
    calculate();
  }

  void calculate()
  {
    a = b = coefD = coefC = stdError = 0;
    if (count < 3)
      return;
    const T n = (T)count;
    const T d = sumXX * n - sumX * sumX;
    // Written so that a NaN d also stops here.
    if (!(std::fabs(d) > DBL_EPSILON))
      return;
    b = (sumXY * n - sumY * sumX) / d;
    a = (sumY - b * sumX) / n;
    const T sst = sumYY - sumY * sumY / n;
    const T ssr = (sumXY - sumX * sumY / n) * b;
    coefD = ssr / sst;
    coefC = std::sqrt(coefD);
    stdError = std::sqrt((sst - ssr) / (n - 2));
  }
};
