// The barcode iterator.
#include "bardecode/scanner.hh"
#include "bardecode/code128.hh"
#include "bardecode/code25i.hh"
#include "bardecode/code39.hh"
#include "bardecode/ean.hh"

namespace BarDecode {

namespace {
// Fewest tokens from a candidate's white run to the line's end that can
// hold a symbol.
const size_t min_tokens = 24;
const unsigned min_quiet = 7;
} // namespace

template <bool vertical>
BarcodeIterator<vertical>::BarcodeIterator(const Image* image, int /*threshold*/, unsigned _types,
                                           directions_t _directions, int concurrent_lines,
                                           int line_skip)
  : tokenizer(image, concurrent_lines, line_skip), types(_types), directions(_directions),
    current(), tokens(), x(0), y(0), cursor(tokens.end()), line_end(tokens.end())
{
  next();
}

template <bool vertical>
scanner_result_t BarcodeIterator<vertical>::try_decoders(unsigned quiet_width)
{
  const auto W = cursor;
  const int hx = vertical ? x : x + (int)quiet_width;
  const int hy = vertical ? y + (int)quiet_width : y;
  scanner_result_t r;
  const bool fwd = directions & left_right, rev = directions & right_left;
#define TRY(cond, call)                                                                           \
  if (cond) {                                                                                     \
    cursor = W;                                                                                   \
    r = call;                                                                                     \
    if (r.valid)                                                                                  \
      return r;                                                                                   \
  }
  TRY(fwd && (types & code39), code39_impl.scan(cursor, line_end, hx, hy, quiet_width));
  TRY(rev && (types & code39), code39_impl.reverse_scan(cursor, line_end, hx, hy, quiet_width));
  TRY(fwd && (types & code25i), code25i_impl.scan(cursor, line_end, hx, hy, quiet_width));
  TRY(rev && (types & code25i), code25i_impl.reverse_scan(cursor, line_end, hx, hy, quiet_width));
  TRY(fwd && (types & code128), code128_impl.scan(cursor, line_end, hx, hy, quiet_width));
  TRY(rev && (types & code128), code128_impl.reverse_scan(cursor, line_end, hx, hy, quiet_width));
  TRY((fwd || rev) && (types & ean),
      ean_impl.scan(cursor, line_end, hx, hy, quiet_width, directions));
#undef TRY
  cursor = W;
  return scanner_result_t();
}

template <bool vertical>
void BarcodeIterator<vertical>::next()
{
  int& along = vertical ? y : x;
  int& line = vertical ? x : y;
  for (;;) {
    if (cursor == line_end) {
      if (tokenizer.it.end())
        return;
      along = 0;
      line = vertical ? tokenizer.it.x : tokenizer.it.y;
      tokenizer.next_line(tokens);
      cursor = tokens.begin();
      line_end = tokens.end();
    }
    if (line_end - cursor < 2) {
      cursor = line_end;
      continue;
    }
    // Skip to the next light run of min_quiet or more before a bar.
    auto N = cursor + 1;
    const token_t& W = *cursor;
    if (W.first || !N->first || W.second < min_quiet) {
      if (N + 1 == line_end) {
        cursor = line_end;
        continue;
      }
      along += W.second;
      cursor = N;
      continue;
    }
    if ((size_t)(line_end - cursor) < min_tokens) {
      cursor = line_end;
      continue;
    }
    if ((uint64_t)3 * N->second > W.second) {
      along += W.second;
      cursor = N;
      continue;
    }
    const auto candidate = cursor;
    scanner_result_t r = try_decoders(W.second);
    if (r.valid) {
      current = r;
      for (auto t = candidate; t != cursor; ++t)
        along += t->second;
      return;
    }
    along += W.second;
    cursor = N;
  }
}

template class BarcodeIterator<false>;
template class BarcodeIterator<true>;

} // namespace BarDecode
