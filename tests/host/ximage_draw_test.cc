// Image entries that draw paths: the fill colour and drawing transform they
// use, including the defaults before a script sets either.
#include <gtest/gtest.h>

#include "canvas/Transform.hh"
#include "canvas/XPath.hh"
#include "host/XImage.hh"
#include "tests/host/ximage_support.hh"
#include "tests/support/TestSupport.hh"

using ximagetest::Result;
using ximagetest::Script;

namespace {

// A script state that also knows paths and transforms, with the global
// "square": the pixel-aligned square (2, 2)-(6, 6).
struct DrawScript : Script {
  DrawScript()
  {
    LuaWrapper::DeclareToLua<Transform>(L, "Tolm");
    LuaWrapper::DeclareToLua<XPath>(L, "Tolm");
    exportTransformClass(L);
    exportPathClass(L);
    lua_settop(L, 0);
    XPath* p = new XPath();
    p->rect(2, 2, 6, 6);
    givePath("square", p);
  }
  void givePath(const char* name, XPath* p)
  {
    LuaWrapper::LuaClass<XPath>::packPtr(L, p);
    lua_setglobal(L, name);
  }
  void giveTransform(const char* name, Transform* t)
  {
    LuaWrapper::LuaClass<Transform>::packPtr(L, t);
    lua_setglobal(L, name);
  }
};

// Pixel (x, y) of an 8x8 image after the call, as samples.
std::vector<int> at(Script& s, int x, int y)
{
  return testsupport::pixelAt(*s.image("img"), x, y);
}

} // namespace

TEST(XImageDraw, FillPathUsesTheFillColourAndTransform)
{
  struct Case {
    const char* name;
    const char* call;
    std::vector<int> inside, outside;
    int ix, iy; // a pixel inside the drawn area
  } cases[] = {
    {"default colour is opaque black", "img:fillPath(square)", {0, 0, 0}, {255, 255, 255}, 3, 3},
    {"colour", "img:color(1, 0, 0, 1) img:fillPath(square, 1)", {255, 0, 0}, {255, 255, 255}, 3, 3},
    {"components clamp", "img:color(0, 2, -1, 1) img:fillPath(square)", {0, 255, 0},
     {255, 255, 255}, 3, 3},
    {"transform moves the path", "img:setTransform(shift) img:fillPath(square)", {0, 0, 0},
     {255, 255, 255}, 6, 3},
    {"setTransform() resets", "img:setTransform(shift) img:setTransform() img:fillPath(square)",
     {0, 0, 0}, {255, 255, 255}, 3, 3},
    {"transparent colour changes nothing", "img:color(0, 0, 0, 0) img:fillPath(square)",
     {255, 255, 255}, {255, 255, 255}, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DrawScript s;
    Transform* shift = new Transform();
    shift->translate(3, 0);
    s.giveTransform("shift", shift);
    s.give("img", testsupport::uniform(10, 8, 3, 8, 255));
    Result r = s.run(c.call);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(at(s, c.ix, c.iy), c.inside);
    EXPECT_EQ(at(s, 0, 0), c.outside);
    EXPECT_EQ(at(s, 9, 7), c.outside);
  }
}

TEST(XImageDraw, StrokePathIsPlain)
{
  DrawScript s;
  s.give("img", testsupport::uniform(10, 8, 1, 8, 255));
  // The stored line style does not change the stroke.
  Result r = s.run("img:setLineStyle('round', 'round', 9) img:setLineDash(1, 1) "
                   "img:strokePath(square, 2)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(at(s, 2, 4)[0], 0);   // on the edge, both sides covered
  EXPECT_EQ(at(s, 4, 4)[0], 255); // the middle stays
  EXPECT_EQ(at(s, 2, 2)[0], 0);
  EXPECT_EQ(at(s, 0, 0)[0], 255);
  EXPECT_FALSE(s.run("img:strokePath(square)").ok); // the width is required
}

TEST(XImageDraw, FillPathImage)
{
  DrawScript s;
  s.give("img", testsupport::uniform(10, 8, 3, 8, 255));
  s.give("pattern", testsupport::uniform(10, 8, 3, 8, 40));
  Result r = s.run("img:fillPathImage(square, pattern)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(at(s, 3, 3), (std::vector<int>{40, 40, 40}));
  EXPECT_EQ(at(s, 0, 0), (std::vector<int>{255, 255, 255}));
  // alpha 0 (and below, clamped) paints nothing.
  s.give("img", testsupport::uniform(10, 8, 3, 8, 255));
  r = s.run("img:fillPathImage(square, pattern, -3, nil, false)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(at(s, 3, 3), (std::vector<int>{255, 255, 255}));
  // An image painted into itself reads from a copy.
  r = s.run("img:fillPathImage(square, img)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(s.run("img:fillPathImage(square, pattern, 1, 5)").ok);
}
