// Copy on a desktop with a seat, on X and on Wayland (the test runs on both): another program
// (xclip, wl-paste) reads what the viewer offers while the viewer answers it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDockWidget>
#include <QGuiApplication>
#include <QTest>

#include <sys/wait.h>

#include "res/Resource.h"
#include "support/ui/ScreenViewer.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

// Runs a program while the viewer goes on answering the clipboard's requests; its output.
std::string RunBeside(const std::vector<std::string>& argv) {
  const TempDir outputs;
  const pid_t pid = StartProgram(argv, {}, (outputs / "out").string(), (outputs / "err").string());
  int status = 0;
  EXPECT_TRUE(ViewerSession::WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 30000)) << argv[0];
  return TextOfFile(outputs / "out");
}

// What the clipboard holds as type, read by another program once it is offered.
std::string Paste(const std::string& type) {
  const bool wayland = QGuiApplication::platformName() == "wayland";
  const auto read = [&](const std::string& as) {
    return RunBeside(wayland ? std::vector<std::string>{"wl-paste", "--no-newline", "--type", as} : std::vector<std::string>{"xclip", "-o", "-selection", "clipboard", "-t", as});
  };
  EXPECT_TRUE(WaitUntil([&] { return (wayland ? RunBeside({"wl-paste", "--list-types"}) : read("TARGETS")).find(type) != std::string::npos; }, 30000));
  return read(type);
}

TEST(Clipboard, CopyOffersThePictureUprightAndTheFileShiftCopiesThePathThePanelItsText) {
  if (QGuiApplication::platformName() == "offscreen") GTEST_SKIP() << "needs a desktop with a seat";
  const Rgb a{230, 120, 40}, b{120, 40, 200}, c{40, 170, 170}, d{160, 160, 60};
  const TempDir dir;
  MakeQuadrantJpeg(dir / "plain.jpg", 240, 160, a, b, c, d);
  const std::string name = "ph\xF6to.jpg", path = (dir / name).string();
  WriteFile(path, WithExifOrientation(ReadFile(dir / "plain.jpg"), 6));
  ViewerSession session;
  ASSERT_TRUE(session.Start({path}));
  ASSERT_TRUE(session.WaitForImage(name));
  ASSERT_TRUE(AfxTestAccess::PressAccelerator(session.Frame(), "Ctrl+C"));
  EXPECT_EQ(Paste("text/uri-list"), FileUrlOf(path) + "\r\n");
  EXPECT_EQ(Paste("x-special/gnome-copied-files"), "copy\n" + FileUrlOf(path));
  // The picture is made when it is pasted: from what was copied, whatever is shown by then.
  ASSERT_TRUE(AfxTestAccess::PressAccelerator(session.Frame(), "Tab"));
  ASSERT_TRUE(session.WaitForImage("plain.jpg"));
  WriteText(dir / "copied.png", Paste("image/png"));
  const DecodedImage copied = DecodeWithMagick("PNG:" + (dir / "copied.png").string()).at(0);
  ASSERT_EQ(copied.width, 160);
  ASSERT_EQ(copied.height, 240);
  // Upright, as shown: C A over D B.
  const std::pair<int, Rgb> quadrants[] = {{60 * 160 + 40, c}, {60 * 160 + 120, a}, {180 * 160 + 40, d}, {180 * 160 + 120, b}};
  for (const auto& [at, colour] : quadrants) {
    for (auto channel : {&Rgb::red, &Rgb::green, &Rgb::blue}) EXPECT_NEAR(copied.pixels[at].*channel, colour.*channel, 8) << at;
  }
  ASSERT_TRUE(AfxTestAccess::PressAccelerator(session.Frame(), "Shift+Tab"));
  ASSERT_TRUE(session.WaitForImage(name));

  // A Wayland compositor gives the clipboard to a new owner only with an input event newer than
  // the last owner's; the test types none, so there the first copy is the one it can check.
  if (QGuiApplication::platformName() == "wayland") return;
  ASSERT_TRUE(AfxTestAccess::PressAccelerator(session.Frame(), "Ctrl+Shift+C"));
  EXPECT_EQ(Paste("text/plain;charset=unknown-8bit"), path) << "the name's own bytes";
  EXPECT_EQ(Paste("text/plain"), (dir / "ph\\xF6to.jpg").string()) << "as text: as the window shows it";

  // With the panel's text in the focus, Ctrl+A and Ctrl+C select and copy it.
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(session.Frame(), ID_VIEW_INFO));
  QWidget* text = static_cast<QDockWidget*>(session.Frame()->m_wndInfoBar.GetWidget())->widget();
  session.Frame()->GetWidget()->activateWindow();
  text->setFocus();
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return QApplication::focusWidget() == text; })) << "the panel has the keyboard";
  QTest::keyClick(text, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(Paste("text/plain").rfind("ﾌｧｲﾙ名\tph\\xF6to.jpg\n", 0), 0u);
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
