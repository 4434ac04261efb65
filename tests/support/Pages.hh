// Generated page images for the binariser, empty-page and orientation tests
// and the benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

namespace pages {

// Paper lit unevenly: brighter top left, darker bottom right.
inline int paperAt(int x, int y, int w, int h)
{
  return 235 - 60 * x / w - 40 * y / h;
}

struct Rect {
  int x, y, w, h;
};

// Glyph-like marks of text lines: short bars and blocks, with deterministic
// variety; returns the stroke rectangles.
inline std::vector<Rect> textStrokes(int w, int h, int lineHeight = 24, uint32_t seed = 3)
{
  std::vector<Rect> r;
  uint32_t s = seed;
  auto rnd = [&](int n) { s = s * 1103515245u + 12345u; return (int)((s >> 16) % (uint32_t)n); };
  for (int y = lineHeight * 2; y + lineHeight < h - lineHeight; y += lineHeight * 2) {
    for (int x = 30; x < w - 60;) {
      const int word = 3 + rnd(5);
      for (int c = 0; c < word && x < w - 40; ++c) {
        const int gw = 6 + rnd(6);
        r.push_back({x, y, 3, lineHeight});                // stem
        r.push_back({x, y + lineHeight - 3, gw, 3});       // foot
        if (rnd(2))
          r.push_back({x + gw - 3, y + lineHeight / 2, 3, lineHeight / 2});
        x += gw + 4;
      }
      x += 14;
    }
  }
  return r;
}

inline Image grayPage(int w, int h, const std::vector<Rect>& strokes, int ink = 40)
{
  Image img = testsupport::makeImage(w, h, 1, 8, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.data[(uint64_t)y * w + x] = (uint8_t)paperAt(x, y, w, h);
  for (const Rect& r : strokes)
    for (int y = r.y; y < r.y + r.h; ++y)
      for (int x = r.x; x < r.x + r.w; ++x)
        img.data[(uint64_t)y * w + x] = (uint8_t)ink;
  return img;
}

inline bool inside(const std::vector<Rect>& rs, int x, int y, int grow = 0)
{
  for (const Rect& r : rs)
    if (x >= r.x - grow && x < r.x + r.w + grow && y >= r.y - grow && y < r.y + r.h + grow)
      return true;
  return false;
}

} // namespace pages
