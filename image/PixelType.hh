// Whether an image's samples form one of the eight pixel types the typed
// bodies exist for. The dispatchers key on bps alone for one- and
// two-sample images, so a two-sample image would run through a gray body
// with the wrong layout: operations check here first.
#pragma once

#include "image/Image.hh"

inline bool isPixelType(const Image& image)
{
  if (image.spp == 1)
    return image.bps == 1 || image.bps == 2 || image.bps == 4 || image.bps == 8 ||
           image.bps == 16;
  if (image.spp == 3)
    return image.bps == 8 || image.bps == 16;
  return image.spp == 4 && image.bps == 8;
}
