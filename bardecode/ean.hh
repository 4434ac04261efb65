// EAN-8, EAN-13 and UPC-A, read forward or mirrored from one scan line.
#pragma once

#include "bardecode/bardecode.hh"
#include "bardecode/scanner_utils.hh"

namespace BarDecode {

class ean_t {
public:
  ean_t();

  // `start` stands on the white run before the first bar; on return on the
  // last token consumed. `dir` allows forward (1) and mirrored (4) reads.
  scanner_result_t scan(token_iterator& start, token_iterator end, int x, int y,
                        unsigned quiet_width, directions_t dir) const;

  // Digit table by 7-bit word (L, G and R sets), first digit by parity word
  // (+128), guard kind by guard word (+192); 0 = no match.
  unsigned char table[224];
};

extern const ean_t ean_impl;

} // namespace BarDecode
