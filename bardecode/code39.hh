// Code 39, read forward or mirrored from one scan line. The text is the
// characters between start and stop as they stand: no check character is
// removed and no full-ASCII pair expanded.
#pragma once

#include "bardecode/bardecode.hh"
#include "bardecode/scanner_utils.hh"

namespace BarDecode {

class code39_t {
public:
  enum { start_stop = 0xFE, no_char = 0xFF };

  code39_t();

  scanner_result_t scan(token_iterator& start, token_iterator end, int x, int y,
                        unsigned quiet_width) const;
  scanner_result_t reverse_scan(token_iterator& start, token_iterator end, int x, int y,
                                unsigned quiet_width) const;
  // Takes the next token as the gap between characters: white, and between
  // 1/30 and 1/7 of the previous character's width n.
  bool expect_n(token_iterator& start, token_iterator end, unsigned n) const;

  // Character by 9-bit word (first element in bit 8, 1 = wide).
  unsigned char table[512];

private:
  template <bool reverse>
  scanner_result_t read(token_iterator& start, token_iterator end, int x, int y,
                        unsigned quiet_width) const;
  template <bool reverse>
  unsigned char classify(const bar_vector_t& b) const;
};

extern const code39_t code39_impl;

} // namespace BarDecode
