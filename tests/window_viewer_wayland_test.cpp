// The viewer on a Wayland desktop: the test runs inside a headless compositor of its own
// (tests/support/weston-run starts weston) on Qt's wayland platform. Wayland lets no client
// choose where its windows go: the compositor places them.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QWidget>

#include "app/Globals.h"
#include "support/ui/ScreenViewer.h"
#include "support/ui/UserInput.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

class WaylandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != "wayland") GTEST_SKIP() << "no Wayland compositor here (weston)";
  }
  std::vector<Rgb> WriteImage(const std::string& name, int width, int height, unsigned seed) {
    std::vector<Rgb> pixels = Pattern(width, height, seed);
    WriteFile(m_dir / name, MakeBmp24(width, height, pixels));
    return pixels;
  }
  TempDir m_dir;
  ViewerSession m_session;
};

WINDOWPLACEMENT Placement(CWnd* pWnd) {
  WINDOWPLACEMENT wp{};
  wp.length = sizeof(wp);
  pWnd->GetWindowPlacement(&wp);
  return wp;
}

TEST_F(WaylandTest, ShowsTheImageAndTakesFilesHandedOverBySecondStarts) {
  const std::vector<Rgb> first = WriteImage("a.bmp", 80, 60, 1);
  WriteImage("b.bmp", 70, 50, 2);
  ASSERT_TRUE(m_session.Start({(m_dir / "a.bmp").string()}));
  ASSERT_TRUE(m_session.WaitForImage("a.bmp"));
  const Pixels painted = m_session.ViewPixels();
  ASSERT_GE(painted.width, 80);
  EXPECT_EQ(painted.At(0, 0), first[0]);
  EXPECT_EQ(painted.At(79, 59), first[80 * 60 - 1]);

  // A second start with a file, as the file manager makes it, reaches this viewer and ends.
  EXPECT_EQ(RunProgram({ViewerProgram(), (m_dir / "b.bmp").string()}).status, 0);
  EXPECT_TRUE(m_session.WaitForImage("b.bmp"));
}

// The compositor places windows: size and state come back, and the saved position stays as it
// was, since the program can neither read nor set it here.
TEST_F(WaylandTest, PlacementKeepsSizeStateAndTheSavedPosition) {
  struct Case {
    const char* state;
    UINT showCmd;
  };
  for (const Case& c : {Case{"iconized=0\nmaximized=0\n", SW_SHOWNORMAL}, Case{"iconized=0\nmaximized=1\n", SW_SHOWMAXIMIZED}}) {
    SCOPED_TRACE(c.state);
    const std::string saved = std::string("[Window size]\nRect=0100 0050 0600 0400\n") + c.state;
    m_session.WriteProfile(saved);
    ASSERT_TRUE(m_session.Start());
    CMainFrame* pFrame = m_session.Frame();
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return pFrame->IsWindowVisible() && Placement(pFrame).showCmd == c.showCmd; }));
    if (c.showCmd == SW_SHOWMAXIMIZED) {
      // Maximized by the compositor: the window grows beyond its restored size.
      EXPECT_TRUE(ViewerSession::WaitFor([&] { return pFrame->GetWidget()->width() > 500; }));
    } else {
      EXPECT_EQ(pFrame->GetWidget()->width(), 500);
      EXPECT_EQ(pFrame->GetWidget()->height(), 350);
    }
    const RECT rc = Placement(pFrame).rcNormalPosition;
    EXPECT_EQ(rc.left, 100);
    EXPECT_EQ(rc.top, 50);
    EXPECT_EQ(rc.right, 600);
    EXPECT_EQ(rc.bottom, 400);
    m_session.Stop();
    EXPECT_NE(m_session.ProfileText().find(saved), std::string::npos) << m_session.ProfileText();
  }
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
