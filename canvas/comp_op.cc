// Operator words and the operator table. Most operators are AGG's; minus,
// contrast, invert and invert-rgb are ours, in integer arithmetic on
// premultiplied 8-bit pixels.
#include "canvas/CompOp.hh"

#include <cstring>

namespace {

typedef agg::int8u u8;
typedef void (*AggFn)(u8*, u8, u8, u8, u8, agg::cover_type);

enum { R = agg::order_rgba::R, G = agg::order_rgba::G, B = agg::order_rgba::B, A = agg::order_rgba::A };

// Dca' = Sca.Da + Dca.(1 - Sa); Da' = Da. AGG's own version mixes the
// green channel into blue; this one keeps its arithmetic otherwise.
struct SrcAtop : agg::blender_base<agg::rgba8, agg::order_rgba> {
  static void blend_pix(u8* p, u8 r, u8 g, u8 b, u8 a, agg::cover_type cover)
  {
    agg::rgba s = get(r, g, b, a, cover);
    agg::rgba d = get(p);
    const double s1a = 1 - s.a;
    d.r = s.r * d.a + d.r * s1a;
    d.g = s.g * d.a + d.g * s1a;
    d.b = s.b * d.a + d.b * s1a;
    set(p, d);
  }
};

inline unsigned scaleCover(unsigned v, unsigned cover) { return (v * cover + 255) >> 8; }

// Dca' = Dca - Sca; Da' = Sa + Da - Sa.Da
void blendMinus(u8* p, u8 sr, u8 sg, u8 sb, u8 sa, agg::cover_type cover)
{
  unsigned r = sr, g = sg, b = sb, a = sa;
  if (cover < 255) {
    r = scaleCover(r, cover); g = scaleCover(g, cover);
    b = scaleCover(b, cover); a = scaleCover(a, cover);
  }
  if (!a)
    return;
  const int da = p[A];
  const int dr = p[R] - (int)r, dg = p[G] - (int)g, db = p[B] - (int)b;
  p[R] = (u8)(dr < 0 ? 0 : dr);
  p[G] = (u8)(dg < 0 ? 0 : dg);
  p[B] = (u8)(db < 0 ? 0 : db);
  p[A] = (u8)(a + da - ((a * da + 255) >> 8));
}

// Stretches the destination's distance from half its alpha by the
// source's distance from half its alpha; alpha unchanged.
void blendContrast(u8* p, u8 sr, u8 sg, u8 sb, u8 sa, agg::cover_type cover)
{
  int r = sr, g = sg, b = sb, a = sa;
  if (cover < 255) {
    r = scaleCover(r, cover); g = scaleCover(g, cover);
    b = scaleCover(b, cover); a = scaleCover(a, cover);
  }
  const int da = p[A];
  const int d2a = da >> 1, s2a = a >> 1;
  auto ch = [&](int d, int s) {
    int v = (int)((((long)(d - d2a) * ((s - s2a) * 2 + 255)) >> 8) + d2a);
    v = v < 0 ? 0 : v;
    return (u8)(v > da ? da : v);
  };
  const u8 nr = ch(p[R], r), ng = ch(p[G], g), nb = ch(p[B], b);
  p[R] = nr; p[G] = ng; p[B] = nb;
}

// Dca' = (Da - Dca).Sa + Dca.(1 - Sa); Da' = Sa + Da - Sa.Da
void blendInvert(u8* p, u8, u8, u8, u8 sa, agg::cover_type cover)
{
  const unsigned a = scaleCover(sa, cover);
  if (!a)
    return;
  const unsigned da = p[A], s1a = 255 - a;
  for (int c : {R, G, B})
    p[c] = (u8)((((da - p[c]) * a + 255) >> 8) + ((p[c] * s1a + 255) >> 8));
  p[A] = (u8)(a + da - ((a * da + 255) >> 8));
}

// Dca' = (Da - Dca).Sca + Dca.(1 - Sa); Da' = Sa + Da - Sa.Da
void blendInvertRgb(u8* p, u8 sr, u8 sg, u8 sb, u8 sa, agg::cover_type cover)
{
  unsigned s[3] = {sr, sg, sb}, a = sa;
  if (cover < 255) {
    for (unsigned& v : s)
      v = scaleCover(v, cover);
    a = scaleCover(a, cover);
  }
  if (!a)
    return;
  const unsigned da = p[A], s1a = 255 - a;
  const int ch[3] = {R, G, B};
  for (int i = 0; i < 3; ++i) {
    const int c = ch[i];
    p[c] = (u8)((((da - p[c]) * s[i] + 255) >> 8) + ((p[c] * s1a + 255) >> 8));
  }
  p[A] = (u8)(a + da - ((a * da + 255) >> 8));
}

template <template <class, class> class Op>
constexpr AggFn agg_op() { return &Op<agg::rgba8, agg::order_rgba>::blend_pix; }

const AggFn kTable[CompOpCount] = {
  agg_op<agg::comp_op_rgba_clear>(),       agg_op<agg::comp_op_rgba_src>(),
  agg_op<agg::comp_op_rgba_dst>(),         agg_op<agg::comp_op_rgba_src_over>(),
  agg_op<agg::comp_op_rgba_dst_over>(),    agg_op<agg::comp_op_rgba_src_in>(),
  agg_op<agg::comp_op_rgba_dst_in>(),      agg_op<agg::comp_op_rgba_src_out>(),
  agg_op<agg::comp_op_rgba_dst_out>(),     &SrcAtop::blend_pix,          
  agg_op<agg::comp_op_rgba_dst_atop>(),    agg_op<agg::comp_op_rgba_xor>(),
  agg_op<agg::comp_op_rgba_plus>(),        &blendMinus,
  agg_op<agg::comp_op_rgba_multiply>(),    agg_op<agg::comp_op_rgba_screen>(),
  agg_op<agg::comp_op_rgba_overlay>(),     agg_op<agg::comp_op_rgba_darken>(),
  agg_op<agg::comp_op_rgba_lighten>(),     agg_op<agg::comp_op_rgba_color_dodge>(),
  agg_op<agg::comp_op_rgba_color_burn>(),  agg_op<agg::comp_op_rgba_hard_light>(),
  agg_op<agg::comp_op_rgba_soft_light>(),  agg_op<agg::comp_op_rgba_difference>(),
  agg_op<agg::comp_op_rgba_exclusion>(),   &blendContrast,
  &blendInvert,                            &blendInvertRgb,
};

const char* const kNames[CompOpCount] = {
  "clear", "src", "dst", "src-over", "dst-over", "src-in", "dst-in", "src-out", "dst-out",
  "src-atop", "dst-atop", "xor", "plus", "minus", "multiply", "screen", "overlay", "darken",
  "lighten", "color-dodge", "color-burn", "hard-light", "soft-light", "difference",
  "exclusion", "contrast", "invert", "invert-rgb",
};

} // namespace

const char* compOpName(int op) { return op >= 0 && op < CompOpCount ? kNames[op] : nullptr; }

bool compOpByName(const std::string& word, int& op)
{
  for (int i = 0; i < CompOpCount; ++i)
    if (word == kNames[i]) {
      op = i;
      return true;
    }
  return false;
}

void comp_op_adaptor_canvas::blend_pix(unsigned op, value_type* p, value_type r, value_type g,
                                       value_type b, value_type a, agg::cover_type cover)
{
  // An operator value from outside the table paints nothing.
  if (op >= (unsigned)CompOpCount)
    return;
  kTable[op](p, color_type::multiply(r, a), color_type::multiply(g, a),
             color_type::multiply(b, a), a, cover);
}
