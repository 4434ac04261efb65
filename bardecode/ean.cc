// EAN-8, EAN-13 and UPC-A decoding.
#include <algorithm>
#include <cmath>

#include "bardecode/ean.hh"

namespace BarDecode {

namespace {

enum { digits = 0, first_digit = 128, guards = 192 };
enum guard_kind { normal_guard = 1, centre_guard = 2, special_guard = 3, addon_guard = 4, addon_delineator = 5 };

// Number set A (odd parity); C is its complement, B its mirror image.
const unsigned char set_a[10] = {13, 25, 19, 61, 35, 49, 47, 59, 55, 11};
// Left-half parities that imply the first digit of an EAN-13 (1 = set A,
// first left-half digit in bit 5).
const unsigned char first_parity[10] = {63, 52, 50, 49, 44, 38, 35, 42, 41, 37};

unsigned ones(unsigned w)
{
  unsigned c = 0;
  for (; w; w &= w - 1)
    ++c;
  return c;
}

unsigned mirror7(unsigned w)
{
  unsigned r = 0;
  for (int i = 0; i < 7; ++i)
    if (w & (1u << i))
      r |= 1u << (6 - i);
  return r;
}

} // namespace

const ean_t ean_impl;

ean_t::ean_t()
{
  std::fill(table, table + sizeof table, 0);
  for (int d = 0; d < 10; ++d) {
    const unsigned a = set_a[d], c = ~a & 127, b = mirror7(c);
    table[digits + a] = table[digits + b] = table[digits + c] = (unsigned char)('0' + d);
    table[first_digit + first_parity[d]] = (unsigned char)('0' + d);
  }
  table[guards + 5] = normal_guard;
  table[guards + 10] = centre_guard;
  table[guards + 21] = special_guard;
  table[guards + 11] = addon_guard;
  table[guards + 1] = addon_delineator;
}

scanner_result_t ean_t::scan(token_iterator& start, token_iterator end, int x, int y,
                             unsigned quiet_width, directions_t dir) const
{
  bar_vector_t b(3);

  // Start guard: three single modules give the first module width.
  if (get_bars(start, end, b, 2) != 2)
    return scanner_result_t();
  const unsigned w0 = b[0].second, w1 = b[1].second;
  if (w0 > 2 * w1 || 0.5 * w1 > w0)
    return scanner_result_t();
  if (add_bars(start, end, b, 1) != 1)
    return scanner_result_t();
  double u = b.total_width / 3.0;
  if (u > 1.35 * (quiet_width / 5))
    return scanner_result_t();
  module_word_t w = get_module_word_adjust_u(b, u, 3);
  if (!w || table[guards + w] != normal_guard)
    return scanner_result_t();

  std::string code;
  unsigned count = 0;
  bool reversed = false;
  unsigned parity = 0;
  for (;;) {
    if (get_bars(start, end, b, 4) != 4)
      return scanner_result_t();
    if (count == 6)
      break;
    // Four single modules after four digits: the centre guard of an EAN-8.
    if (count == 4 && get_module_word(b, u, 4))
      break;
    w = get_module_word_adjust_u(b, u, 7);
    if (!w || w >= 128)
      return scanner_result_t();
    const unsigned char digit = table[digits + w];
    if (!digit)
      return scanner_result_t();
    const bool odd = ones(w) & 1;
    if (count == 0) {
      if (!odd) {
        // A right-half digit read backwards: the symbol lies mirrored.
        if (!(dir & right_left))
          return scanner_result_t();
        reversed = true;
        count = 1;
        code.push_back((char)digit);
        continue;
      }
      if (!(dir & left_right))
        return scanner_result_t();
    }
    ++count;
    if (!reversed)
      parity = (parity << 1) | (odd ? 1 : 0);
    code.push_back((char)digit);
  }

  if (add_bars(start, end, b, 1) != 1)
    return scanner_result_t();
  w = get_module_word_adjust_u(b, u, 5);
  if (!w || w >= 32 || table[guards + w] != centre_guard)
    return scanner_result_t();
  if (count != 4 && count != 6)
    return scanner_result_t();

  for (unsigned i = 0; i < count; ++i) {
    if (get_bars(start, end, b, 4) != 4)
      return scanner_result_t();
    w = get_module_word_adjust_u(b, u, 7);
    if (!w || w >= 128)
      return scanner_result_t();
    unsigned index = w;
    if (reversed)
      index = (w & 63) ^ 63;
    const unsigned char digit = table[digits + index];
    if (!digit)
      return scanner_result_t();
    code.push_back((char)digit);
    if (reversed)
      parity = (parity >> 1) | ((ones(index) & 1) ? 0 : 32);
  }

  if (get_bars(start, end, b, 3) != 3)
    return scanner_result_t();
  w = get_module_word_adjust_u(b, u, 3);
  if (!w || w >= 32 || table[guards + w] != normal_guard)
    return scanner_result_t();

  if (reversed)
    std::reverse(code.begin(), code.end());

  int type = ean8;
  if (count == 6) {
    if (parity >= 64)
      return scanner_result_t();
    const unsigned char first = table[first_digit + parity];
    if (!first)
      return scanner_result_t();
    if (first == '0') {
      type = upca;
    } else {
      type = ean13;
      code.insert(code.begin(), (char)first);
    }
  }

  const int check = code.back() - '0';
  code.pop_back();
  unsigned sum = 0;
  unsigned weight = 3;
  for (auto it = code.rbegin(); it != code.rend(); ++it) {
    sum += weight * (unsigned)(*it - '0');
    weight = weight == 3 ? 1 : 3;
  }
  if ((int)((10 - sum % 10) % 10) != check)
    return scanner_result_t();
  return scanner_result_t(type, code, x, y);
}

} // namespace BarDecode
