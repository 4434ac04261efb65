// Painting rasteriser coverage into a 32-bit RGBA canvas buffer: solid
// colour, LCD sub-pixel colour, gradients and image patterns. Each
// operation takes the buffer and the canvas state it reads: the inclusive
// clip rectangle, the colour (components 0..1, clamped), the compositing
// operator (CompOp; src-over takes the plain blender) and the gradient
// words.
#pragma once

#include <string>

#include <agg_color_rgba.h>
#include <agg_gradient_lut.h>
#include <agg_rendering_buffer.h>

#include "canvas/Rasterizer.hh"
#include "canvas/Transform.hh"
#include "image/Image.hh"

typedef agg::gradient_lut<agg::color_interpolator<agg::rgba8>, 256> GradientLut;

// The colour table every canvas's gradients read.
GradientLut& canvasGradientLut();

// r, g, b, a 0..1 as bytes: clamped, times 255, plus 0.5, truncated.
agg::rgba8 canvasColor(const double rgba[4]);

// The rasteriser clip box of a canvas fill: the clip grown by one pixel,
// its x edges (x1 - f) * f and (x2 + f) * f at sub-pixel factor f.
void setCanvasClipBox(Rasterizer& ras, const agg::rect_i& clip, unsigned factor);

void render_solid(Rasterizer& ras, agg::rendering_buffer& rbuf, const agg::rect_i& clip,
                  const double rgba[4], int compOp);

// The rasteriser must have worked in sub-pixel columns (factor 3).
void render_solid_lcd(Rasterizer& ras, agg::rendering_buffer& rbuf, const agg::rect_i& clip,
                      const double rgba[4]);

// g maps device pixels to gradient space, where 0 is the table's first
// colour and 256 its last. Types "linear"/"x", "y", "conic", "diamond",
// "radial", "sqrt", "xy"; modes "", "reflect", "repeat".
void render_solid_gradient(Rasterizer& ras, agg::rendering_buffer& rbuf,
                           const agg::rect_i& clip, int compOp, const std::string& type,
                           const std::string& mode, const Transform& g, const GradientLut& lut);

// m maps device pixels to pattern pixels.
void render_solid_image(Rasterizer& ras, agg::rendering_buffer& rbuf, const agg::rect_i& clip,
                        int compOp, Image& image, double alpha, const Transform& m, bool smooth);
