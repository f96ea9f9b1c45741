// The mouse and turns saved into the file, as a user meets them: the real program on a virtual X
// server, driven by keys and mouse through the server.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/ui/ScreenViewer.h"

using namespace vimo::test;

namespace {

const Rgb kA{230, 120, 40}, kB{120, 40, 200}, kC{40, 170, 170}, kD{160, 160, 60};

class GesturesScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
  }
  unsigned long Open(const std::string& name) {
    EXPECT_TRUE(m_viewer.Start({(m_dir / name).string()}));
    const unsigned long window = ScreenViewer::WaitForTitle(name + " - Vimo");
    EXPECT_NE(window, 0u) << m_viewer.Errors();
    return window;
  }
  TempDir m_dir;
  ScreenViewer m_viewer;
};

TEST_F(GesturesScreenTest, MiddleDragPansDoubleClickGoesFullScreenAndThereTheLeftButtonPans) {
  std::vector<Rgb> pixels(1600 * 1200);  // blocks of 400 x 400 pixels, each of its own colour
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = Rgb{std::uint8_t(40 + i % 1600 / 400 * 50), std::uint8_t(60 + i / 1600 / 400 * 60), 150};
  WriteFile(m_dir / "big.bmp", MakeBmp24(1600, 1200, pixels));
  WriteText(m_viewer.ProfilePath(), "[Window size]\nRect=0100 0080 1000 0800\niconized=0\nmaximized=0\n");
  const unsigned long window = Open("big.bmp");
  ASSERT_NE(window, 0u);
  const Rgb block{90, 120, 150};  // the block at (400, 400) of the picture
  const auto movedBy = [&](Box before, int dx, int dy) {
    return ScreenViewer::WaitForScreen(window, [&](const Pixels& p) {
             const Box now = FindColour(p, block);
             return now.left == before.left + dx && now.top == before.top + dy;
           }).width > 0;
  };
  Box before = FindColour(ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return FindColour(p, block).Found(); }), block);
  ScreenViewer::Drag(window, 2, 400, 350, 300, 290);
  EXPECT_TRUE(movedBy(before, -100, -60)) << "the picture follows the middle button";

  ScreenViewer::Click(window, 1, 300, 300, 2);
  ASSERT_GT(ScreenViewer::WaitForScreen(window, [](const Pixels& p) { return p.width == 1280; }).width, 0) << "double-click: full screen";
  ScreenViewer::Type(window, "1");
  before = FindColour(ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return FindColour(p, block).Width() == 400; }), block);
  ScreenViewer::Drag(window, 1, 700, 600, 640, 520);
  EXPECT_TRUE(movedBy(before, -60, -80)) << "in full screen the left button pans";
  ScreenViewer::Click(window, 1, 300, 300, 2);
  EXPECT_GT(ScreenViewer::WaitForScreen(window, [](const Pixels& p) { return p.width == 900; }).width, 0) << "and back";

  // The desktop ends the viewer while its context menu is open: the menu goes, then the viewer.
  ScreenViewer::Click(window, 3, 300, 300);
  ASSERT_TRUE(WaitUntil([] { return LinesOf(RunProgram({"xdotool", "search", "--onlyvisible", "--class", "vimo"}).out).size() == 2; }, 30000))
      << "the window and its menu";
  m_viewer.Stop();
  EXPECT_NE(TextOfFile(m_viewer.ProfilePath()).find("[vimo-Bar0]"), std::string::npos) << "closed as a window closes";
}

TEST_F(GesturesScreenTest, RotationSavedFromTheContextMenuKeepsThePictureAsSeen) {
  MakeQuadrantJpeg(m_dir / "plain.jpg", 240, 160, kA, kB, kC, kD);
  WriteFile(m_dir / "a.jpg", WithExifOrientation(ReadFile(m_dir / "plain.jpg"), 6));
  RunConvert("-size 250x170 xc:teal -sampling-factor 2x2 JPEG:" + (m_dir / "b.jpg").string());
  std::filesystem::remove(m_dir / "plain.jpg");
  const unsigned long window = Open("a.jpg");
  ASSERT_NE(window, 0u);
  // Upright C A over D B; R turns it on to D C over B A.
  ScreenViewer::Type(window, "r");
  const auto turnedAsSeen = [&](const Pixels& p) {
    const Box a = FindColour(p, kA, 12), b = FindColour(p, kB, 12), c = FindColour(p, kC, 12), d = FindColour(p, kD, 12);
    return a.Found() && b.Found() && c.Found() && d.Found() && d.left < c.left && b.left < a.left && d.top < b.top && c.top < a.top;
  };
  ASSERT_GT(ScreenViewer::WaitForScreen(window, turnedAsSeen).width, 0);
  const Bytes before = ReadFile(m_dir / "a.jpg");
  ScreenViewer::Click(window, 3, 100, 150);
  ScreenViewer::Type(window, "v");
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(m_dir / "a.jpg") != before; }, 30000)) << "回転を保存 wrote the file";
  EXPECT_NEAR(DecodeWithMagick("JPEG:" + (m_dir / "a.jpg").string()).at(0).pixels[0].red, kD.red, 12) << "stored as seen: D at the top left";
  EXPECT_GT(ScreenViewer::WaitForScreen(window, turnedAsSeen).width, 0) << "no extra turn after saving";

  // Partial blocks: the user is asked before the edge is cut.
  ScreenViewer::Type(window, "Tab");
  ASSERT_NE(ScreenViewer::WaitForTitle("b.jpg - Vimo"), 0u);
  ScreenViewer::Type(window, "r");
  ScreenViewer::Click(window, 3, 100, 150);
  ScreenViewer::Type(window, "v");
  const unsigned long question = ScreenViewer::WaitForTitle("Vimo V 3.00");
  ASSERT_NE(question, 0u);
  ScreenViewer::Type(question, "Return");
  EXPECT_TRUE(WaitUntil([&] { return DecodeWithMagick("JPEG:" + (m_dir / "b.jpg").string()).at(0).width == 160; }, 30000)) << "cut and turned";

  ScreenViewer::Type(window, "shift+Tab");
  ASSERT_NE(ScreenViewer::WaitForTitle("a.jpg - Vimo"), 0u);
  EXPECT_GT(ScreenViewer::WaitForScreen(window, turnedAsSeen).width, 0) << "shown as saved when it comes back";
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
