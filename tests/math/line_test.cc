#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "math/Averager.hh"
#include "math/Line.hh"
#include "math/LinearRegression.hh"

namespace {
const double pi = 3.141592653589793;

TEST(LineIntersection, CrossingPoints)
{
  struct Case {
    Line a, b;
    double x, y;
  } cases[] = {
    {{0, 0, 10, 0}, {5, -5, 5, 5}, 5, 0},
    // Far outside the first segment: the lines are infinite.
    {{0, 0, 1, 0}, {100, -1, 100, 1}, 100, 0},
    {{0, 0, 10, 10}, {0, 10, 10, 0}, 5, 5},
  };
  for (const Case& c : cases) {
    std::pair<double, double> p{-1, -1};
    ASSERT_TRUE(c.a.intersection(c.b, p));
    EXPECT_NEAR(p.first, c.x, 1e-12);
    EXPECT_NEAR(p.second, c.y, 1e-12);
  }
}

TEST(LineIntersection, ParallelLinesLeaveThePointAlone)
{
  std::pair<double, double> p{7, 8};
  EXPECT_FALSE((Line{0, 0, 10, 0}.intersection(Line{0, 5, 3, 5}, p)));
  EXPECT_FALSE((Line{0, 0, 1, 1}.intersection(Line{0, 0, 2, 2}, p))); // coincident
  EXPECT_EQ(p.first, 7);
  EXPECT_EQ(p.second, 8);
}

TEST(LineAngle, Directions)
{
  struct Case {
    Line l;
    double angle;
  } cases[] = {
    {{0, 0, 1, 1}, pi / 4},      {{0, 0, 1, -1}, 7 * pi / 4}, {{0, 0, -1, 0}, pi},
    {{0, 0, 0, 5}, pi / 2},      {{0, 0, 0, -5}, 3 * pi / 2}, {{0, 0, 3, 0}, 0},
    {{2, 2, 1, 3}, 3 * pi / 4},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(c.l.angle(), c.angle, 1e-12) << c.l.x2 << "," << c.l.y2;
  EXPECT_TRUE(std::isnan((Line{1, 1, 1, 1}.angle())));
}

TEST(LinearRegression, ExactLine)
{
  LinearRegression<double> r;
  r.addXY(0, 1);
  r.addXY(1, 3);
  // Fewer than three points: no fit yet.
  EXPECT_EQ(r.a, 0);
  EXPECT_EQ(r.b, 0);
  r.addXY(2, 5);
  EXPECT_DOUBLE_EQ(r.b, 2);
  EXPECT_DOUBLE_EQ(r.a, 1);
  EXPECT_DOUBLE_EQ(r.coefD, 1);
  EXPECT_NEAR(r.stdError, 0, 1e-9);
}

TEST(LinearRegression, NoisyFitAndRange)
{
  // y = 0.5 x - 3 with alternating +-1 noise.
  std::vector<std::pair<int, int>> pts;
  LinearRegression<double> one;
  for (int x = 0; x < 100; x += 2) {
    const int y = x / 2 - 3 + ((x / 2) % 2 ? 1 : -1);
    pts.emplace_back(x, y);
    one.addXY(x, y);
  }
  LinearRegression<double> r;
  r.addRange(pts.begin(), pts.end());
  EXPECT_EQ(r.count, 50);
  EXPECT_NEAR(r.b, 0.5, 0.01);
  EXPECT_NEAR(r.a, -3, 0.5);
  EXPECT_GT(r.coefD, 0.99);
  EXPECT_NEAR(r.coefC, std::sqrt(r.coefD), 1e-12);
  EXPECT_GT(r.stdError, 0.5);
  EXPECT_DOUBLE_EQ(r.b, one.b);

  LinearRegression<double> empty;
  std::vector<std::pair<int, int>> none;
  empty.addRange(none.begin(), none.end());
  EXPECT_EQ(empty.count, 0);
  EXPECT_EQ(empty.b, 0);
}

TEST(LinearRegression, DegenerateInputs)
{
  LinearRegression<double> vertical; // one x: no slope
  for (int y = 0; y < 5; ++y)
    vertical.addXY(3, y);
  EXPECT_EQ(vertical.a, 0);
  EXPECT_EQ(vertical.b, 0);
  EXPECT_EQ(vertical.coefD, 0);
  EXPECT_EQ(vertical.stdError, 0);

  LinearRegression<double> flat; // one y: slope 0, r squared undefined
  for (int x = 0; x < 5; ++x)
    flat.addXY(x, 7);
  EXPECT_EQ(flat.b, 0);
  EXPECT_EQ(flat.a, 7);
  EXPECT_FALSE(std::isfinite(flat.coefD));
}

TEST(Averager, StartsEmpty)
{
  averager a(3);
  EXPECT_EQ(a.index, 0);
  EXPECT_EQ(a.sum, 0);
  EXPECT_EQ(a.size, 3);
  EXPECT_EQ(a.slots, std::vector<int32_t>(3, 0));
}
} // namespace
