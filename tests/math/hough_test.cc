// Line Hough accumulator: peaks of point sets on known lines.
#include <gtest/gtest.h>

#include <cmath>

#include "math/Hough.hh"

namespace {

const double kDeg = M_PI / 180;

// Points along x cos(theta) + y sin(theta) = rho, one per unit of length.
void addLine(LineHough& h, double theta, double rho, double from, double to)
{
  const double c = std::cos(theta), s = std::sin(theta);
  for (double t = from; t <= to; t += 1)
    h.add(rho * c - t * s, rho * s + t * c);
}

} // namespace

TEST(LineHough, PeakSitsOnTheLine)
{
  struct Case { double thetaDeg, rho; };
  const Case cases[] = {{90, 120}, {87.5, 40.3}, {93.1, 300.7}, {90.05, 12}};
  for (const Case& c : cases) {
    LineHough h(80 * kDeg, 100 * kDeg, 401, -50, 500);
    addLine(h, c.thetaDeg * kDeg, c.rho, -200, 200);
    const LineHough::Peak p = h.strongest();
    ASSERT_TRUE(p.found);
    EXPECT_NEAR(p.theta / kDeg, c.thetaDeg, 0.05 + 1e-9) << c.thetaDeg;
    EXPECT_NEAR(p.rho, c.rho, 1.0) << c.thetaDeg;
    EXPECT_GE(p.votes, 390u);
  }
}

TEST(LineHough, OutermostStrongLine)
{
  LineHough h(-5 * kDeg, 5 * kDeg, 101, 0, 400);
  addLine(h, 1 * kDeg, 50, 0, 300);   // outer edge, a little weaker
  addLine(h, 1 * kDeg, 200, 0, 380);  // strongest
  addLine(h, 1 * kDeg, 20, 0, 60);    // short: below the share
  const LineHough::Peak low = h.outermost(true, 0.5, 3);
  ASSERT_TRUE(low.found);
  EXPECT_NEAR(low.rho, 50, 1);
  EXPECT_NEAR(low.theta / kDeg, 1, 0.1 + 1e-9);
  EXPECT_NEAR(h.outermost(false, 0.5, 3).rho, 200, 1);
  EXPECT_NEAR(h.outermost(true, 0.9, 3).rho, 200, 1);
  const auto lines = h.strongLines(0.5, 3);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NEAR(lines[0].rho, 50, 1);
  EXPECT_NEAR(lines[1].rho, 200, 1);
}

TEST(LineHough, EmptyAndOutOfRange)
{
  LineHough h(0, 0, 0, 0, 10);
  EXPECT_EQ(h.thetaSteps(), 1);
  EXPECT_FALSE(h.strongest().found);
  EXPECT_FALSE(h.outermost(true, 0.5, 2).found);
  h.add(-100, 0); // rho outside the range: no vote, no write outside
  h.add(1e300, 0);
  h.add(NAN, 0);
  EXPECT_FALSE(h.strongest().found);
  h.add(3.5, 7);
  EXPECT_NEAR(h.strongest().rho, 3.5, 0.5);
}
