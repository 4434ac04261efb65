// Interleaved 2 of 5 decoding.
#include <algorithm>
#include <cmath>

#include "bardecode/code25i.hh"

namespace BarDecode {

namespace {

const unsigned char digit_words[10] = {6, 17, 9, 24, 5, 20, 12, 3, 18, 10};

// Narrow/wide word of five elements against their colour's total; 0 when
// an element is neither.
unsigned classify5(const unsigned* w, double total)
{
  unsigned word = 0;
  for (int i = 0; i < 5; ++i) {
    word <<= 1;
    const double v = w[i];
    if (total / 5.2 <= v && v <= total / 1.5)
      word |= 1;
    else if (!(total / 15 <= v && v <= total / 5.3))
      return 0;
  }
  return word;
}

bool between_ratio(double num, double den)
{
  const double lo = 2 * (1 - code25i_t::ltol), hi = 2 * (1 + code25i_t::ltol);
  if (den == 0)
    return false;
  const double r = num / den;
  return lo < r && r < hi;
}

} // namespace

constexpr double code25i_t::ltol;

const code25i_t code25i_impl;

code25i_t::code25i_t()
{
  std::fill(table, table + 32, 0);
  for (int d = 0; d < 10; ++d)
    table[digit_words[d]] = (unsigned char)('0' + d);
}

namespace {

// The first two bars of a start or stop pattern: a plausible narrow pair
// with a quiet zone wider than the pattern before it.
bool start_bars(token_iterator& start, token_iterator end, bar_vector_t& b, unsigned quiet_width)
{
  if (get_bars(start, end, b, 2) != 2)
    return false;
  const unsigned w0 = b[0].second, w1 = b[1].second;
  if (0.6 * w1 > w0 || w0 > 3 * w1)
    return false;
  return !(2.5 * (w0 + w1) > quiet_width);
}

// A digit pair as wide as the one before it (within half) and as dark as
// the start pattern's ratio `fb` predicts.
bool pair_widths_fit(const bar_vector_t& b, double fb, double prev)
{
  const double P = b.total_width, B = b.black_width;
  if (prev != 0 && !(std::fabs(P - prev) < 0.5 * prev))
    return false;
  const double E = (P * fb) * 0.5;
  return 0.8 * E <= B && B <= 1.2 * E;
}

// One pair of digits from ten elements given in symbol order; false when
// either word is no digit.
bool decode_pair(const code25i_t& c, const unsigned* bars, const unsigned* spaces, double B,
                 double W, char& first, char& second)
{
  const unsigned bw = classify5(bars, B), sw = classify5(spaces, W);
  if (!bw || !sw || !c.table[bw] || !c.table[sw])
    return false;
  first = (char)c.table[bw];
  second = (char)c.table[sw];
  return true;
}

} // namespace

scanner_result_t code25i_t::scan(token_iterator& start, token_iterator end, int x, int y,
                                 unsigned quiet_width) const
{
  bar_vector_t b(4);
  if (!start_bars(start, end, b, quiet_width))
    return scanner_result_t();
  const unsigned w0 = b[0].second, w1 = b[1].second;
  if (add_bars(start, end, b, 2) != 2)
    return scanner_result_t();
  const unsigned w2 = b[2].second, w3 = b[3].second;
  if (0.6 * w2 > w0 || w0 > 1.3 * w2 || 0.6 * w3 > w1 || w1 > 1.3 * w3)
    return scanner_result_t();
  const double fb = b.black_width / (0.5 * b.total_width);
  const double fw = b.white_width / (0.5 * b.total_width);

  std::string code;
  double prev = 0;
  for (;;) {
    if (get_bars(start, end, b, 3) != 3)
      return scanner_result_t();
    const double s0 = b[0].second, s1 = b[1].second, s2 = b[2].second;
    const double P3 = b.total_width;
    token_iterator after = start;
    ++after;
    if (s0 < (s2 * 3.1) * 1.3 && s0 > (2 * s2) * 0.7 && s1 < ((P3 * 0.25) * 1.2) * fw &&
        s1 > ((P3 * 0.18) * 0.8) * fw && after != end && after->second > P3 * 1.3)
      break;
    if (add_bars(start, end, b, 7) != 7 || !pair_widths_fit(b, fb, prev))
      return scanner_result_t();
    const double P = b.total_width, B = b.black_width;
    if (!b[0].first || b[9].first)
      return scanner_result_t();
    const unsigned bars[5] = {b[0].second, b[2].second, b[4].second, b[6].second, b[8].second};
    const unsigned spaces[5] = {b[1].second, b[3].second, b[5].second, b[7].second, b[9].second};
    char d1, d2;
    if (!decode_pair(*this, bars, spaces, B, b.white_width, d1, d2))
      return scanner_result_t();
    code.push_back(d1);
    code.push_back(d2);
    prev = P;
  }
  if (code.empty())
    return scanner_result_t();
  return scanner_result_t(code25i, code, x, y);
}

scanner_result_t code25i_t::reverse_scan(token_iterator& start, token_iterator end, int x, int y,
                                         unsigned quiet_width) const
{
  bar_vector_t b(4);
  if (!start_bars(start, end, b, quiet_width))
    return scanner_result_t();
  const unsigned w0 = b[0].second;
  if (add_bars(start, end, b, 1) != 1)
    return scanner_result_t();
  const double w2 = b[2].second;
  if (0.18 * w2 > w0 || w0 > 0.65 * w2)
    return scanner_result_t();
  const double fb = b.black_width / (b.total_width * 0.75);

  std::string code;
  double prev = 0;
  for (;;) {
    if (get_bars(start, end, b, 4) != 4)
      return scanner_result_t();
    {
      const double B4 = b.black_width, W4 = b.white_width, P4 = b.total_width;
      const double E4 = (P4 * fb) * 0.5;
      token_iterator after = start;
      ++after;
      if (0.8 * E4 < B4 && B4 < 1.2 * E4 && between_ratio(B4, b[3].second) &&
          between_ratio(W4, b[2].second) && between_ratio(B4, b[1].second) &&
          between_ratio(W4, b[0].second) && after != end && after->second > b.total_width)
        break;
    }
    if (add_bars(start, end, b, 6) != 6 || !pair_widths_fit(b, fb, prev))
      return scanner_result_t();
    const double P = b.total_width, B = b.black_width;
    if (b[0].first || !b[9].first)
      return scanner_result_t();
    const unsigned bars[5] = {b[9].second, b[7].second, b[5].second, b[3].second, b[1].second};
    const unsigned spaces[5] = {b[8].second, b[6].second, b[4].second, b[2].second, b[0].second};
    char d1, d2;
    if (!decode_pair(*this, bars, spaces, B, b.white_width, d1, d2))
      return scanner_result_t();
    // Mirrored, the space digit comes first; the whole text is turned
    // round at the end.
    code.push_back(d2);
    code.push_back(d1);
    prev = P;
  }
  if (code.empty())
    return scanner_result_t();
  std::reverse(code.begin(), code.end());
  return scanner_result_t(code25i, code, x, y);
}

} // namespace BarDecode
