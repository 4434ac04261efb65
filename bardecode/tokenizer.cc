// Edge tokenizer of one scan line.
#include <algorithm>
#include <cstdlib>

#include "bardecode/tokenizer.hh"
#include "utility/Saturate.hh"

namespace BarDecode {

namespace {

inline bool same_sign(int32_t a, int32_t b)
{
  return (a > 0 && b > 0) || (a < 0 && b < 0);
}

inline unsigned run_width(double w)
{
  return saturate_cast<unsigned>(w);
}

} // namespace

void edge_thresholds(const int32_t* s, int64_t m, int32_t* T)
{
  // Each strong edge i raises the thresholds around it to the cone
  // |s[i]| / 2 - distance, cut off at 16. A cone is skipped when the
  // threshold at its apex is already as high, but then an earlier cone
  // covers it everywhere, so the result is the upper envelope of all cones:
  // one pass from each side instead of one walk per edge, which for 16-bit
  // edges would span the whole line.
  int64_t run = 0;
  for (int64_t i = 0; i < m; ++i) {
    run = std::max<int64_t>(run - 1, std::abs((int64_t)s[i]) / 2);
    T[i] = (int32_t)std::max<int64_t>(16, run);
  }
  run = 0;
  for (int64_t i = m - 1; i >= 0; --i) {
    run = std::max<int64_t>(run - 1, std::abs((int64_t)s[i]) / 2);
    if (run > T[i])
      T[i] = (int32_t)run;
  }
}

void tokenize(const uint16_t* v, int64_t n, std::vector<token_t>& tokens,
              tokenizer_scratch& scratch)
{
  tokens.clear();
  if (n <= 1) {
    tokens.push_back(token_t(false, 0));
    return;
  }
  const int64_t m = n - 1; // boundaries between pixels
  std::vector<int32_t>& s = scratch.s;
  std::vector<int32_t>& T = scratch.T;
  s.resize(m);
  T.resize(m);

  // Smoothing reads the raw differences of both neighbours, so it runs a
  // step behind: prev and cur are raw, s[i - 1] is written once cur is known.
  int32_t prev = 0, cur = (int32_t)v[1] - (int32_t)v[0];
  for (int64_t i = 0; i < m; ++i) {
    const int32_t next = i + 1 < m ? (int32_t)v[i + 2] - (int32_t)v[i + 1] : 0;
    int32_t d = cur;
    if (i > 0 && same_sign(prev, cur))
      d += (2 * prev) / 3;
    if (i + 1 < m && same_sign(next, cur))
      d += (2 * next) / 3;
    s[i] = d;
    prev = cur;
    cur = next;
  }

  edge_thresholds(s.data(), m, T.data());

  int64_t last = 0;
  double last_adj = 0.0;
  int dir = 0; // previous edge: -1 falling, +1 rising, 0 none
  for (int64_t i = 0; i < m; ++i) {
    const int32_t d = s[i];
    if (d == 0 || std::abs(d) < T[i])
      continue;
    if (d < 0) {
      if (i < m - 1 && !(s[i + 1] > d))
        continue;
      if (i > 0 && !(s[i - 1] >= d))
        continue;
    } else {
      if (i < m - 1 && !(s[i + 1] < d))
        continue;
      if (i > 0 && !(s[i - 1] <= d))
        continue;
    }
    double adj = 0.0;
    if (i > 0 && s[i - 1] >= d - 2.0 && s[i - 1] <= d + 2.0)
      adj -= 0.5;
    if (i < m - 1 && s[i + 1] >= d - 2.0 && s[i + 1] <= d + 2.0)
      adj += 0.5;
    const bool black = dir ? dir < 0 : d > 0;
    tokens.push_back(token_t(black, run_width((double)(i - last) - last_adj + adj)));
    last = i;
    last_adj = adj;
    dir = d < 0 ? -1 : 1;
  }
  tokens.push_back(token_t(dir < 0, run_width((double)(m - last) - last_adj)));

  // Same-colour neighbours left by weak or doubled edges: a pair merges, a
  // triple has its middle flipped, a longer stretch keeps its colour. Compacted in place: a merge only ever affects tokens already passed.
  size_t out = 0;
  for (size_t i = 0; i < tokens.size();) {
    size_t run = 1;
    while (run < 4 && i + run < tokens.size() && tokens[i + run].first == tokens[i].first)
      ++run; // only 1, 2, 3 and more matter
    if (run == 2) {
      tokens[out] = token_t(tokens[i].first, tokens[i].second + tokens[i + 1].second);
      ++out;
      i += 2;
    } else if (run == 3) {
      tokens[out++] = tokens[i];
      tokens[out++] = token_t(!tokens[i + 1].first, tokens[i + 1].second);
      tokens[out++] = tokens[i + 2];
      i += 3;
    } else {
      tokens[out++] = tokens[i];
      ++i;
    }
  }
  tokens.resize(out);
}

} // namespace BarDecode
