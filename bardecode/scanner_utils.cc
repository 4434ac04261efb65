// Module words from bar buffers.
#include <cmath>

#include "bardecode/scanner_utils.hh"

namespace BarDecode {

namespace {

// Bars of one word in the order they are read.
template <bool reverse>
module_word_t module_word(const bar_vector_t& b, double u, unsigned k)
{
  // A zero or non-finite module width (zero-width tokens) cannot resolve
  // into modules; checking the ratio's range before rounding also keeps
  // lround away from infinities and values beyond long.
  if (!(u > 0.0) || !std::isfinite(u) || k > 16)
    return 0;
  uint32_t word = 0;
  unsigned modules = 0;
  const size_t n = b.size();
  for (size_t j = 0; j < n; ++j) {
    const token_t& t = reverse ? b[n - 1 - j] : b[j];
    const double r = t.second / u;
    if (!(r >= 0.5 && r < 4.5))
      return 0;
    const unsigned m = (unsigned)std::lround(r);
    modules += m;
    word = (word << m) & 0xFFFF;
    if (t.first)
      word |= (1u << m) - 1;
  }
  return modules == k ? (module_word_t)word : 0;
}

// A copy with black bars grown by d pixels and white ones shrunk by d (d
// is +1 or -1); false when a bar would go below 0.
bool spread(const bar_vector_t& b, int d, bar_vector_t& out)
{
  out = b;
  for (token_t& t : out) {
    const int64_t w = (int64_t)t.second + (t.first ? d : -d);
    if (w < 0)
      return false;
    t.second = (unsigned)w;
  }
  return true;
}

template <bool reverse>
module_word_t module_word_adjust_u(const bar_vector_t& b, double& u, unsigned k)
{
  if (module_word_t w = module_word<reverse>(b, u, k))
    return w;
  if (k == 0)
    return 0;
  const double mean = (double)b.total_width / k;
  if (mean != u) {
    if (std::fabs(mean - u) > 0.4 * u)
      return 0;
    u = (2 * mean + u) / 3;
    if (module_word_t w = module_word<reverse>(b, u, k))
      return w;
  }
  if (module_word_t w = module_word<reverse>(b, 0.75 * u, k))
    return w;
  if (module_word_t w = module_word<reverse>(b, 1.25 * u, k))
    return w;
  bar_vector_t c(0);
  module_word_t w = 0;
  if (spread(b, +1, c))
    w = module_word<reverse>(c, u, k);
  if (w)
    return w;
  w = 0;
  if (spread(b, -1, c))
    w = module_word<reverse>(c, u, k);
  return w;
}

} // namespace

module_word_t get_module_word(const bar_vector_t& b, double u, unsigned k)
{
  return module_word<false>(b, u, k);
}

module_word_t reverse_get_module_word(const bar_vector_t& b, double u, unsigned k)
{
  return module_word<true>(b, u, k);
}

module_word_t get_module_word_adjust_u(const bar_vector_t& b, double& u, unsigned k)
{
  return module_word_adjust_u<false>(b, u, k);
}

module_word_t reverse_get_module_word_adjust_u(const bar_vector_t& b, double& u, unsigned k)
{
  return module_word_adjust_u<true>(b, u, k);
}

} // namespace BarDecode
