// Shared step of the filters that compute into a new buffer: the old pixels
// move to a source image and the image gets a fresh tight buffer of its own
// size. If that allocation fails the pixels move back, so the caller's image
// is as it was when the exception leaves.
#pragma once

#include "image/Image.hh"

inline void move_to_fresh_buffer(Image& image, Image& src)
{
  const bool dirty = image.pixelsDirty;
  src.copyTransferOwnership(image);
  try {
    image.resize(src.w, src.h, 0);
  } catch (...) {
    image.copyTransferOwnership(src);
    image.pixelsDirty = dirty;
    throw;
  }
  image.setRawData();
}
