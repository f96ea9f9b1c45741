// Copy on a Wayland desktop: the viewer runs inside a compositor with a seat (the clipboard needs
// one; tests/support/weston-run --x11), and another program (wl-paste) reads what it offers.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include <sys/wait.h>

#include "support/ui/ScreenViewer.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

// What wl-paste reads as type, the viewer answering it meanwhile.
std::string Paste(const std::string& type) {
  const TempDir outputs;
  const pid_t pid = StartProgram({"wl-paste", "--no-newline", "--type", type}, {}, (outputs / "out").string(), (outputs / "err").string());
  int status = 0;
  EXPECT_TRUE(ViewerSession::WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 30000)) << type;
  return TextOfFile(outputs / "out");
}

TEST(ClipboardWayland, CopyOffersThePictureAndTheFileAndShiftCopiesThePath) {
  if (QGuiApplication::platformName() != "wayland") GTEST_SKIP() << "no Wayland compositor here (weston)";
  const TempDir dir;
  const std::string path = (dir / "caf\xE9.bmp").string();
  WriteFile(path, MakeBmp24(30, 20, Pattern(30, 20, 4)));
  ViewerSession session;
  ASSERT_TRUE(session.Start({path}));
  ASSERT_TRUE(session.WaitForImage("caf\xE9.bmp"));

  ASSERT_TRUE(AfxTestAccess::PressAccelerator(session.Frame(), "Ctrl+C"));
  EXPECT_EQ(Paste("text/uri-list"), FileUrlOf(path) + "\r\n");
  EXPECT_EQ(Paste("x-special/gnome-copied-files"), "copy\n" + FileUrlOf(path));
  WriteText(dir / "copied.png", Paste("image/png"));
  const std::vector<DecodedImage> copied = DecodeWithMagick("PNG:" + (dir / "copied.png").string());
  ASSERT_EQ(copied.size(), 1u);
  EXPECT_EQ(copied[0].pixels, Pattern(30, 20, 4));

  ASSERT_TRUE(AfxTestAccess::PressAccelerator(session.Frame(), "Ctrl+Shift+C"));
  EXPECT_EQ(Paste("text/plain;charset=unknown-8bit"), path) << "the name's own bytes";
  EXPECT_EQ(Paste("text/plain"), (dir / "caf\\xE9.bmp").string()) << "as text: shown as the window shows it";
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
