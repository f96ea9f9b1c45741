// Animated GIFs: the frames the converter wrote are put together as the GIF says and stepped
// by a timer that runs only while an animation plays.
#include <gtest/gtest.h>

#include <cstdio>

#include "convert/ConvertImage.h"
#include "res/Resource.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

// A frame at (left, top) in letters, rows split by '|': R, G, B, and '.' see-through (of the
// colour seeThrough in the frame's colour map).
GifFrame Frame(int left, int top, const std::string& rows, int delay = 0, int disposal = 0, Rgb seeThrough = {9, 9, 9}) {
  GifFrame frame;
  frame.left = left;
  frame.top = top;
  frame.delay = delay;
  frame.disposal = disposal;
  frame.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, seeThrough};
  for (const std::string& line : Split(rows, "|")) {
    for (const char c : line) frame.indexes.push_back(static_cast<std::uint8_t>(std::string("RGB.").find(c)));
    frame.width = static_cast<int>(line.size());
    ++frame.height;
  }
  if (rows.find('.') != std::string::npos) frame.transparentIndex = 3;
  return frame;
}

class AnimationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_session.Start());
    m_pDoc = m_session.Doc();
  }
  // Converts the GIF as the worker does (or with the plain call) and loads the result as the
  // shown image anim.gif.
  void Show(const Bytes& gif, int (*convert)(const char*, const char*, int) = &ConvertForViewing) {
    WriteFile(m_dir / "anim.gif", gif);
    ASSERT_EQ(convert((m_dir / "anim.gif").c_str(), (m_converted / "anim.gif.bmp").c_str(), 0), 1);
    std::snprintf(m_pDoc->m_szFolder, sizeof(m_pDoc->m_szFolder), "%s/", m_dir.Path().c_str());
    m_pDoc->LoadDib((m_converted / "anim.gif.bmp").c_str());
    ASSERT_EQ(m_pDoc->GetTitle(), "anim.gif");
  }
  // The view's top-left corner in letters: R, G, B, W for the window colour, K for black, ? for others.
  std::string Shown(int width, int height) const {
    const Pixels pixels = m_session.ViewPixels();
    std::string shown;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const Rgb c = pixels.At(x, y);
        shown += c == Rgb{255, 0, 0} ? 'R' : c == Rgb{0, 255, 0} ? 'G' : c == Rgb{0, 0, 255} ? 'B' : c == WindowColour() ? 'W' : c == Rgb{0, 0, 0} ? 'K' : '?';
      }
      shown += y + 1 < height ? "|" : "";
    }
    return shown;
  }
  TempDir m_dir;
  TempDir m_converted;
  ViewerSession m_session;
  CVimoDoc* m_pDoc = nullptr;
};

TEST_F(AnimationTest, FramesAreComposedAsTheGifSaysAndTimedAsBrowsersTimeThem) {
  struct Case {
    const char* name;
    GifScreen screen;
    std::vector<GifFrame> frames;
    std::vector<std::pair<std::string, UINT>> shown;  // after loading, then after each step: canvas, delay
  } cases[] = {
      {"placed frames, see-through pixels, under 20 ms counts as 100 ms",
       {3, 2},
       {Frame(0, 0, "RRR|RRR", 1), Frame(1, 0, "G.|.B", 2), Frame(0, 1, "B", 0)},
       {{"RRR|RRR", 100}, {"RGR|RRB", 20}, {"RGR|BRB", 0}}},
      {"background: the window colour", {3, 1}, {Frame(0, 0, "RRR", 2, 2), Frame(2, 0, "G")}, {{"RRR", 20}, {"WWG", 0}}},
      {"see-through by index: an opaque pixel of the see-through colour stays",
       {2, 1},
       {Frame(0, 0, "GG", 2), Frame(0, 0, "R.", 0, 0, {255, 0, 0})},
       {{"GG", 20}, {"RG", 0}}},
      {"previous: what was there before",
       {3, 1},
       {Frame(0, 0, "RRR", 2), Frame(0, 0, "GG", 2, 3), Frame(2, 0, "B")},
       {{"RRR", 20}, {"GGR", 20}, {"RRB", 0}}},
      {"loop count 1: two rounds, each from a cleared canvas",
       {2, 1, 1},
       {Frame(0, 0, "R", 2), Frame(1, 0, "G", 3)},
       {{"RW", 20}, {"RG", 30}, {"RW", 20}, {"RG", 0}}},
      {"loop count 0: for ever",
       {2, 1, 0},
       {Frame(0, 0, "R", 2), Frame(1, 0, "G", 3)},
       {{"RW", 20}, {"RG", 30}, {"RW", 20}, {"RG", 30}, {"RW", 20}, {"RG", 30}}},
      {"cut short: the frames written, the broken one as written",
       {2, 1},
       {Frame(0, 0, "RR", 2), [] { GifFrame f = Frame(0, 0, "GG", 2); f.invalidCodeAfter = 1; return f; }(), Frame(0, 0, "BB")},
       {{"RR", 20}, {"GR", 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Show(MakeGif(c.frames, c.screen));
    ASSERT_NE(m_pDoc->m_pAnimation, nullptr);
    UINT delay = m_pDoc->m_pAnimation->GetDelay();
    for (const auto& [canvas, wanted] : c.shown) {
      EXPECT_EQ(Shown(c.screen.width, c.screen.height), canvas);
      EXPECT_EQ(delay, wanted) << canvas;
      delay = m_pDoc->StepAnimation();
    }
  }
}

TEST_F(AnimationTest, TheTimerRunsOnlyWhileAnAnimationPlays) {
  Show(MakeGif({Frame(0, 0, "R", 2), Frame(1, 0, "G", 2)}, {2, 1, 1}));
  EXPECT_EQ(RunningTimers(m_session.View()), 1);
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return RunningTimers(m_session.View()) == 0; }));
  EXPECT_EQ(Shown(2, 1), "RG") << "the last round ends on the last frame";

  // Shown still, the converted file's first image as it is: one frame, a screen too large to
  // hold, frames that are not the source's (it changed after the conversion).
  struct Case {
    const char* name;
    Bytes gif;
    int (*convert)(const char*, const char*, int);
  } stills[] = {
      {"one frame", MakeGif({Frame(1, 0, "G", 2)}, {2, 1, 0}), &ConvertForViewing},
      {"huge screen", MakeGif({Frame(0, 0, "R", 2), Frame(0, 0, "G", 2)}, {65535, 65535, 0}), &ConvertForViewing},
      {"converted without how the frames play", MakeGif({Frame(0, 0, "R", 2), Frame(0, 0, "G", 2)}, {2, 1, 0}), &ConvertImage},
  };
  for (const Case& c : stills) {
    SCOPED_TRACE(c.name);
    Show(MakeGif({Frame(0, 0, "R", 2), Frame(1, 0, "G", 2)}, {2, 1, 0}));
    EXPECT_EQ(RunningTimers(m_session.View()), 1);
    Show(c.gif, c.convert);
    EXPECT_EQ(RunningTimers(m_session.View()), 0) << "stepping away stops the playback";
    EXPECT_EQ(m_pDoc->m_pDib.get(), m_pDoc->m_fileDib.get());
  }
}

TEST_F(AnimationTest, SeeThroughPartsShowTheBackgroundTheyAreDrawnOn) {
  Show(MakeGif({Frame(0, 0, "R.", 2), Frame(0, 0, "G", 2)}, {2, 1, 0}));
  // What lies right of the red pixel, wherever the image is drawn (centred in full screen).
  const auto besideRed = [this] {
    const Pixels pixels = m_session.ViewPixels();
    for (int y = 0; y < pixels.height; ++y) {
      for (int x = 0; x + 1 < pixels.width; ++x) {
        if (pixels.At(x, y) == Rgb{255, 0, 0}) return pixels.At(x + 1, y);
      }
    }
    return Rgb{1, 2, 3};
  };
  EXPECT_EQ(besideRed(), WindowColour());
  ASSERT_TRUE(m_session.Frame()->ExecuteCommand(ID_VIEW_FULL_SCREEN));
  EXPECT_TRUE(ViewerSession::WaitFor([&] { return besideRed() == Rgb{0, 0, 0}; })) << "black in full screen";
  ASSERT_TRUE(m_session.Frame()->ExecuteCommand(ID_VIEW_FULL_SCREEN));
  EXPECT_TRUE(ViewerSession::WaitFor([&] { return besideRed() == WindowColour(); }));
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
