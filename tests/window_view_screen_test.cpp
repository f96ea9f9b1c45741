// The view as the X server shows it: the real program runs on a virtual X server (the test runs
// under xvfb-run) and its window is read back from the server, so what a repaint from scratch
// would hide (pixels left over from an earlier paint) is seen.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/ui/ScreenViewer.h"

using namespace vimo::test;

namespace {

struct Area {
  int left, top, right, bottom;  // right and bottom exclusive
};

// Pixels of the area, outside `except`, that do not have the colour.
int CountOtherThan(const Pixels& screen, Area area, Rgb colour, Area except = {0, 0, 0, 0}) {
  int other = 0;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      const bool excepted = x >= except.left && x < except.right && y >= except.top && y < except.bottom;
      if (!excepted && !(screen.At(x, y) == colour)) ++other;
    }
  }
  return other;
}

// The white box of the Image Gift caption at (10, 10) of the image: its height, 0 when none.
int CaptionHeight(const Pixels& screen, Place origin) {
  int height = 0;
  while (origin.y + 10 + height < screen.height && screen.At(origin.x + 10, origin.y + 10 + height) == Rgb{255, 255, 255})
    ++height;
  return height;
}

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
  }
  // A BMP file of a pattern whose every pixel differs from its neighbours; its pixels.
  std::vector<Rgb> WriteImage(const std::string& name, int width, int height, unsigned seed) {
    std::vector<Rgb> pixels = Pattern(width, height, seed);
    WriteFile(m_dir / name, MakeBmp24(width, height, pixels));
    return pixels;
  }
  TempDir m_dir;
};

TEST_F(ScreenTest, WindowColourSurroundsAnImageAndReplacesALargerOneBefore) {
  const std::vector<Rgb> large = WriteImage("a-large.bmp", 240, 200, 1);
  const std::vector<Rgb> small = WriteImage("b-small.bmp", 60, 40, 2);
  ScreenViewer viewer;
  ASSERT_TRUE(viewer.Start({(m_dir / "a-large.bmp").string()}));
  const unsigned long window = ScreenViewer::WaitForTitle("a-large.bmp - Vimo");
  ASSERT_NE(window, 0u) << viewer.Errors();
  Pixels screen =
      ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return FindBlock(p, large, 240, 0, 0, 240, 200).Found(); });
  const Place origin = FindBlock(screen, large, 240, 0, 0, 240, 200);
  ASSERT_TRUE(origin.Found()) << "the image is not on the screen 1:1";
  const Area around{origin.x, origin.y, origin.x + 340, origin.y + 260};
  ASSERT_LE(around.right, screen.width);
  EXPECT_EQ(CountOtherThan(screen, around, WindowColour(), {origin.x, origin.y, origin.x + 240, origin.y + 200}), 0);

  // The smaller image comes through a second start, which hands it over: no scroll bar changes.
  ASSERT_EQ(viewer.StartAgain({(m_dir / "b-small.bmp").string()}).status, 0);
  ASSERT_NE(ScreenViewer::WaitForTitle("b-small.bmp - Vimo"), 0u);
  screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) {
    const Place at = FindBlock(p, small, 60, 0, 0, 60, 40);
    return at.x == origin.x && at.y == origin.y;
  });
  ASSERT_GT(screen.width, 0) << "the smaller image did not appear where the larger one was";
  EXPECT_EQ(CountOtherThan(screen, around, WindowColour(), {origin.x, origin.y, origin.x + 60, origin.y + 40}), 0)
      << "pixels of the larger image are left on the screen";
}

TEST_F(ScreenTest, CaptionScrollsAwayWithTheImageAndStaysLegibleWhenScaled) {
  const std::vector<Rgb> image = WriteImage("stack.bmp", 1000, 900, 3);
  int captionHeight[3] = {0, 0, 0};
  for (int scale : {1, 2}) {
    SCOPED_TRACE("scale " + std::to_string(scale));
    ScreenViewer viewer({"QT_SCALE_FACTOR=" + std::to_string(scale)});
    ASSERT_TRUE(viewer.Start({(m_dir / "stack.bmp").string()}));
    const unsigned long window = ScreenViewer::WaitForTitle("stack.bmp - Vimo");
    ASSERT_NE(window, 0u) << viewer.Errors();
    Pixels screen = ScreenViewer::WaitForScreen(
        window, [&](const Pixels& p) { return FindBlock(p, image, 1000, 0, 0, 100, 100).Found(); });
    const Place origin = FindBlock(screen, image, 1000, 0, 0, 100, 100);
    ASSERT_TRUE(origin.Found());

    ScreenViewer::Type(window, "F5");
    screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return CaptionHeight(p, origin) > 0; });
    captionHeight[scale] = CaptionHeight(screen, origin);
    ASSERT_GT(captionHeight[scale], 0) << "no caption after F5";

    // One page down: the image's row 140 is at the top, the caption went up with row 10.
    ScreenViewer::Type(window, "Down");
    screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) {
      const Place at = FindBlock(p, image, 1000, 0, 140, 300, 200);
      return at.x == origin.x && at.y == origin.y;
    });
    EXPECT_GT(screen.width, 0) << "after scrolling, the view does not show the image alone from row 140";
  }
  EXPECT_GE(captionHeight[2], 2 * captionHeight[1] - 2) << "the caption's text does not grow with the scale";
}

TEST_F(ScreenTest, ScaledScreenShowsOneImagePixelPerDevicePixelOverExactlyTheImage) {
  const std::vector<Rgb> image = WriteImage("sharp.bmp", 1000, 900, 4);
  ScreenViewer viewer({"QT_SCALE_FACTOR=2"});
  ASSERT_TRUE(viewer.Start({(m_dir / "sharp.bmp").string()}));
  const unsigned long window = ScreenViewer::WaitForTitle("sharp.bmp - Vimo");
  ASSERT_NE(window, 0u) << viewer.Errors();
  Pixels screen = ScreenViewer::WaitForScreen(
      window, [&](const Pixels& p) { return FindBlock(p, image, 1000, 0, 0, 600, 500).Found(); });
  const Place origin = FindBlock(screen, image, 1000, 0, 0, 600, 500);
  ASSERT_TRUE(origin.Found()) << "the image is not painted one image pixel per device pixel";

  // A page is 120 image pixels across.
  ScreenViewer::Type(window, "Right");
  screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) {
    const Place at = FindBlock(p, image, 1000, 120, 0, 200, 200);
    return at.x == origin.x && at.y == origin.y;
  });
  ASSERT_GT(screen.width, 0) << "one page right does not show the image from column 120";

  // At the far end the image's last column and row lie at the view's edges, with nothing beyond.
  ScreenViewer::Type(window, "Right Right Right Right Down Down Down Down");
  screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) {
    const Place at = FindBlock(p, image, 1000, 800, 700, 200, 200);
    return at.Found() && at.x > origin.x && at.y > origin.y;
  });
  ASSERT_GT(screen.width, 0) << "the image's bottom-right corner cannot be scrolled into view";
  const Place corner = FindBlock(screen, image, 1000, 800, 700, 200, 200);
  const Area beyondRight{corner.x + 200, corner.y, corner.x + 201, corner.y + 200};
  const Area beyondBottom{corner.x, corner.y + 200, corner.x + 200, corner.y + 201};
  EXPECT_EQ(CountOtherThan(screen, beyondRight, WindowColour()), 200) << "the view scrolls past the image's right edge";
  EXPECT_EQ(CountOtherThan(screen, beyondBottom, WindowColour()), 200) << "the view scrolls past the image's bottom";
}

TEST_F(ScreenTest, AnAnimatedGifShowsItsFramesInTurn) {
  GifFrame first = NoiseFrame(60, 40, 5), second = NoiseFrame(60, 40, 6);
  first.delay = second.delay = 50;
  WriteFile(m_dir / "anim.gif", MakeGif({first, second}, {60, 40, 0}));
  ScreenViewer viewer;
  ASSERT_TRUE(viewer.Start({(m_dir / "anim.gif").string()}));
  const unsigned long window = ScreenViewer::WaitForTitle("anim.gif - Vimo");
  ASSERT_NE(window, 0u) << viewer.Errors();
  for (const GifFrame& frame : {first, second, first}) {
    std::vector<Rgb> image;
    for (const std::uint8_t index : frame.indexes) image.push_back(frame.palette[index]);
    const auto shown = [&](const Pixels& p) { return FindBlock(p, image, 60, 0, 0, 60, 40).Found(); };
    EXPECT_GT(ScreenViewer::WaitForScreen(window, shown).width, 0) << "a frame never came on the screen";
  }
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
