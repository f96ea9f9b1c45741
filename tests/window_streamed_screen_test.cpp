// An image whose conversion is still running, as the X server shows it: at 1:1 the rows converted
// so far, fitted a reduced picture decoded aside; then the converted file's own picture. The
// conversion is held once its first rows are in its file (support/TestAccess), so what the window
// shows before the conversion's end is seen for certain.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cstdlib>

#include "support/ui/ScreenViewer.h"

using namespace vimo::test;

namespace {

constexpr int kWidth = 1600, kHeight = 1200;

// Whether rows [0, rows) of the view show the photo 1:1 and the rows below the window's colour.
bool ShowsTopRows(const Pixels& view, const std::vector<Rgb>& photo, int rows) {
  for (int y = 0; y < view.height; ++y) {
    for (int x = 0; x < std::min(view.width, kWidth); ++x) {
      if (!(view.At(x, y) == (y < rows ? photo[static_cast<std::size_t>(y) * kWidth + x] : WindowColour()))) return false;
    }
  }
  return view.height > 0;
}

// The share of the view's pixels (in 1/1000) that differ by more than 4 levels in a colour: the
// averaged drawings of the reduced picture and of the file stay within that; a quick one does not.
int ShareApart(const Pixels& a, const Pixels& b) {
  int apart = 0;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      const Rgb p = a.At(x, y), q = b.At(x, y);
      apart += std::max({std::abs(p.red - q.red), std::abs(p.green - q.green), std::abs(p.blue - q.blue)}) > 4 ? 1 : 0;
    }
  }
  return static_cast<int>(1000LL * apart / std::max(1, a.width * a.height));
}

TEST(StreamedPicture, ShowsThePhotoBeforeItsConversionEndsAndTheSamePictureAfter) {
  if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server (run under xvfb-run)";
  const TempDir dir;
  RunConvert("-seed 5 -size 1600x1200 plasma:fractal -quality 90 " + (dir / "photo.jpg").string());
  ASSERT_EQ(ConvertForViewing((dir / "photo.jpg").c_str(), (dir / "converted.bmp").c_str(), 0), 1);
  const std::vector<Rgb> photo = ReadBmpFile(dir / "converted.bmp").at(0).pixels;
  const struct {
    const char* name;
    int fit;
    int heldAt;  // rows converted when the conversion is held
  } cases[] = {{"1:1: the rows converted", 0, 400}, {"fitted: a reduced picture", 1, 16}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ViewerSession session;
    session.WriteProfile("[Window size]\nRect=0000 0000 0800 0600\niconized=0\nmaximized=0\n[View]\nFitToWindow=" +
                         std::to_string(c.fit) + "\n");
    AfxTestAccess::HoldStreamedRows(c.heldAt);
    ASSERT_TRUE(session.Start({(dir / "photo.jpg").string()}));
    Pixels early;
    const auto earlyShown = [&] {
      early = session.ShownPixels();
      if (c.fit == 0) return ShowsTopRows(early, photo, c.heldAt);
      const Rgb centre = early.At(early.width / 2, early.height / 2);
      return early.height > 0 && !(centre == WindowColour()) && early.argb == session.ViewPixels().argb;
    };
    EXPECT_TRUE(ViewerSession::WaitFor(earlyShown)) << "nothing of the photo shows while it converts";
    EXPECT_NE(session.Doc()->GetTitle().str(), "photo.jpg");
    AfxTestAccess::HoldStreamedRows(0);
    // The converted file's picture as today: a paint of its own gives what the screen shows.
    Pixels final;
    ASSERT_TRUE(ViewerSession::WaitFor([&] {
      final = session.ShownPixels();
      return session.Doc()->GetTitle().str() == "photo.jpg" && (c.fit == 0 || session.View()->m_copies.IsReady()) &&
             final.argb == session.ViewPixels().argb;
    })) << session.Doc()->GetTitle().str() << " " << (final.argb == session.ViewPixels().argb);
    if (c.fit == 0) {
      EXPECT_TRUE(ShowsTopRows(final, photo, kHeight));
    } else {
      EXPECT_LE(ShareApart(early, final), 1) << "the switch to the converted file shows";
    }
    session.Stop();
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The windows go to the test's X server, which the screen is read back from.
  if (std::getenv("DISPLAY") != nullptr) setenv("QT_QPA_PLATFORM", "xcb", 1);
  return RunWindowTests(argc, argv);
}
