// How an image lies in the view, worked out without a window: the turn it is shown at, its scale
// and size, where it starts, and the zoom steps of +, - and Ctrl+wheel.
#include <gtest/gtest.h>

#include "view/ImageLayout.h"

namespace {

TEST(ImageLayout, TurnsScalesAndPlacesTheImageAsTheUserChose) {
  const struct {
    const char* what;
    CSize stored;
    CRect source;
    int converted, photo;  // the converted file's turn since it was made; the photo's own orientation
    int quarters;          // R (1) and Shift+R (-1)
    double zoom;           // 0: not zoomed
    CSize client;
    BOOL fullScreen, fit;
    int orientation;
    double scale;
    CSize shown;
    CPoint origin;
  } rows[] = {
      {"1:1 in the corner", {300, 200}, {0, 0, 300, 200}, 1, 1, 0, 0, {100, 100}, FALSE, FALSE, 1, 1.0, {300, 200}, {0, 0}},
      {"fitted and centred", {1200, 300}, {0, 0, 1200, 300}, 1, 1, 0, 0, {400, 300}, FALSE, TRUE, 1, 1.0 / 3, {400, 100}, {0, 100}},
      {"a small one fitted stays 1:1", {40, 30}, {0, 0, 40, 30}, 1, 1, 0, 0, {400, 300}, FALSE, TRUE, 1, 1.0, {40, 30}, {180, 135}},
      {"a photo upright", {240, 160}, {0, 0, 240, 160}, 1, 6, 0, 0, {100, 100}, FALSE, FALSE, 6, 1.0, {160, 240}, {0, 0}},
      {"a photo upright, Shift+R", {240, 160}, {0, 0, 240, 160}, 1, 6, -1, 0, {100, 100}, FALSE, FALSE, 1, 1.0, {240, 160}, {0, 0}},
      {"zoomed, full screen", {300, 200}, {0, 0, 300, 200}, 1, 1, 0, 1.5, {1280, 1024}, TRUE, FALSE, 1, 1.5, {450, 300}, {415, 362}},
      {"full screen fits of its own", {2560, 100}, {0, 0, 2560, 100}, 1, 1, 0, 0, {1280, 1024}, TRUE, FALSE, 1, 0.5, {1280, 50}, {0, 487}},
      {"its file turned and cut since", {300, 200}, {0, 0, 296, 200}, 6, 1, 1, 0, {100, 100}, FALSE, FALSE, 3, 1.0, {296, 200}, {0, 0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    CImageLayout layout;
    double x = 0, y = 0;
    if (row.quarters != 0) layout.Turn(row.quarters, x, y, CImageLayout::CLayout{});
    if (row.zoom != 0) layout.ZoomTo(row.zoom);
    const CImageLayout::CWindow window{row.client, row.fullScreen, row.fit};
    const CImageLayout::CLayout laid = layout.Lay({row.stored, row.source, row.converted, row.photo}, window);
    EXPECT_EQ(laid.nOrientation, row.orientation);
    EXPECT_DOUBLE_EQ(laid.dScale, row.scale);
    EXPECT_EQ(laid.sizeShown.cx, row.shown.cx);
    EXPECT_EQ(laid.sizeShown.cy, row.shown.cy);
    const CPoint origin = CImageLayout::Origin(laid, row.client);
    EXPECT_EQ(origin.x, row.origin.x);
    EXPECT_EQ(origin.y, row.origin.y);
  }
}

TEST(ImageLayout, ZoomStepsEndAtAThirtySecondAndEightTimesAndTheWheelCountsWholeNotches) {
  EXPECT_DOUBLE_EQ(CImageLayout::NextZoomStep(1.0, 1), 1.5);
  EXPECT_DOUBLE_EQ(CImageLayout::NextZoomStep(0.4, -1), 1.0 / 3);
  EXPECT_DOUBLE_EQ(CImageLayout::NextZoomStep(8.0, 1), 8.0);
  EXPECT_DOUBLE_EQ(CImageLayout::NextZoomStep(1.0 / 32, -1), 1.0 / 32);
  CImageLayout layout;
  EXPECT_DOUBLE_EQ(layout.WheelScale(60, 1.0), 1.0) << "half a notch";
  EXPECT_DOUBLE_EQ(layout.WheelScale(60, 1.0), 1.5);
  EXPECT_DOUBLE_EQ(layout.WheelScale(-240, 1.5), 2.0 / 3);
}

}  // namespace
