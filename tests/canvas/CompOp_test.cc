#include "canvas/CompOp.hh"

#include <algorithm>
#include <cmath>
#include <functional>

#include <gtest/gtest.h>

namespace {

// Premultiplied source and destination, 0..1.
struct P {
  double r, g, b, a;
};
typedef std::function<double(double s, double sa, double d, double da)> Channel;
typedef std::function<double(double sa, double da)> Alpha;

double over(double s, double sa, double d, double da) { return s * (1 - da) + d * (1 - sa); }

struct Formula {
  const char* word;
  Channel c;
  Alpha a;
};

const Alpha union_ = [](double sa, double da) { return sa + da - sa * da; };

const Formula kFormulas[] = {
  {"clear", [](double, double, double, double) { return 0.0; }, [](double, double) { return 0.0; }},
  {"src", [](double s, double, double, double) { return s; }, [](double sa, double) { return sa; }},
  {"dst", [](double, double, double d, double) { return d; }, [](double, double da) { return da; }},
  {"src-over", [](double s, double sa, double d, double) { return s + d * (1 - sa); }, union_},
  {"dst-over", [](double s, double, double d, double da) { return d + s * (1 - da); }, union_},
  {"src-in", [](double s, double, double, double da) { return s * da; }, [](double sa, double da) { return sa * da; }},
  {"dst-in", [](double, double sa, double d, double) { return d * sa; }, [](double sa, double da) { return sa * da; }},
  {"src-out", [](double s, double, double, double da) { return s * (1 - da); }, [](double sa, double da) { return sa * (1 - da); }},
  {"dst-out", [](double, double sa, double d, double) { return d * (1 - sa); }, [](double sa, double da) { return da * (1 - sa); }},
  {"src-atop", [](double s, double sa, double d, double da) { return s * da + d * (1 - sa); }, [](double, double da) { return da; }},
  {"dst-atop", [](double s, double sa, double d, double da) { return d * sa + s * (1 - da); }, [](double sa, double) { return sa; }},
  {"xor", [](double s, double sa, double d, double da) { return over(s, sa, d, da); }, [](double sa, double da) { return sa + da - 2 * sa * da; }},
  {"plus", [](double s, double sa, double d, double da) { return std::min(s + d, std::min(sa + da, 1.0)); }, [](double sa, double da) { return std::min(sa + da, 1.0); }},
  {"minus", [](double s, double, double d, double) { return std::max(d - s, 0.0); }, union_},
  {"multiply", [](double s, double sa, double d, double da) { return s * d + over(s, sa, d, da); }, union_},
  {"screen", [](double s, double, double d, double) { return s + d - s * d; }, union_},
  {"overlay", [](double s, double sa, double d, double da) {
     return (2 * d <= da ? 2 * s * d : sa * da - 2 * (da - d) * (sa - s)) + over(s, sa, d, da); }, union_},
  {"darken", [](double s, double sa, double d, double da) { return std::min(s * da, d * sa) + over(s, sa, d, da); }, union_},
  {"lighten", [](double s, double sa, double d, double da) { return std::max(s * da, d * sa) + over(s, sa, d, da); }, union_},
  {"color-dodge", [](double s, double sa, double d, double da) {
     if (s * da + d * sa >= sa * da) return sa * da + over(s, sa, d, da);
     return d * sa / (1 - s / sa) + over(s, sa, d, da); }, union_},
  {"color-burn", [](double s, double sa, double d, double da) {
     if (s * da + d * sa <= sa * da) return over(s, sa, d, da);
     return sa * (s * da + d * sa - sa * da) / s + over(s, sa, d, da); }, union_},
  {"hard-light", [](double s, double sa, double d, double da) {
     return (2 * s <= sa ? 2 * s * d : sa * da - 2 * (da - d) * (sa - s)) + over(s, sa, d, da); }, union_},
  {"soft-light", [](double s, double sa, double d, double da) {
     const double m = da > 0 ? d / da : 0;
     double v;
     if (2 * s <= sa) v = d * (sa + (2 * s - sa) * (1 - m));
     else if (4 * d <= da) v = d * sa + da * (2 * s - sa) * (((16 * m - 12) * m + 4) * m - m);
     else v = d * sa + da * (2 * s - sa) * (std::sqrt(m) - m);
     return v + over(s, sa, d, da); }, union_},
  {"difference", [](double s, double sa, double d, double da) { return s + d - 2 * std::min(s * da, d * sa); }, union_},
  {"exclusion", [](double s, double sa, double d, double da) { return s * da + d * sa - 2 * s * d + over(s, sa, d, da); }, union_},
  // Ours: the destination's distance from half its alpha, stretched by the
  // source's; alpha unchanged.
  {"contrast", [](double s, double sa, double d, double da) {
     return std::clamp((d - da / 2) * (2 * (s - sa / 2) + 1) + da / 2, 0.0, da); }, [](double, double da) { return da; }},
  {"invert", [](double, double sa, double d, double da) { return (da - d) * sa + d * (1 - sa); }, union_},
  {"invert-rgb", [](double s, double sa, double d, double da) { return (da - d) * s + d * (1 - sa); }, union_},
};

} // namespace

TEST(CompOp, WordsRoundTripAndUnknownWordsFail)
{
  for (int op = 0; op < CompOpCount; ++op) {
    int back = -1;
    ASSERT_TRUE(compOpByName(compOpName(op), back));
    EXPECT_EQ(back, op);
  }
  int op = 7;
  EXPECT_FALSE(compOpByName("src_over", op));
  EXPECT_EQ(op, 7);
  EXPECT_EQ(compOpName(28), nullptr);
  ASSERT_EQ(sizeof(kFormulas) / sizeof(kFormulas[0]), (size_t)CompOpCount);
}

TEST(CompOp, EveryOperatorFollowsItsFormula)
{
  // Source colours are straight (the blender premultiplies them);
  // destinations are premultiplied.
  struct Pair {
    agg::int8u s[4], d[4];
  } pairs[] = {
    {{200, 100, 50, 255}, {40, 120, 200, 255}},
    {{200, 100, 50, 128}, {30, 90, 150, 200}},
    {{10, 250, 128, 64}, {100, 20, 60, 100}},
    {{255, 255, 255, 255}, {0, 0, 0, 0}},
  };
  for (int op = 0; op < CompOpCount; ++op) {
    const Formula& f = kFormulas[op];
    ASSERT_STREQ(f.word, compOpName(op));
    for (const Pair& p : pairs) {
      agg::int8u px[4] = {p.d[0], p.d[1], p.d[2], p.d[3]};
      comp_op_adaptor_canvas::blend_pix(op, px, p.s[0], p.s[1], p.s[2], p.s[3], 255);
      const double sa = p.s[3] / 255.0, da = p.d[3] / 255.0;
      // AGG generalises soft-light to translucent colours its own way;
      // the opaque case is the published formula.
      if (op == CompSoftLight && (p.s[3] != 255 || p.d[3] != 255))
        continue;
      for (int c = 0; c < 3; ++c) {
        const double s = agg::rgba8::multiply(p.s[c], p.s[3]) / 255.0;
        double expect = f.c(s, sa, p.d[c] / 255.0, da);
        expect = std::clamp(expect, 0.0, 1.0) * 255;
        EXPECT_NEAR(px[c], expect, 2.0) << f.word << " channel " << c << " src a " << (int)p.s[3];
      }
      EXPECT_NEAR(px[3], std::clamp(f.a(sa, da), 0.0, 1.0) * 255, 1.5) << f.word;
    }
  }
}

TEST(CompOp, PartialCoverScalesTheSource)
{
  // Half cover of an opaque invert equals a full cover at half alpha.
  agg::int8u a[4] = {40, 80, 120, 255}, b[4] = {40, 80, 120, 255};
  comp_op_adaptor_canvas::blend_pix(CompInvert, a, 0, 0, 0, 255, 128);
  comp_op_adaptor_canvas::blend_pix(CompInvert, b, 0, 0, 0, 128, 255);
  for (int c = 0; c < 4; ++c)
    EXPECT_NEAR(a[c], b[c], 1) << c;
  EXPECT_NEAR(a[0], 40 + (255 - 80) * 0.5, 2);
}
