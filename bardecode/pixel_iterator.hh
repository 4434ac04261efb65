// Walks an image in groups of adjacent scan lines (rows, or columns when
// `vertical`), yielding the mean luminance across the group at each
// position along the line; at a line's end the group moves `line_skip`
// lines on until the image is used up.
#pragma once

#include <cstdint>
#include <iterator>
#include <vector>

#include "image/Image.hh"

namespace BarDecode {

template <bool vertical>
class PixelIterator {
public:
  typedef std::output_iterator_tag iterator_category;
  typedef bool value_type;
  typedef long difference_type;
  typedef bool* pointer;
  typedef bool& reference;

  const Image* img;
  int concurrent_lines;
  int line_skip;
  // One entry per distinct line of the group. More lines requested than the
  // image has all stand on its last line: they are folded into the last
  // entry's weight rather than stored, so a hostile count costs no memory.
  std::vector<Image::const_iterator> line_its;
  int x, y;

  PixelIterator(const Image* _img, int _concurrent_lines, int _line_skip)
    : img(_img), concurrent_lines(_concurrent_lines), line_skip(_line_skip), x(0), y(0),
      n(0), L(0), extra(0), ended(true)
  {
    // No rows, no columns, no pixels, an unknown pixel type or a
    // nonsensical group: nothing to walk.
    if (!img || img->w <= 0 || img->h <= 0 || concurrent_lines < 1 || line_skip < 1)
      return;
    if (img->Type() == 0 || !img->getRawData())
      return; // Type() has said why, once
    n = vertical ? img->h : img->w;
    L = vertical ? img->w : img->h;
    const int k = concurrent_lines < L ? concurrent_lines : L;
    extra = concurrent_lines - k;
    const Image::const_iterator begin(img, false);
    line_its.reserve(k);
    for (int i = 0; i < k; ++i) {
      line_its.push_back(place(begin, i));
      *line_its.back();
    }
    ended = false;
  }
  virtual ~PixelIterator() {}

  uint16_t operator*() const
  {
    if (line_its.empty())
      return 0; // nothing was walked: no group, possibly no sane group size
    uint64_t sum = 0;
    for (const Image::const_iterator& it : line_its)
      sum += it.getL();
    if (extra)
      sum += (uint64_t)extra * line_its.back().getL();
    return (uint16_t)(sum / (uint64_t)concurrent_lines);
  }

  PixelIterator& operator++()
  {
    if (ended)
      return *this;
    int& P = vertical ? y : x;
    int& F = vertical ? x : y;
    if (P < n - 1) {
      ++P;
      for (Image::const_iterator& it : line_its) {
        if (vertical)
          it.down();
        else
          ++it;
        *it;
      }
      return *this;
    }
    P = 0;
    if (L - 1 - F > line_skip) {
      F += line_skip;
      for (size_t i = 0; i < line_its.size(); ++i) {
        line_its[i] = place(line_its[i], F + (int)i);
        *line_its[i];
      }
    } else {
      ended = true;
      line_its.back() = Image::const_iterator(img, true);
    }
    return *this;
  }

  bool end() const { return ended; }

  // Length of one scan line (0 once there is nothing to walk).
  int line_length() const { return n; }

private:
  int n, L;   // line length, number of lines
  int extra;  // requested lines beyond the image's, all on its last line
  bool ended;

  Image::const_iterator place(const Image::const_iterator& from, int line) const
  {
    if (line > L - 1)
      line = L - 1;
    return vertical ? from.at(line, 0) : from.at(0, line);
  }
};

} // namespace BarDecode
