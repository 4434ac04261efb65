// Compositing operators of the canvas, numbered as scripts and stored
// states know them (0 clear ... 27 invert-rgb), and the RGBA blenders the
// canvas paints with: the plain non-premultiplied alpha blender for
// src-over and an operator-dispatching blender over premultiplied pixels
// for every other operator.
#pragma once

#include <string>

#include <agg_pixfmt_rgba.h>
#include <agg_renderer_base.h>
#include <agg_rendering_buffer.h>

enum CompOp {
  CompClear, CompSrc, CompDst, CompSrcOver, CompDstOver, CompSrcIn, CompDstIn, CompSrcOut,
  CompDstOut, CompSrcAtop, CompDstAtop, CompXor, CompPlus, CompMinus, CompMultiply,
  CompScreen, CompOverlay, CompDarken, CompLighten, CompColorDodge, CompColorBurn,
  CompHardLight, CompSoftLight, CompDifference, CompExclusion, CompContrast, CompInvert,
  CompInvertRgb, CompOpCount
};

// The operator's script word ("src-over", ...); null out of range.
const char* compOpName(int op);
// Word to operator; false for an unknown word.
bool compOpByName(const std::string& word, int& op);

// Source colour premultiplied by its alpha, then the operator's blend.
struct comp_op_adaptor_canvas {
  typedef agg::rgba8 color_type;
  typedef agg::order_rgba order_type;
  typedef agg::int8u value_type;
  typedef color_type::calc_type calc_type;
  typedef color_type::long_type long_type;

  static void blend_pix(unsigned op, value_type* p, value_type r, value_type g, value_type b,
                        value_type a, agg::cover_type cover);
};

typedef agg::pixfmt_alpha_blend_rgba<agg::blender_rgba<agg::rgba8, agg::order_rgba>,
                                     agg::rendering_buffer>
    PixfmtPlain;
typedef agg::pixfmt_custom_blend_rgba<comp_op_adaptor_canvas, agg::rendering_buffer> PixfmtComp;
typedef agg::renderer_base<PixfmtPlain> RendererPlain;
typedef agg::renderer_base<PixfmtComp> RendererComp;
