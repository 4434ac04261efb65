// The choice of the visual X11 windows draw through: a true-colour one
// whatever the default visual is, or none (then the display is not used).
#include <gtest/gtest.h>

#include "platform/X11Visual.hh"

#include <vector>

namespace {

XVisualInfo visual(VisualID id, int depth, int cls)
{
  XVisualInfo v{};
  v.visualid = id;
  v.depth = depth;
  v.c_class = cls;
  return v;
}

TEST(X11Visual, ChoosesATrueColorVisual)
{
  struct Case {
    const char* what;
    std::vector<XVisualInfo> visuals;
    VisualID defaultVisual;
    VisualID chosen; // 0: none
  } cases[] = {
      {"true-colour default", {visual(1, 24, TrueColor), visual(2, 32, TrueColor)}, 1, 1},
      {"8-bit PseudoColor default with 8-bit TrueColor",
       {visual(1, 8, PseudoColor), visual(2, 8, StaticGray), visual(3, 8, TrueColor)}, 1, 3},
      {"PseudoColor default, deeper ones", 
       {visual(1, 8, PseudoColor), visual(2, 32, TrueColor), visual(3, 16, TrueColor),
        visual(4, 24, TrueColor), visual(5, 24, DirectColor)},
       1, 4},
      {"below 24 before 32", {visual(1, 8, PseudoColor), visual(2, 32, TrueColor), visual(3, 15, TrueColor)}, 1, 3},
      {"only 32", {visual(1, 8, PseudoColor), visual(2, 32, TrueColor)}, 1, 2},
      {"no true colour", {visual(1, 8, PseudoColor), visual(2, 8, DirectColor), visual(3, 1, StaticGray)}, 1, 0},
      {"no visuals", {}, 1, 0},
  };
  for (const Case& c : cases) {
    const XVisualInfo* v = platform::x11::chooseTrueColor(c.visuals.data(), (int)c.visuals.size(),
                                                          c.defaultVisual);
    EXPECT_EQ(v ? v->visualid : 0, c.chosen) << c.what;
  }
}

TEST(X11Visual, SaysWhyAScreenIsNotUsed)
{
  EXPECT_EQ(platform::x11::unsupportedVisual(8, PseudoColor),
            "8-bit PseudoColor visual not supported (no TrueColor visual)");
  EXPECT_EQ(platform::x11::unsupportedVisual(1, StaticGray),
            "1-bit StaticGray visual not supported (no TrueColor visual)");
}

} // namespace
