// Animated GIFs: the frames the converter wrote are put together as the GIF says and stepped
// by a timer that runs only while an animation plays.
#include <gtest/gtest.h>

#include <QTest>

#include <cstdio>
#include <functional>

#include "convert/ConvertImage.h"
#include "res/Resource.h"
#include "support/FormatFixtures.h"
#include "support/ui/UserInput.h"
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
    Load("anim.gif", convert);
  }
  void Load(const std::string& name, int (*convert)(const char*, const char*, int) = &ConvertForViewing) {
    ASSERT_EQ(convert((m_dir / name).c_str(), (m_converted / (name + ".bmp")).c_str(), 0), 1);
    std::snprintf(m_pDoc->m_szFolder, sizeof(m_pDoc->m_szFolder), "%s/", m_dir.Path().c_str());
    m_pDoc->LoadDib((m_converted / (name + ".bmp")).c_str());
    ASSERT_EQ(m_pDoc->GetTitle(), name);
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
  // Each canvas shown, then each after a step, with the delay it stays.
  void ExpectPlayed(const std::vector<std::pair<std::string, UINT>>& shown, int width, int height) {
    ASSERT_NE(m_pDoc->m_pAnimation, nullptr);
    UINT delay = m_pDoc->m_pAnimation->GetDelay();
    for (const auto& [canvas, wanted] : shown) {
      EXPECT_EQ(Shown(width, height), canvas);
      EXPECT_EQ(delay, wanted) << canvas;
      delay = m_pDoc->StepAnimation();
    }
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
    ExpectPlayed(c.shown, c.screen.width, c.screen.height);
  }
}

// WebP, PNG and JPEG XL animations: canvases as their libraries (or, for PNG, the program's
// reading of its frames) put them together, timed as browsers time them.
TEST_F(AnimationTest, OtherFormatsPlayAsBrowsersPlayThem) {
  SetConvertOtherFormats(true, 0);
  const std::string apng = SupportTool("make-apng");
  RunConvert("-size 1x1 xc:red xc:red xc:red +append PNG32:" + (m_dir / "1.png").string());
  RunConvert("-size 1x1 xc:red xc:lime xc:blue +append PNG32:" + (m_dir / "2.png").string());
  RunConvert("-size 1x1 xc:none xc:none xc:blue +append PNG32:" + (m_dir / "3.png").string());
  struct Case {
    const char* name;
    std::string make;
    std::string file;
    std::vector<std::pair<std::string, UINT>> shown;
  } cases[] = {
      {"PNG: placed, cleared, laid over; 0 ms counts as 100 ms; two plays",
       apng + " a.png --plays 2 0,0:10:0:0:RRR 1,0:2:1:1:G 2,0:0:0:1:r", "a.png",
       {{"RRR", 100}, {"RGR", 20}, {"RWR", 100}, {"RRR", 100}, {"RGR", 20}, {"RWR", 0}}},
      {"WebP: one play", "img2webp -loop 1 -d 30 1.png -d 40 2.png -d 50 3.png -o a.webp", "a.webp",
       {{"RRR", 30}, {"RGB", 40}, {"WWB", 0}}},
      {"JPEG XL: for ever (cjxl writes no count of plays)", apng + " b.png 0,0:3:0:0:RRR 0,0:4:0:0:RGB 0,0:5:0:0:..B && cjxl b.png a.jxl -d 0",
       "a.jxl", {{"RRR", 30}, {"RGB", 40}, {"WWB", 50}, {"RRR", 30}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunTool("cd " + m_dir.Path().string() + " && " + c.make);
    Load(c.file);
    ExpectPlayed(c.shown, 3, 1);
  }
  SetConvertOtherFormats(false, 0);
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

// An animation, and a still GIF whose see-through entry is red in its colour map.
TEST_F(AnimationTest, SeeThroughPartsShowTheBackgroundTheyAreDrawnOn) {
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
  for (const Bytes& gif : {MakeGif({Frame(0, 0, "R.", 2), Frame(0, 0, "G", 2)}, {2, 1, 0}),
                           MakeGif({Frame(0, 0, "R.", 0, 0, {255, 0, 0})}, {2, 1})}) {
    Show(gif);
    EXPECT_EQ(besideRed(), WindowColour());
    ASSERT_TRUE(m_session.Frame()->ExecuteCommand(ID_VIEW_FULL_SCREEN));
    EXPECT_TRUE(ViewerSession::WaitFor([&] { return besideRed() == Rgb{0, 0, 0}; })) << "black in full screen";
    ASSERT_TRUE(m_session.Frame()->ExecuteCommand(ID_VIEW_FULL_SCREEN));
    EXPECT_TRUE(ViewerSession::WaitFor([&] { return besideRed() == WindowColour(); }));
  }
}

// An animation ends with its image: the file deleted, or the next load failed.
TEST_F(AnimationTest, StopsOnItsFrameWhenItsFileIsDeletedOrTheNextLoadFails) {
  const std::function<void()> ends[] = {
      [&] { PressKey(m_session.Frame(), Qt::Key_Delete, Qt::ControlModifier); },
      [&] { m_pDoc->LoadDib((m_converted / "gone.gif.bmp").c_str()); },
  };
  for (const auto& end : ends) {
    Show(MakeGif({Frame(0, 0, "R", 2), Frame(0, 0, "G", 2)}, {1, 1, 0}));  // for ever
    ASSERT_EQ(RunningTimers(m_session.View()), 1);
    end();
    EXPECT_TRUE(ViewerSession::WaitFor([&] { return RunningTimers(m_session.View()) == 0; }, 5000));
    EXPECT_EQ(m_pDoc->StepAnimation(), 0u);
  }
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
