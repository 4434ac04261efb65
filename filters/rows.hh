// Row access for the per-pixel functors: a whole row of samples as integers
// on the iterator's scale (bit types 0..255), channel by channel.
#pragma once

#include <cstdint>

#include "image/TypedIterators.hh"

template <typename T, typename V>
inline void read_row(const Image& image, int y, V* out)
{
  const int N = T::accu::samples;
  T it = T(image).at(0, y);
  for (int x = 0; x < image.w; ++x, ++it) {
    const typename T::accu a = *it;
    for (int c = 0; c < N; ++c)
      out[(int64_t)x * N + c] = (V)a.v[c];
  }
}

// Values must already lie in the type's range.
template <typename T, typename V>
inline void write_row(Image& image, int y, const V* in)
{
  const int N = T::accu::samples;
  T it = T(image).at(0, y);
  typename T::accu a;
  for (int x = 0; x < image.w; ++x, ++it) {
    for (int c = 0; c < N; ++c)
      a.v[c] = (typename T::accu::vtype)in[(int64_t)x * N + c];
    it.set(a);
  }
}
