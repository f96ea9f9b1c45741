// Fit, zoom, full screen and upright photos as the X server shows them: the real program runs on
// a virtual X server and keys are typed into it, so what a user sees is what is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "support/ui/ScreenViewer.h"

using namespace vimo::test;

namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

// A picture of cols x rows flat blocks of size pixels, each of its own colour.
Rgb BlockColour(int col, int row, int seed = 0) {
  return Rgb{static_cast<std::uint8_t>(30 + col * 17 + seed), static_cast<std::uint8_t>(60 + row * 40),
             static_cast<std::uint8_t>(220 - col * 9 - seed)};
}

std::vector<Rgb> Blocks(int cols, int rows, int size, int seed = 0) {
  std::vector<Rgb> pixels;
  for (int y = 0; y < rows * size; ++y) {
    for (int x = 0; x < cols * size; ++x) pixels.push_back(BlockColour(x / size, y / size, seed));
  }
  return pixels;
}

class ViewingScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
  }
  unsigned long Open(ScreenViewer& viewer, const std::string& name) {
    EXPECT_TRUE(viewer.Start({(m_dir / name).string()}));
    const unsigned long window = ScreenViewer::WaitForTitle(name + " - Vimo");
    EXPECT_NE(window, 0u) << viewer.Errors();
    return window;
  }
  TempDir m_dir;
};

TEST_F(ViewingScreenTest, FitAndZoomKeepTheImagePlacedAsTheUserExpects) {
  WriteFile(m_dir / "blocks.bmp", MakeBmp24(1200, 300, Blocks(12, 3, 100)));
  ScreenViewer viewer;
  const unsigned long window = Open(viewer, "blocks.bmp");
  ASSERT_NE(window, 0u);

  // F: the whole image, a third of its size in the 400-pixel-wide window, centred from top to bottom.
  ScreenViewer::Type(window, "f");
  // Each wait is for the whole expected picture: a screen read while the window still settles
  // shows states in between.
  const auto fitted = [](const Pixels& p) {
    const Box first = FindColour(p, BlockColour(0, 0)), last = FindColour(p, BlockColour(11, 2));
    if (!first.Found() || !last.Found()) return false;
    int above = 0, below = 0;
    while (first.top - 1 - above >= 0 && p.At(200, first.top - 1 - above) == WindowColour()) ++above;
    while (last.bottom + 1 + below < p.height && p.At(200, last.bottom + 1 + below) == WindowColour()) ++below;
    return std::abs(last.right - first.left + 1 - 400) <= 2 && std::abs(last.bottom - first.top + 1 - 100) <= 2 &&
           std::abs(above - below) <= 2;
  };
  Pixels screen = ScreenViewer::WaitForScreen(window, fitted);
  ASSERT_GT(screen.width, 0) << "the whole image is not shown, a third of its size, centred";

  // 1: 1:1 about the window's centre; then Ctrl+wheel, 150 % about the pointer.
  ScreenViewer::Type(window, "1");
  screen = ScreenViewer::WaitForScreen(window, [](const Pixels& p) {
    const Box b = FindColour(p, BlockColour(6, 1));
    return b.Width() == 100 && std::abs(b.left - 200) <= 2;
  });
  const Box centre = FindColour(screen, BlockColour(6, 1));
  ASSERT_TRUE(centre.Found()) << "not 1:1 about the centre";
  const int pointerX = centre.left + 40, pointerY = (centre.top + centre.bottom) / 2;
  ScreenViewer::CtrlWheel(window, pointerX, pointerY, 1);
  screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) {
    const Box b = FindColour(p, BlockColour(6, 1));
    return std::abs(b.Width() - 150) <= 1 && std::abs(b.left - (pointerX - 60)) <= 2;
  });
  ASSERT_GT(screen.width, 0) << "not 150 % with the point under the pointer kept";

  // An arrow key scrolls a page of 120 screen pixels, whatever the zoom.
  const Box before = FindColour(screen, BlockColour(7, 1));
  ScreenViewer::Type(window, "Right");
  screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return FindColour(p, BlockColour(7, 1)).left == before.left - 120; });
  EXPECT_GT(screen.width, 0) << "not scrolled by 120";

  viewer.Stop();
  EXPECT_NE(TextOfFile(viewer.ProfilePath()).find("FitToWindow=1"), std::string::npos) << "fit is remembered";
}

TEST_F(ViewingScreenTest, FullScreenShowsTheImageAloneAndTheWindowComesBackAsItWas) {
  WriteFile(m_dir / "a.bmp", MakeBmp24(1600, 1200, Blocks(4, 3, 400)));
  WriteFile(m_dir / "b.bmp", MakeBmp24(1600, 1200, Blocks(4, 3, 400, 7)));
  ScreenViewer viewer;
  WriteText(viewer.ProfilePath(), "[Window size]\nRect=0100 0080 0740 0560\niconized=0\nmaximized=0\n");
  const unsigned long window = Open(viewer, "a.bmp");
  ASSERT_NE(window, 0u);

  // F11: the screen (1280 x 1024) black but for the image, fitted (1280 x 960) and centred.
  ScreenViewer::Type(window, "F11");
  Pixels screen = ScreenViewer::WaitForScreen(window, [](const Pixels& p) {
    return p.width == 1280 && p.height == 1024 && FindColour(p, BlockColour(0, 0)).top == 32 &&
           FindColour(p, BlockColour(3, 2)).bottom == 991;
  });
  ASSERT_GT(screen.width, 0) << "not full screen, fitted and centred";
  for (int y : {0, 31, 992, 1023}) {
    for (int x = 0; x < 1280; x += 7) ASSERT_EQ(screen.At(x, y), kBlack) << x << "," << y << ": no menu, bars or frame";
  }

  // Tab and F5 work inside it.
  ScreenViewer::Type(window, "Tab");
  ASSERT_NE(ScreenViewer::WaitForTitle("b.bmp - Vimo"), 0u);
  ScreenViewer::Type(window, "F5");
  screen = ScreenViewer::WaitForScreen(window, [](const Pixels& p) {
    const Box b = FindColour(p, BlockColour(0, 0, 7));
    return b.Found() && p.At(b.left + 11, b.top + 11) == kWhite;
  });
  EXPECT_GT(screen.width, 0) << "no caption at the image's corner";

  // Esc: the window as it was, the image 1:1 again.
  ScreenViewer::Type(window, "Escape");
  screen = ScreenViewer::WaitForScreen(window, [](const Pixels& p) {
    return p.width == 640 && p.height == 480 && FindColour(p, BlockColour(0, 0, 7)).Width() == 400;
  });
  ASSERT_GT(screen.width, 0) << "the window did not come back";

  // Full screen again, and closed in it: the window's own placement and bars are what is remembered.
  ScreenViewer::Type(window, "F11");
  ASSERT_GT(ScreenViewer::WaitForScreen(window, [](const Pixels& p) { return p.width == 1280; }).width, 0);
  // 1: the image, larger than the screen, fills it to the edges without scroll bars; the arrow
  // keys pan it.
  ScreenViewer::Type(window, "1");
  const auto isPicture = [](Rgb c) { return c.red != c.green || c.green != c.blue; };  // not a bar's grey, nor black
  screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) {
    return isPicture(p.At(1279, 1023)) && isPicture(p.At(1279, 500)) && isPicture(p.At(640, 1023));
  });
  ASSERT_GT(screen.width, 0) << "scroll bars along the screen's edges";
  const Box block = FindColour(screen, BlockColour(1, 1, 7));
  ScreenViewer::Type(window, "Right");
  EXPECT_GT(ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return FindColour(p, BlockColour(1, 1, 7)).left == block.left - 120; }).width, 0);
  viewer.Stop();
  const std::string profile = TextOfFile(viewer.ProfilePath());
  EXPECT_NE(profile.find("Rect=0100 0080 0740 0560"), std::string::npos) << profile;
  for (const char* bar : {"BarID=59392\nVisible=1", "BarID=59393\nVisible=1"}) EXPECT_NE(profile.find(bar), std::string::npos) << profile;
}

TEST_F(ViewingScreenTest, PhotoIsShownUprightAndTurnsWithShiftR) {
  // Stored sideways: quadrants A B over C D; its EXIF orientation says a quarter turn clockwise.
  const Rgb a{230, 120, 40}, b{120, 40, 200}, c{40, 170, 170}, d{160, 160, 60};
  MakeQuadrantJpeg(m_dir / "plain.jpg", 240, 160, a, b, c, d);
  WriteFile(m_dir / "photo.jpg", WithExifOrientation(ReadFile(m_dir / "plain.jpg"), 6));
  ScreenViewer viewer;
  const unsigned long window = Open(viewer, "photo.jpg");
  ASSERT_NE(window, 0u);

  // Upright: C A over D B, each 80 x 120.
  Pixels screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return FindColour(p, a, 12).Found(); });
  Box boxA = FindColour(screen, a, 12), boxC = FindColour(screen, c, 12), boxB = FindColour(screen, b, 12);
  EXPECT_NEAR(boxA.Width(), 80, 3);
  EXPECT_NEAR(boxA.Height(), 120, 3);
  EXPECT_NEAR(boxC.right + 1, boxA.left, 3) << "C left of A";
  EXPECT_NEAR(boxA.bottom + 1, boxB.top, 3) << "B below A";

  // Shift+R: a quarter back, as stored: A B over C D.
  ScreenViewer::Type(window, "shift+r");
  screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return FindColour(p, a, 12).Width() > 110; });
  boxA = FindColour(screen, a, 12), boxB = FindColour(screen, b, 12), boxC = FindColour(screen, c, 12);
  EXPECT_NEAR(boxA.Height(), 80, 3);
  EXPECT_NEAR(boxA.right + 1, boxB.left, 3) << "B right of A";
  EXPECT_NEAR(boxA.bottom + 1, boxC.top, 3) << "C below A";
}

// Where the viewer is the X server's only client (an xinit kiosk, CI), the server resets each
// time its last client goes: every start still shows its picture, none loses its connection.
TEST_F(ViewingScreenTest, EveryStartShowsItsPictureOnAServerOfItsOwn) {
  const Rgb flat{30, 160, 220};
  WriteFile(m_dir / "flat.gif", MakeGif({FlatFrame(200, 150, flat)}));
  const BareXServer server;
  ASSERT_FALSE(server.Display().empty()) << "no Xvfb";
  const auto shown = [&] {
    // The server rewrites the file as it resets: a read in between finds no picture yet.
    const std::vector<DecodedImage> screen = DecodeWithMagick("XWD:" + server.ScreenFile());
    return !screen.empty() && std::count(screen[0].pixels.begin(), screen[0].pixels.end(), flat) == 200 * 150;
  };
  ScreenViewer viewer({"DISPLAY=" + server.Display()});
  for (int start = 1; start <= 40; ++start) {
    ASSERT_TRUE(viewer.Start({(m_dir / "flat.gif").string()}));
    EXPECT_TRUE(WaitUntil([&] { return !viewer.Running() || shown(); }));
    ASSERT_TRUE(viewer.Running()) << "start " << start << " ended: " << viewer.Errors();
    viewer.Stop();
    ASSERT_TRUE(WaitUntil([&] { return server.Clients() == 0; })) << "the server keeps a client of the viewer";
  }
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
