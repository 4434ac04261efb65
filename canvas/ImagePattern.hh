// Painting rasteriser coverage with the pixels of an Image (an image
// pattern) mapped through an affine matrix, into an RGBA canvas buffer
// (plain or compositing blender) or into an Image.
#pragma once

#include "canvas/CompOp.hh"
#include "canvas/ImageRenderer.hh"
#include "canvas/Rasterizer.hh"
#include "canvas/Transform.hh"
#include "image/Image.hh"

// m maps target pixels to pattern pixels; alpha 0..1 (clamped) scales the
// pattern's alpha; smooth asks for bilinear sampling, used only when m is
// not the identity. Patterns of a layout the samplers cannot read are
// refused with a diagnostic.
template <class Renderer>
void render_solid_image_template(Rasterizer& ras, Renderer& ren, Image& image, double alpha,
                                 const Transform& m, bool smooth);

extern template void render_solid_image_template<RendererPlain>(Rasterizer&, RendererPlain&,
                                                                Image&, double,
                                                                const Transform&, bool);
extern template void render_solid_image_template<RendererComp>(Rasterizer&, RendererComp&,
                                                               Image&, double,
                                                               const Transform&, bool);
extern template void render_solid_image_template<renderer_norvel_image>(
    Rasterizer&, renderer_norvel_image&, Image&, double, const Transform&, bool);

// The pattern alpha as a byte: clamped to 0..1, times 255, truncated.
unsigned patternAlphaByte(double alpha);
