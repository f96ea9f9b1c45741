// Dragging the shown file out of the viewer on a Wayland desktop. Wayland starts a drag only from
// a real button press of a seat's pointer, which a headless compositor does not have: here the
// compositor (weston) runs as a window of a virtual X server, and the mouse is moved through that
// server. The viewer is a process of its own; the drop target is a window of this test.
#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "support/ui/ScreenViewer.h"

using namespace vimo::test;

namespace {

const Rgb kTargetColour{0x12, 0xAB, 0x34};

// A window that takes file drops, in a colour of its own so that it can be found on the screen.
struct DropTarget : QWidget {
  DropTarget() {
    setAcceptDrops(true);
    setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(kTargetColour.red, kTargetColour.green, kTargetColour.blue));
    setPalette(palette);
  }
  void dragEnterEvent(QDragEnterEvent* pEvent) override {
    ++entered;
    if (pEvent->mimeData()->hasUrls()) pEvent->acceptProposedAction();
  }
  void dragMoveEvent(QDragMoveEvent* pEvent) override {
    ++moved;
    pEvent->acceptProposedAction();
  }
  void dropEvent(QDropEvent* pEvent) override {
    for (const QUrl& url : pEvent->mimeData()->urls()) dropped.push_back(url.toLocalFile().toStdString());
    pEvent->acceptProposedAction();
  }
  int entered = 0;
  int moved = 0;
  std::vector<std::string> dropped;
};

// Moves the X pointer within the compositor's window, optionally pressing or releasing button 1.
void Pointer(unsigned long compositor, Place at, const char* button = nullptr) {
  std::vector<std::string> argv = {"xdotool", "mousemove", "--window", std::to_string(compositor), std::to_string(at.x),
                                   std::to_string(at.y)};
  if (button != nullptr) argv.insert(argv.end(), {button, "1"});
  RunProgram(argv);
}

TEST(WaylandDrag, ShownFileIsDroppedOnAnotherProgramsWindow) {
  if (QGuiApplication::platformName() != "wayland" || std::getenv("DISPLAY") == nullptr)
    GTEST_SKIP() << "needs weston inside an X server (tests/support/weston-run --x11 under xvfb-run)";
  const unsigned long compositor = ScreenViewer::WaitForClass("Weston Compositor", 10000);
  ASSERT_NE(compositor, 0u) << "the compositor's window is not on the X server";

  // This process takes part in the desktop too: it keeps handling its events while it looks.
  Pixels screen;
  auto waitForScreen = [&](const std::function<bool(const Pixels&)>& pred) {
    return ViewerSession::WaitFor([&] {
      screen = ScreenViewer::Grab(compositor);
      return screen.width > 0 && pred(screen);
    });
  };
  auto showsTarget = [](const Pixels& p) { return std::count(p.argb.begin(), p.argb.end(), 0xFF12AB34u) > 100000; };

  DropTarget target;
  target.showMaximized();
  ASSERT_TRUE(waitForScreen(showsTarget)) << "the target is not on the screen, maximized";

  const TempDir dir;
  const std::vector<Rgb> image = Pattern(120, 90, 5);
  WriteFile(dir / "drag.bmp", MakeBmp24(120, 90, image));
  const std::string display = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/" + std::getenv("WAYLAND_DISPLAY");
  ScreenViewer viewer({"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=" + display});
  ASSERT_TRUE(viewer.Start({(dir / "drag.bmp").string()}));
  ASSERT_TRUE(waitForScreen([&](const Pixels& p) { return FindBlock(p, image, 120, 0, 0, 120, 90).Found(); }))
      << "the viewer's image is not on the screen\n" << viewer.Errors();
  const Place source = FindBlock(screen, image, 120, 0, 0, 120, 90);
  // Of the target's pixels, the one farthest from the viewer's image: never under the viewer.
  Place drop;
  int farthest = -1;
  for (int y = 0; y < screen.height; y += 4) {
    for (int x = 0; x < screen.width; x += 4) {
      const int distance = std::abs(x - source.x) + std::abs(y - source.y);
      if (screen.At(x, y) == kTargetColour && distance > farthest) {
        farthest = distance;
        drop = Place{x, y};
      }
    }
  }
  ASSERT_TRUE(drop.Found()) << "the drop target is not on the screen";

  // Press on the image, then move over the target until the drag reaches it, and release there.
  const Place press{source.x + 30, source.y + 30};
  Pointer(compositor, press);
  Pointer(compositor, press, "mousedown");
  int step = 0;
  ASSERT_TRUE(ViewerSession::WaitFor([&] {
    Pointer(compositor, Place{drop.x - (++step % 2) * 3, drop.y});
    return target.entered > 0;
  }, 60000)) << "the drag never reached the target";
  // The target's yes goes to the compositor when this process next waits for events, and a
  // release that overtook it would cancel the drop: a move seen after the enter comes after it.
  const int moves = target.moved;
  Pointer(compositor, Place{drop.x, drop.y + 2});
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return target.moved > moves; }, 60000));
  Pointer(compositor, Place{drop.x, drop.y + 2}, "mouseup");
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return !target.dropped.empty(); }, 10000));
  EXPECT_EQ(target.dropped, std::vector<std::string>{(dir / "drag.bmp").string()});
  EXPECT_TRUE(viewer.Running());
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
