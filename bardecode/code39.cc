// Code 39 decoding.
#include <algorithm>
#include <cmath>

#include "bardecode/code39.hh"

namespace BarDecode {

namespace {

struct pattern {
  char c;
  const char* elements; // n narrow, w wide, bar first
};

const pattern patterns[] = {
  {'0', "nnnwwnwnn"}, {'1', "wnnwnnnnw"}, {'2', "nnwwnnnnw"}, {'3', "wnwwnnnnn"},
  {'4', "nnnwwnnnw"}, {'5', "wnnwwnnnn"}, {'6', "nnwwwnnnn"}, {'7', "nnnwnnwnw"},
  {'8', "wnnwnnwnn"}, {'9', "nnwwnnwnn"}, {'A', "wnnnnwnnw"}, {'B', "nnwnnwnnw"},
  {'C', "wnwnnwnnn"}, {'D', "nnnnwwnnw"}, {'E', "wnnnwwnnn"}, {'F', "nnwnwwnnn"},
  {'G', "nnnnnwwnw"}, {'H', "wnnnnwwnn"}, {'I', "nnwnnwwnn"}, {'J', "nnnnwwwnn"},
  {'K', "wnnnnnnww"}, {'L', "nnwnnnnww"}, {'M', "wnwnnnnwn"}, {'N', "nnnnwnnww"},
  {'O', "wnnnwnnwn"}, {'P', "nnwnwnnwn"}, {'Q', "nnnnnnwww"}, {'R', "wnnnnnwwn"},
  {'S', "nnwnnnwwn"}, {'T', "nnnnwnwwn"}, {'U', "wwnnnnnnw"}, {'V', "nwwnnnnnw"},
  {'W', "wwwnnnnnn"}, {'X', "nwnnwnnnw"}, {'Y', "wwnnwnnnn"}, {'Z', "nwwnwnnnn"},
  {'-', "nwnnnnwnw"}, {'.', "wwnnnnwnn"}, {' ', "nwwnnnwnn"}, {'$', "nwnwnwnnn"},
  {'/', "nwnwnnnwn"}, {'+', "nwnnnwnwn"}, {'%', "nnnwnwnwn"}, {'*', "nwnnwnwnn"},
};

} // namespace

const code39_t code39_impl;

code39_t::code39_t()
{
  std::fill(table, table + 512, (unsigned char)no_char);
  for (const pattern& p : patterns) {
    unsigned w = 0;
    for (const char* e = p.elements; *e; ++e)
      w = (w << 1) | (*e == 'w' ? 1 : 0);
    table[w] = p.c == '*' ? (unsigned char)start_stop : (unsigned char)p.c;
  }
}

template <bool reverse>
unsigned char code39_t::classify(const bar_vector_t& b) const
{
  const double P = b.total_width;
  const double lo = std::floor(P / 30.0);
  unsigned w = 0;
  for (size_t j = 0; j < 9; ++j) {
    const token_t& t = reverse ? b[8 - j] : b[j];
    const double L = t.first ? P / 7.9 : P / 7.2;
    const double width = t.second;
    w <<= 1;
    if (L <= width && width <= P)
      w |= 1;
    else if (!(lo <= width && width <= 0.98 * L))
      return no_char;
  }
  if (!w)
    return no_char;
  return table[w];
}

bool code39_t::expect_n(token_iterator& start, token_iterator end, unsigned n) const
{
  ++start;
  if (start == end || start->first)
    return false;
  const double w = start->second;
  return n / 30.0 <= w && w <= n / 7.0;
}

template <bool reverse>
scanner_result_t code39_t::read(token_iterator& start, token_iterator end, int x, int y,
                                unsigned quiet_width) const
{
  bar_vector_t b(9);
  if (get_bars(start, end, b, 2) != 2)
    return scanner_result_t();
  const double w0 = b[0].second, w1 = b[1].second;
  if (reverse) {
    // From its end the stop character opens narrow bar, narrow space.
    if (w0 > 1.8 * w1 || w1 > 1.8 * w0)
      return scanner_result_t();
  } else {
    // The start character's first space is wide.
    if (w0 > 0.8 * w1 || w1 > 4 * w0)
      return scanner_result_t();
  }
  if (add_bars(start, end, b, 7) != 7)
    return scanner_result_t();
  if (!b[0].first || !b[8].first)
    return scanner_result_t();
  if (0.4 * b.total_width > quiet_width)
    return scanner_result_t();
  if (classify<reverse>(b) != start_stop)
    return scanner_result_t();

  std::string code;
  for (;;) {
    const unsigned prev = b.total_width;
    if (!expect_n(start, end, prev))
      return scanner_result_t();
    if (get_bars(start, end, b, 9) != 9)
      return scanner_result_t();
    if (prev && !(std::fabs((double)b.total_width - prev) < 0.5 * prev))
      return scanner_result_t();
    if (!b[0].first || !b[8].first)
      return scanner_result_t();
    const unsigned char c = classify<reverse>(b);
    if (c == start_stop)
      break;
    if (c == no_char)
      return scanner_result_t();
    code.push_back((char)c);
  }
  if (code.empty())
    return scanner_result_t();
  if (reverse)
    std::reverse(code.begin(), code.end());
  return scanner_result_t(code39, code, x, y);
}

scanner_result_t code39_t::scan(token_iterator& start, token_iterator end, int x, int y,
                                unsigned quiet_width) const
{
  return read<false>(start, end, x, y, quiet_width);
}

scanner_result_t code39_t::reverse_scan(token_iterator& start, token_iterator end, int x, int y,
                                        unsigned quiet_width) const
{
  return read<true>(start, end, x, y, quiet_width);
}

} // namespace BarDecode
