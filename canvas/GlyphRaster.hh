// A Text's selected glyph into rasteriser coverage, placed with its origin
// at (x, y): filled (with the sub-pixel factor as for paths) or stroked.
#pragma once

#include <vector>

#include "canvas/Rasterizer.hh"

class Text;

void rasterizeGlyph(Rasterizer& ras, double x, double y, const Text& text, Transform t,
                    unsigned factor);

void rasterizeStrokedGlyph(Rasterizer& ras, double x, double y, const Text& text,
                           const Transform& t, double width, agg::line_cap_e cap,
                           agg::line_join_e join, float miterLimit,
                           const std::vector<float>* dashes, float dashStart);
