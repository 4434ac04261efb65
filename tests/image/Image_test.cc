#include <gtest/gtest.h>
#include "image/Image.hh"
TEST(Image, Empty) { Image i; EXPECT_EQ(i.w, 0); }
