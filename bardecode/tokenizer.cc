// Edge tokenizer of one scan line.
#include <cstdlib>

#include "bardecode/Tokenizer.hh"
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

  for (int64_t i = 0; i < m; ++i)
    T[i] = 16;
  for (int64_t i = 0; i < m; ++i) {
    const int32_t h = std::abs(s[i]) / 2;
    if (h <= T[i])
      continue;
    // The raise falls off by one per pixel down to 17; both sides stop at
    // the line's ends.
    for (int64_t k = 0; h - k > 16; ++k) {
      const int32_t t = (int32_t)(h - k);
      const bool left = i - k >= 0, right = i + k <= m - 1;
      if (!left && !right)
        break;
      if (left && T[i - k] < t)
        T[i - k] = t;
      if (right && T[i + k] < t)
        T[i + k] = t;
    }
  }

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
