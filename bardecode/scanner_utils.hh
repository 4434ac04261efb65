// What the symbology scanners share: bar buffers filled from a line's
// tokens, and module words, the bars of a group as bits (black 1, first
// module most significant) for table lookup.
#pragma once

#include <cstdint>
#include <vector>

#include "bardecode/tokenizer.hh"

namespace BarDecode {

typedef std::vector<token_t>::const_iterator token_iterator;

struct bar_vector_t : public std::vector<token_t> {
  uint32_t black_width;
  uint32_t white_width;
  uint32_t total_width;

  explicit bar_vector_t(int n)
    : std::vector<token_t>(n, token_t(false, 0)), black_width(0), white_width(0), total_width(0)
  {
  }
};

typedef uint16_t module_word_t;

// The cursor `start` stands on the last token consumed: each step moves it
// on first, then takes the token. Both return the number of tokens taken.
template <typename IT>
unsigned add_bars(IT& start, IT end, bar_vector_t& b, unsigned n)
{
  const size_t m = b.size();
  b.resize(m + n);
  for (unsigned j = 0; j < n; ++j) {
    ++start;
    if (start == end) {
      b.resize(m + j);
      b.total_width = b.black_width + b.white_width;
      return j;
    }
    b[m + j] = *start;
    if (start->first)
      b.black_width += start->second;
    else
      b.white_width += start->second;
  }
  b.total_width = b.black_width + b.white_width;
  return n;
}

template <typename IT>
unsigned get_bars(IT& start, IT end, bar_vector_t& b, unsigned n)
{
  b.clear();
  b.black_width = b.white_width = b.total_width = 0;
  return add_bars(start, end, b, n);
}

// Bars from first to last, each width / u rounded to 1..4 modules; 0 when a
// bar does not resolve or the modules do not add up to k (k <= 16).
module_word_t get_module_word(const bar_vector_t& b, double u, unsigned k);
// The same with the bars taken from the last to the first.
module_word_t reverse_get_module_word(const bar_vector_t& b, double u, unsigned k);
// The same with fallbacks when the first attempt fails: a module width
// refined toward the group's mean (written back to u), u scaled by 0.75 and
// 1.25, and bars grown or shrunk by a pixel for ink spread.
module_word_t get_module_word_adjust_u(const bar_vector_t& b, double& u, unsigned k);
// The fallbacks of get_module_word_adjust_u in reverse bar order.
module_word_t reverse_get_module_word_adjust_u(const bar_vector_t& b, double& u, unsigned k);

} // namespace BarDecode
