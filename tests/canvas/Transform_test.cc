#include "canvas/Transform.hh"

#include <cmath>

#include <gtest/gtest.h>

TEST(Transform, RotateScaleTranslateMap)
{
  struct Case {
    const char* name;
    void (*build)(Transform&);
    double x, y, ex, ey;
  } cases[] = {
    {"rotate pi/2", [](Transform& t) { t.rotate(M_PI / 2); }, 1, 0, 0, 1},
    {"scale 2", [](Transform& t) { t.scale(2, 2); }, 3, 4, 6, 8},
    {"scale x only", [](Transform& t) { t.scale(2, 1); }, 3, 4, 6, 4},
    {"translate", [](Transform& t) { t.translate(5, -1); }, 1, 1, 6, 0},
    // Operations append: rotate, then translate.
    {"rotate then translate", [](Transform& t) { t.rotate(M_PI / 2); t.translate(10, 0); }, 1, 0, 10, 1},
    {"translate then rotate", [](Transform& t) { t.translate(10, 0); t.rotate(M_PI / 2); }, 1, 0, 0, 11},
  };
  for (const Case& c : cases) {
    Transform t;
    c.build(t);
    double x = c.x, y = c.y;
    t.map(x, y);
    EXPECT_NEAR(x, c.ex, 1e-12) << c.name;
    EXPECT_NEAR(y, c.ey, 1e-12) << c.name;
  }
}

TEST(Transform, SetKeepsCoefficientOrder)
{
  Transform t;
  t.set(1, 2, 3, 4, 5, 6);
  EXPECT_EQ(t.sx, 1); EXPECT_EQ(t.shy, 2); EXPECT_EQ(t.shx, 3);
  EXPECT_EQ(t.sy, 4); EXPECT_EQ(t.tx, 5); EXPECT_EQ(t.ty, 6);
  double x = 1, y = 1;
  t.map(x, y); // (sx x + shx y + tx, shy x + sy y + ty)
  EXPECT_EQ(x, 9);
  EXPECT_EQ(y, 12);
}

TEST(Transform, MultiplyAppliesReceiverFirst)
{
  Transform a, b;
  a.scale(2, 2);
  b.translate(1, 0);
  Transform ab(a), ba(b);
  ab.multiply(b); // scale, then translate
  ba.multiply(a); // translate, then scale
  double x = 1, y = 0;
  ab.map(x, y);
  EXPECT_EQ(x, 3);
  x = 1, y = 0;
  ba.map(x, y);
  EXPECT_EQ(x, 4);
}

TEST(Transform, InvertUndoesAndQueriesReport)
{
  Transform t;
  t.rotate(0.3);
  t.scale(2, 3);
  t.translate(7, -2);
  Transform inv(t);
  inv.invert();
  double x = 4, y = 5;
  t.map(x, y);
  inv.map(x, y);
  EXPECT_NEAR(x, 4, 1e-12);
  EXPECT_NEAR(y, 5, 1e-12);

  Transform r;
  r.rotate(0.5);
  r.scale(3, 3);
  EXPECT_NEAR(r.rotation(), 0.5, 1e-12);
  double sx, sy;
  r.scaling(sx, sy);
  EXPECT_NEAR(sx, 3, 1e-12);
  EXPECT_NEAR(sy, 3, 1e-12);
  double tx, ty;
  t.translation(tx, ty);
  EXPECT_EQ(tx, t.tx);
  EXPECT_EQ(ty, t.ty);
}
