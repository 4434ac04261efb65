// A renderer in AGG's base-renderer form that blends straight into an
// Image of any pixel type: AGG's scanline renderers and span generators
// paint through it. 16-bit images take 8-bit colours scaled by 257 and
// blend in 16 bits.
#pragma once

#include <cstdint>

#include <agg_basics.h>
#include <agg_color_rgba.h>

#include "image/Image.hh"

class renderer_norvel_image {
public:
  typedef agg::rgba8 color_type;

  struct blender_norvel_image {
    // Moves the pixel under it toward (r, g, b) by alpha/256, 8-bit RGBA
    // alpha accumulating; cover is not used.
    static void blend_pix(Image::iterator& it, unsigned r, unsigned g, unsigned b,
                          unsigned alpha, unsigned cover);
  };

  Image* image;
  agg::rect_i clip; // inclusive

  // Clipped to the whole image.
  explicit renderer_norvel_image(Image& target);
  renderer_norvel_image(Image& target, const agg::rect_i& box) : image(&target), clip(box) {}

  void blend_solid_hspan(int x, int y, int len, const color_type& c, const agg::int8u* covers);
  void blend_hline(int x1, int y, int x2, const color_type& c, agg::int8u cover);
  void blend_color_hspan(int x, int y, int len, const color_type* colors,
                         const agg::int8u* covers, agg::int8u cover);
};
