// Whether an image's samples form one of the eight pixel types the typed
// bodies exist for. The dispatchers key on bps alone for one- and
// two-sample images, so a two-sample image would run through a gray body
// with the wrong layout: operations check here first.
#pragma once

#include "image/Image.hh"

inline bool isPixelType(int spp, int bps)
{
  if (spp == 1)
    return bps == 1 || bps == 2 || bps == 4 || bps == 8 || bps == 16;
  if (spp == 3)
    return bps == 8 || bps == 16;
  return spp == 4 && bps == 8;
}

inline bool isPixelType(const Image& image) { return isPixelType(image.spp, image.bps); }

// Whether the operations that only move bits and bytes (flips, quarter
// turns) handle this many bits per pixel, whatever the samples mean.
inline bool isMovableDepth(int bitsPerPixel)
{
  switch (bitsPerPixel) {
  case 1: case 2: case 4: case 8: case 16: case 24: case 32: case 48: return true;
  default: return false;
  }
}
