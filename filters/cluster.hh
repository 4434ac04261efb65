// A connected region: the 8-connected pixels of an 8-bit gray image whose
// values lie in [lo, hi], grown by flood fill from a seed. The regions of
// one image share a visited map (one byte per pixel: 0 new, 1 queued,
// 2 member), so every pixel belongs to at most one region.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "image/Image.hh"

class cluster {
public:
  uint8_t* pixels;   // first byte of the image's pixels, one byte per pixel
  uint8_t* visited;  // not owned; mapWidth x height bytes
  uint32_t stride;   // bytes per row of pixels
  uint32_t mapWidth; // row length of the visited map
  uint32_t width;
  uint32_t height;
  int32_t x1, y1;    // inclusive bounding box
  int32_t x2, y2;
  cluster* parent;   // not owned; set by callers that attach marks
  std::vector<std::pair<int32_t, int32_t>> points; // in the order they joined

  // A seed outside the image, an image that is not 8-bit gray or a missing
  // map gives a region without points whose box is the seed.
  cluster(Image& image, int x, int y, uint8_t* visited, uint8_t lo, uint8_t hi);

  void advance(int x, int y, uint8_t lo, uint8_t hi);

  // Appends other's points and widens the box; parent and map stay.
  void add(const cluster& other);

  int32_t boxWidth() const { return x2 + 1 - x1; }
  int32_t boxHeight() const { return y2 + 1 - y1; }
};
