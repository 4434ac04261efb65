// Searches a whole image for barcodes: walks its scan lines (rows, or
// columns when `vertical`), finds places where a symbol may begin (a wide
// light run before a bar) and offers each to the decoders in a fixed order.
#pragma once

#include <vector>

#include "bardecode/bardecode.hh"
#include "bardecode/tokenizer.hh"

namespace BarDecode {

template <bool vertical>
class BarcodeIterator {
public:
  // `threshold` is kept for the callers' sake: edges are found with an
  // adaptive threshold. Stands on the first hit, or at the end.
  BarcodeIterator(const Image* image, int threshold, unsigned types, directions_t directions,
                  int concurrent_lines = 3, int line_skip = 8);
  virtual ~BarcodeIterator() {}

  void next();
  bool end() const { return tokenizer.it.end() && cursor == line_end; }
  const scanner_result_t& operator*() const { return current; }
  const scanner_result_t* operator->() const { return &current; }
  BarcodeIterator& operator++()
  {
    next();
    return *this;
  }

  Tokenizer<vertical> tokenizer;
  unsigned types;
  directions_t directions;
  scanner_result_t current;
  std::vector<token_t> tokens;
  int x, y;
  std::vector<token_t>::const_iterator cursor, line_end;

private:
  scanner_result_t try_decoders(unsigned quiet_width);
};

extern template class BarcodeIterator<false>;
extern template class BarcodeIterator<true>;

} // namespace BarDecode
