// Region growing by rightward runs from an explicit stack: a run marks a row
// segment without pushing its pixels, and no recursion bounds region size.
#include "filters/cluster.hh"

#include <algorithm>

cluster::cluster(Image& image, int x, int y, uint8_t* _visited, uint8_t lo, uint8_t hi)
  : pixels(nullptr), visited(_visited), stride(0), mapWidth(0), width(0), height(0),
    x1(x), y1(y), x2(x), y2(y), parent(nullptr)
{
  if (image.Type() != Image::GRAY8 || image.w <= 0 || image.h <= 0 || !image.getRawData())
    return;
  pixels = image.getRawData();
  stride = image.stride();
  mapWidth = (uint32_t)image.w;
  width = (uint32_t)image.w;
  height = (uint32_t)image.h;
  advance(x, y, lo, hi);
}

void cluster::advance(int x, int y, uint8_t lo, uint8_t hi)
{
  if (!pixels || !visited || x < 0 || y < 0 || x >= (int64_t)width || y >= (int64_t)height)
    return;
  const int64_t w = width, h = height;
  auto in = [&](int64_t px, int64_t py) {
    const uint8_t v = pixels[(uint64_t)py * stride + px];
    return v >= lo && v <= hi;
  };
  auto state = [&](int64_t px, int64_t py) -> uint8_t& { return visited[(uint64_t)py * mapWidth + px]; };

  std::vector<std::pair<int32_t, int32_t>> stack;
  stack.emplace_back(x, y);
  auto consider = [&](int64_t px, int64_t py) {
    if (in(px, py) && state(px, py) == 0) {
      state(px, py) = 1;
      stack.emplace_back((int32_t)px, (int32_t)py);
    }
  };
  while (!stack.empty()) {
    int64_t cx = stack.back().first;
    const int64_t cy = stack.back().second;
    stack.pop_back();
    if (state(cx, cy) > 1)
      continue;
    for (;;) {
      state(cx, cy) = 2;
      points.emplace_back((int32_t)cx, (int32_t)cy);
      x1 = std::min<int32_t>(x1, (int32_t)cx);
      x2 = std::max<int32_t>(x2, (int32_t)cx);
      y1 = std::min<int32_t>(y1, (int32_t)cy);
      y2 = std::max<int32_t>(y2, (int32_t)cy);
      if (cy > 0) {
        consider(cx, cy - 1);
        if (cx > 0)
          consider(cx - 1, cy - 1);
        if (cx < w - 1)
          consider(cx + 1, cy - 1);
      }
      if (cy < h - 1) {
        consider(cx, cy + 1);
        if (cx > 0)
          consider(cx - 1, cy + 1);
        if (cx < w - 1)
          consider(cx + 1, cy + 1);
      }
      if (cx > 0)
        consider(cx - 1, cy);
      if (cx < w - 1 && in(cx + 1, cy) && state(cx + 1, cy) == 0)
        ++cx;
      else
        break;
    }
  }
}

void cluster::add(const cluster& other)
{
  if (&other == this) {
    const cluster copy = other;
    add(copy);
    return;
  }
  x1 = std::min(x1, other.x1);
  y1 = std::min(y1, other.y1);
  x2 = std::max(x2, other.x2);
  y2 = std::max(y2, other.y2);
  points.insert(points.end(), other.points.begin(), other.points.end());
}
