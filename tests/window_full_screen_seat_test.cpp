// Full screen and back as the desktop shows it: on X under a window manager that frames the window
// (openbox), and on Wayland (weston as a window of the X server).
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "support/ui/ScreenViewer.h"
#include "support/ui/UserInput.h"

using namespace vimo::test;

namespace {

// Each way into full screen and out, in a window that is not maximized, leaves the window drawn
// whole where it was (the picture and the information panel beside it, as the screen shows them):
// F11 ten times over, and on X at the next start too.
TEST(FullScreen, EachRoundTripLeavesTheWindowDrawnWholeWhereItWas) {
  if (QGuiApplication::platformName() == "offscreen") GTEST_SKIP() << "needs a desktop (an X server or weston)";
  const bool x11 = QGuiApplication::platformName() == "xcb";
  if (x11) {
    ASSERT_TRUE(StartWindowManager()) << "no openbox (scripts/install-deps test)";
  }
  const TempDir dir;
  const std::vector<Rgb> image = Pattern(160, 120, 3);
  WriteFile(dir / "a.bmp", MakeBmp24(160, 120, image));
  ViewerSession session;
  session.WriteProfile("[Window size]\nRect=0100 0080 0740 0560\n[vimo-Bar0]\nBarID=32832\nVisible=1\nDocking=Right\n");
  ASSERT_TRUE(session.Start({(dir / "a.bmp").string()}));
  RunProgram({"xdotool", "mousemove", "1000", "750"});  // out of the way: a compositor draws the pointer
  const QRect screen = session.Frame()->GetWidget()->screen()->geometry();
  const auto pictureAt = [&] { return FindBlock(GrabScreen(0, 0, screen.width(), screen.height()), image, 160, 0, 0, 160, 120); };
  Place picture;
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return (picture = pictureAt()).Found() && !session.Frame()->m_wndInfoBar.GetText().IsEmpty(); }));
  // The view and the panel: from the picture's corner to the window's right edge.
  QWidget* pViewport = static_cast<QAbstractScrollArea*>(session.View()->GetWidget())->viewport();
  const int width = session.Frame()->GetWidget()->width() - pViewport->mapTo(pViewport->window(), QPoint()).x();
  const auto shown = [&, height = pViewport->height()] { return GrabScreen(picture.x, picture.y, width, height).argb; };
  const std::vector<DWORD> before = shown();
  const auto key = [&](int qtKey) { return [&session, qtKey] { PressKey(session.Frame(), qtKey); }; };
  const auto doubleClick = [&] { QTest::mouseDClick(pViewport, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20)); };
  const struct { const char* what; std::function<void()> in, out; int times; } ways[] = {
      {"F11", key(Qt::Key_F11), key(Qt::Key_F11), 10}, {"double-click", doubleClick, doubleClick, 1}, {"slideshow, Esc", key(Qt::Key_S), key(Qt::Key_Escape), 1}};
  for (const auto& way : ways) {
    for (int time = 1; time <= way.times; ++time) {
      SCOPED_TRACE(std::string(way.what) + ", time " + std::to_string(time));
      way.in();
      ASSERT_TRUE(ViewerSession::WaitFor([&] { return pictureAt().x == (screen.width() - 160) / 2; })) << "not full screen";
      way.out();
      ASSERT_TRUE(ViewerSession::WaitFor([&] { return shown() == before; })) << "not back whole where it was";
    }
  }
  if (!x11) return;  // a Wayland compositor places a new window where it likes
  session.Stop();
  EXPECT_NE(session.ProfileText().find("Rect=0100 0080 0740 0560"), std::string::npos) << "the place saved is not the window's";
  ASSERT_TRUE(session.Start({(dir / "a.bmp").string()}));
  EXPECT_TRUE(ViewerSession::WaitFor([&] { return shown() == before; })) << "the next start is not where the window was";
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
