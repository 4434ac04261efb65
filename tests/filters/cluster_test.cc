#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "filters/cluster.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// '#' is 0 (in range 0..0), '.' is 255.
Image fromArt(const std::vector<std::string>& rows)
{
  const int w = (int)rows[0].size(), h = (int)rows.size();
  Image img = makeImage(w, h, 1, 8, w + 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      setSampleAt(img, x, y, 0, rows[y][x] == '#' ? 0 : 255);
  return img;
}

} // namespace

TEST(Cluster, GrowsEightConnectedRegions)
{
  Image img = fromArt({"#....#",
                       ".#...#",
                       "..#..#",
                       "......",
                       "##...#"});
  std::vector<uint8_t> map(img.w * img.h, 0);
  cluster diag(img, 0, 0, map.data(), 0, 0); // corner contacts join
  EXPECT_EQ(diag.points.size(), 3u);
  EXPECT_EQ(diag.x1, 0);
  EXPECT_EQ(diag.y1, 0);
  EXPECT_EQ(diag.x2, 2);
  EXPECT_EQ(diag.y2, 2);
  cluster column(img, 5, 0, map.data(), 0, 0);
  EXPECT_EQ(column.points.size(), 3u);
  cluster corner(img, 5, 4, map.data(), 0, 0); // last row and column
  EXPECT_EQ(corner.points.size(), 1u);
  EXPECT_EQ(corner.boxWidth(), 1);
  cluster bottom(img, 0, 4, map.data(), 0, 0);
  EXPECT_EQ(bottom.points.size(), 2u);
  EXPECT_EQ(bottom.parent, nullptr);

  // Members are state 2, out-of-range pixels stay 0, nothing stays queued.
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x)
      EXPECT_EQ(map[y * img.w + x], sampleAt(img, x, y) == 0 ? 2 : 0);

  cluster again(img, 1, 1, map.data(), 0, 0);
  EXPECT_TRUE(again.points.empty());
  EXPECT_EQ(again.x1, 1);
  EXPECT_EQ(again.x2, 1);
}

TEST(Cluster, LargeRegionAndValueRange)
{
  const int w = 300, h = 200;
  Image img = makeImage(w, h, 1, 8, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) // a spiral-free but winding comb of value 10..20
      setSampleAt(img, x, y, 0, (x % 4 == 3 && (x / 4) % 2 == (y < h - 1 ? 0 : 1)) ? 200 : 10 + (x + y) % 11);
  std::vector<uint8_t> map(w * h, 0);
  cluster c(img, 0, 0, map.data(), 10, 20);
  int64_t inRange = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      inRange += sampleAt(img, x, y) <= 20;
  EXPECT_EQ((int64_t)c.points.size(), inRange);
  std::vector<std::pair<int32_t, int32_t>> pts = c.points;
  std::sort(pts.begin(), pts.end());
  EXPECT_TRUE(std::adjacent_find(pts.begin(), pts.end()) == pts.end());
}

TEST(Cluster, AddMergesBoxesAndPoints)
{
  Image img = fromArt({"#...", "....", "...#"});
  std::vector<uint8_t> map(12, 0);
  cluster a(img, 0, 0, map.data(), 0, 0), b(img, 3, 2, map.data(), 0, 0);
  cluster empty(img, 0, 0, map.data(), 0, 0);
  a.add(b);
  EXPECT_EQ(a.points.size(), 2u);
  EXPECT_EQ(a.points[1], std::make_pair(3, 2));
  EXPECT_EQ(a.x2, 3);
  EXPECT_EQ(a.y2, 2);
  b.add(empty); // no points: only the box widens
  EXPECT_EQ(b.points.size(), 1u);
  EXPECT_EQ(b.x1, 0);
  a.add(a);
  EXPECT_EQ(a.points.size(), 4u);
}

TEST(Cluster, SeedsOutsideOrWrongImagesGiveEmptyRegions)
{
  Image img = fromArt({"##", "##"});
  std::vector<uint8_t> map(4, 0);
  for (auto seed : {std::make_pair(-1, 0), std::make_pair(0, -1), std::make_pair(2, 0), std::make_pair(0, 2)}) {
    cluster c(img, seed.first, seed.second, map.data(), 0, 0);
    EXPECT_TRUE(c.points.empty());
    EXPECT_EQ(c.x1, seed.first);
  }
  cluster noMap(img, 0, 0, nullptr, 0, 0);
  EXPECT_TRUE(noMap.points.empty());
  Image rgb = makeImage(2, 2, 3, 8, 0);
  cluster wrong(rgb, 0, 0, map.data(), 0, 255);
  EXPECT_TRUE(wrong.points.empty());
  EXPECT_EQ(std::count(map.begin(), map.end(), 0), 4);
}
