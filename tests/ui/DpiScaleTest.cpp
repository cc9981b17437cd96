// Scaling the 96-DPI layout to a window's DPI.
#include <gtest/gtest.h>

#include "ui/DpiScale.h"

using dpiscale::Box;
using dpiscale::scale;
using dpiscale::scaleBox;
using dpiscale::unscale;

TEST(DpiScale, NinetySixDpiKeepsEveryValue) {
  for (int v : {-223, -7, -1, 0, 1, 9, 189, 447, 500, 32767}) {
    EXPECT_EQ(scale(v, 96), v);
    EXPECT_EQ(unscale(v, 96), v);
  }
}

TEST(DpiScale, NoDpiCountsAsNinetySix) {
  EXPECT_EQ(scale(189, 0), 189);
  EXPECT_EQ(scale(189, -144), 189);
  EXPECT_EQ(unscale(189, 0), 189);
}

TEST(DpiScale, RoundsHalfAwayFromZeroLikeMulDiv) {
  EXPECT_EQ(scale(189, 144), 284);  // 283.5
  EXPECT_EQ(scale(-189, 144), -284);
  EXPECT_EQ(scale(1, 144), 2);  // 1.5
  EXPECT_EQ(scale(-1, 144), -2);
  EXPECT_EQ(scale(25, 120), 31);  // 31.25
  EXPECT_EQ(scale(500, 192), 1000);
  EXPECT_EQ(scale(447, 144), 671);  // 670.5
  EXPECT_EQ(scale(13, 168), 23);    // 22.75
}

TEST(DpiScale, UnscaleUndoesScaleWithinHalfAPixel) {
  for (int dpi : {120, 144, 168, 192, 288}) {
    for (int v = -300; v <= 700; ++v) {
      int back = unscale(scale(v, dpi), dpi);
      EXPECT_LE(back - v, 1) << v << " at " << dpi;
      EXPECT_GE(back - v, -1) << v << " at " << dpi;
    }
  }
  EXPECT_EQ(unscale(671, 144), 447);
}

TEST(DpiScale, LargeValuesDoNotOverflow) {
  EXPECT_EQ(scale(1000000000, 192), 2000000000);
  EXPECT_EQ(unscale(2000000000, 192), 1000000000);
}

TEST(DpiScale, BoxEdgesStayWithinHalfAPixelOfTheExactProduct) {
  for (int dpi : {120, 144, 168, 192}) {
    for (int x = -20; x < 40; ++x) {
      for (int w = 0; w < 40; ++w) {
        Box b = scaleBox(Box{x, x / 2, w, w + 1}, dpi);
        double exactLeft = x * dpi / 96.0, exactRight = (x + w) * dpi / 96.0;
        EXPECT_LE(b.x - exactLeft, 0.5);
        EXPECT_GE(b.x - exactLeft, -0.5);
        EXPECT_LE(b.x + b.width - exactRight, 0.5);
        EXPECT_GE(b.x + b.width - exactRight, -0.5);
        EXPECT_GE(b.width, 0);
      }
    }
  }
}

TEST(DpiScale, NeighboursThatTouchStillTouch) {
  // The wizard's Back and Next buttons, and two stage items 30 apart.
  for (int dpi : {120, 144, 168, 192}) {
    Box a = scaleBox(Box{0, 85, 400, 30}, dpi);
    Box b = scaleBox(Box{0, 115, 400, 25}, dpi);
    EXPECT_EQ(a.y + a.height, b.y) << dpi;
    Box left = scaleBox(Box{315, 407, 85, 25}, dpi);
    Box right = scaleBox(Box{400, 407, 80, 25}, dpi);
    EXPECT_EQ(left.x + left.width, right.x) << dpi;
  }
}

TEST(DpiScale, OneAndAHalfTimesAtOneHundredFortyFour) {
  Box b = scaleBox(Box{189, 85, 400, 25}, 144);
  EXPECT_EQ(b.x, 284);
  EXPECT_EQ(b.y, 128);      // 127.5
  EXPECT_EQ(b.width, 600);  // right edge 883.5 -> 884
  EXPECT_EQ(b.height, 37);  // bottom 165 - 128
}
