// The one place where a floating-point value becomes an integer when it may
// be NaN or outside the integer's range: NaN gives 0, out-of-range values
// clamp to the type's limits, everything else truncates toward zero.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

template <typename T>
inline T saturate_cast(double v)
{
  static_assert(std::numeric_limits<T>::is_integer, "integer target");
  if (std::isnan(v))
    return 0;
  if (v <= (double)std::numeric_limits<T>::min())
    return std::numeric_limits<T>::min();
  if (v >= (double)std::numeric_limits<T>::max())
    return std::numeric_limits<T>::max();
  return (T)v;
}

// Clamp an integer to [lo, hi].
template <typename T>
inline T clamp_int(T v, T lo, T hi)
{
  return v < lo ? lo : (v > hi ? hi : v);
}
