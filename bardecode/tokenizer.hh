// Turns one scan line into runs of dark and light: smoothed luminance
// differences, an edge threshold that rises near strong edges, and sub-pixel
// edge positions.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "bardecode/pixel_iterator.hh"

namespace BarDecode {

// A run along a scan line: dark (true) or light, and its width in pixels.
typedef std::pair<bool, unsigned int> token_t;

// Scratch space of one line, kept between lines so tokenizing allocates
// nothing once the longest line has been seen.
struct tokenizer_scratch {
  std::vector<int32_t> s, T;
};

// Edge thresholds T[0..m-1] for the smoothed differences s: 16, raised
// around each strong edge to half its strength, falling by 1 per pixel.
void edge_thresholds(const int32_t* s, int64_t m, int32_t* T);

// Replaces `tokens` with the runs of the n luminance values v; always at
// least one token (a line without edges is one light run of n - 1).
void tokenize(const uint16_t* v, int64_t n, std::vector<token_t>& tokens,
              tokenizer_scratch& scratch);

template <bool vertical>
class Tokenizer {
public:
  const Image* img;
  PixelIterator<vertical> it;

  Tokenizer(const Image* _img, int concurrent_lines, int line_skip)
    : img(_img), it(_img, concurrent_lines, line_skip)
  {
  }
  virtual ~Tokenizer() {}

  // Reads the line group at the walker's position and moves the walker to
  // the next group or to its end. Only while !it.end().
  void next_line(std::vector<token_t>& tokens)
  {
    const int n = it.line_length();
    values.resize(n > 0 ? n : 0);
    for (int j = 0; j < n; ++j) {
      values[j] = *it;
      ++it;
    }
    tokenize(values.data(), n, tokens, scratch);
  }

private:
  std::vector<uint16_t> values;
  tokenizer_scratch scratch;
};

} // namespace BarDecode
