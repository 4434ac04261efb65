// Interleaved 2 of 5, read forward or mirrored from one scan line. The text
// is every digit of the symbol; no check digit is verified or removed.
#pragma once

#include "bardecode/bardecode.hh"
#include "bardecode/scanner_utils.hh"

namespace BarDecode {

class code25i_t {
public:
  code25i_t();

  scanner_result_t scan(token_iterator& start, token_iterator end, int x, int y,
                        unsigned quiet_width) const;
  scanner_result_t reverse_scan(token_iterator& start, token_iterator end, int x, int y,
                                unsigned quiet_width) const;

  // Digit by 5-bit narrow/wide word (first element in bit 4, 1 = wide).
  unsigned char table[32];

  // Tolerance of the mirrored start-pattern test on ratios that should be 2.
  static constexpr double ltol = 0.3;
};

extern const code25i_t code25i_impl;

} // namespace BarDecode
