// Code 128 decoding.
#include <algorithm>
#include <cstdio>

#include "bardecode/code128.hh"

namespace BarDecode {

namespace {

// Element widths (bar, space, ...) of the symbol values 0 to 105; 106 is
// the first six elements of the stop pattern, whose final 2-module bar is
// never looked up.
const char* const patterns[107] = {
  "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212", "221213",
  "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221", "223211", "221132",
  "221231", "213212", "223112", "312131", "311222", "321122", "321221", "312212", "322112", "322211",
  "212123", "212321", "232121", "111323", "131123", "131321", "112313", "132113", "132311", "211313",
  "231113", "231311", "112133", "112331", "132131", "113123", "113321", "133121", "313121", "211331",
  "231131", "213113", "213311", "213131", "311123", "311321", "331121", "312113", "312311", "332111",
  "314111", "221411", "431111", "111224", "111422", "121124", "121421", "141122", "141221", "112214",
  "112412", "122114", "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111",
  "111242", "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
  "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311", "113141",
  "114131", "311141", "411131", "211412", "211214", "211232", "233111",
};

typedef code128_t C;
const unsigned char map_a[10] = {C::fnc3, C::fnc2, C::shift, C::code_c, C::code_b,
                                 C::fnc4, C::fnc1, C::start_a, C::start_b, C::start_c};
const unsigned char map_b[10] = {C::fnc3, C::fnc2, C::shift, C::code_c, C::fnc4,
                                 C::code_a, C::fnc1, C::start_a, C::start_b, C::start_c};
const unsigned char map_c[10] = {C::no_entry, C::no_entry, C::no_entry, C::no_entry, C::code_b,
                                 C::code_a, C::fnc1, C::start_a, C::start_b, C::start_c};

// A symbol's eleven modules with the first (always a bar) and the last
// (always a space) dropped; 0 when the word is none.
unsigned short inner_word(module_word_t w)
{
  if (!(w & 0x400) || (w & 1))
    return 0;
  return (w >> 1) & 511;
}

} // namespace

const code128_t code128_impl;

code128_t::code128_t()
{
  std::fill(table, table + 512, (unsigned char)no_entry);
  for (int v = 0; v < 107; ++v) {
    unsigned w = 0;
    bool bar = true;
    for (const char* p = patterns[v]; *p; ++p, bar = !bar)
      for (int m = 0; m < *p - '0'; ++m)
        w = (w << 1) | (bar ? 1 : 0);
    table[(w >> 1) & 511] = (unsigned char)v;
  }
  std::copy(map_a, map_a + 10, table + 512);
  std::copy(map_b, map_b + 10, table + 522);
  std::copy(map_c, map_c + 10, table + 532);
}

code128_t::symbol_t code128_t::decode128(code_set_t set, unsigned short word) const
{
  symbol_t r{true, stop, std::string()};
  const unsigned v = table[word & 511];
  if (v == stop_value || v == no_entry)
    return r; // the callers never pass a word without a symbol
  if (v >= 96 && !(set == code_set_c && v < 100)) {
    r.code = table[512 + 10 * set + (v - 96)];
    return r;
  }
  r.control = false;
  switch (set) {
  case code_set_a:
    r.text.push_back((char)(v < 64 ? v + 32 : v - 64));
    break;
  case code_set_b:
    r.text.push_back((char)(v + 32));
    break;
  case code_set_c: {
    char buf[3] = {(char)('0' + v / 10), (char)('0' + v % 10), 0};
    r.text = buf;
  } break;
  }
  return r;
}

scanner_result_t code128_t::decode_key_list(const std::list<unsigned short>& list, int x,
                                            int y) const
{
  if (list.size() < 2)
    return scanner_result_t();
  uint64_t sum = table[list.front()];
  std::string code;
  code_set_t set = code_set_a;
  bool shifted = false;
  int type = code128;
  uint64_t pos = 0;
  auto last = std::prev(list.end());
  for (auto it = list.begin(); it != last; ++it) {
    code_set_t use = set;
    if (shifted && set != code_set_c)
      use = set == code_set_a ? code_set_b : code_set_a;
    const symbol_t s = decode128(use, *it);
    if (!s.control) {
      code += s.text;
      shifted = false;
    } else {
      switch (s.code) {
      case fnc1:
        if (pos == 1)
          type = gs1_128;
        else
          code.push_back((char)29);
        shifted = false;
        break;
      case fnc2: case fnc3: case fnc4:
        fprintf(stderr, "WARNING: Function charaters for code128 are not yet supported.\n");
        shifted = false;
        break;
      case shift: shifted = true; break;
      case code_a: case start_a: set = code_set_a; shifted = false; break;
      case code_b: case start_b: set = code_set_b; shifted = false; break;
      case code_c: case start_c: set = code_set_c; shifted = false; break;
      default: return scanner_result_t(); // STOP inside the symbol
      }
    }
    sum += table[*it] * pos;
    ++pos;
  }
  if (sum % 103 != table[*last])
    return scanner_result_t();
  return scanner_result_t(type, code, x, y);
}

scanner_result_t code128_t::scan(token_iterator& start, token_iterator end, int x, int y,
                                 unsigned quiet_width) const
{
  bar_vector_t b(6);
  if (get_bars(start, end, b, 2) != 2)
    return scanner_result_t();
  // Start symbols open with a 2-module bar and a 1-module space.
  if (b[0].second > 3 * b[1].second || 1.2 * b[1].second > b[0].second)
    return scanner_result_t();
  if (add_bars(start, end, b, 4) != 4)
    return scanner_result_t();
  double u = b.total_width / 11.0;
  if (u > 1.35 * (quiet_width / 5))
    return scanner_result_t();
  unsigned short key = inner_word(get_module_word_adjust_u(b, u, 11));
  if (!key || table[key] < 103 || table[key] > 105)
    return scanner_result_t();
  std::list<unsigned short> list;
  list.push_back(key);
  while (table[key] != stop_value) {
    if (get_bars(start, end, b, 6) != 6)
      return scanner_result_t();
    key = inner_word(get_module_word_adjust_u(b, u, 11));
    if (!key || table[key] == no_entry)
      return scanner_result_t();
    list.push_back(key);
  }
  list.pop_back();
  if (list.size() < 2)
    return scanner_result_t();
  return decode_key_list(list, x, y);
}

scanner_result_t code128_t::reverse_scan(token_iterator& start, token_iterator end, int x, int y,
                                         unsigned quiet_width) const
{
  bar_vector_t b(7);
  if (get_bars(start, end, b, 2) != 2)
    return scanner_result_t();
  // Read from its end the stop pattern too opens with 2 and 1 modules.
  if (b[0].second > 3 * b[1].second || 1.2 * b[1].second > b[0].second)
    return scanner_result_t();
  if (add_bars(start, end, b, 5) != 5)
    return scanner_result_t();
  double u = b.total_width / 13.0;
  if (u > 1.35 * (quiet_width / 5))
    return scanner_result_t();
  b.erase(b.begin()); // the stop pattern's final bar
  unsigned short key = inner_word(reverse_get_module_word(b, u, 11));
  if (!key || table[key] != stop_value)
    return scanner_result_t();
  std::list<unsigned short> list;
  do {
    if (get_bars(start, end, b, 6) != 6)
      return scanner_result_t();
    key = inner_word(reverse_get_module_word_adjust_u(b, u, 11));
    if (!key || table[key] == no_entry)
      return scanner_result_t();
    list.push_front(key);
  } while (table[key] < 103 || table[key] > 105);
  if (list.size() < 2)
    return scanner_result_t();
  return decode_key_list(list, x, y);
}

} // namespace BarDecode
