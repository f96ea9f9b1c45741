// The photo's facts, the clipboard, the mouse and turns saved into the file, as a user meets them:
// the real program on a virtual X server, driven by keys and mouse through the server, the
// clipboard read back by another program (xclip).
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/ExifFixtures.h"
#include "support/ui/ScreenViewer.h"

using namespace vimo::test;

namespace {

const Rgb kA{230, 120, 40}, kB{120, 40, 200}, kC{40, 170, 170}, kD{160, 160, 60};

// Where the quadrant of colour lies on the screen, centre point.
Place CentreOf(const Pixels& screen, Rgb colour) {
  const Box box = FindColour(screen, colour, 12);
  return box.Found() ? Place{(box.left + box.right) / 2, (box.top + box.bottom) / 2} : Place{};
}

class GesturesScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
  }
  unsigned long Open(const std::string& name, const std::string& shownName = "") {
    EXPECT_TRUE(m_viewer.Start({(m_dir / name).string()}));
    const unsigned long window = ScreenViewer::WaitForTitle((shownName.empty() ? name : shownName) + " - Vimo");
    EXPECT_NE(window, 0u) << m_viewer.Errors();
    return window;
  }
  // The clipboard once it offers target (empty after the timeout).
  static std::string ClipboardOnceItHas(const std::string& target) {
    WaitUntil([&] { return ScreenViewer::Clipboard("TARGETS").find(target) != std::string::npos; }, 30000);
    return ScreenViewer::Clipboard(target);
  }
  TempDir m_dir;
  ScreenViewer m_viewer;
};

TEST_F(GesturesScreenTest, InformationPanelShowsThePhotosFactsFollowsTabAndIsRemembered) {
  RunConvert("-size 320x240 plasma:fractal -seed 3 -profile /usr/share/color/icc/compatibleWithAdobeRGB1998.icc JPEG:" +
             (m_dir / "plain.jpg").string());
  const Bytes exif = MakeExifBlock({ExifAscii(0, 0x010F, "VimoCam"), ExifAscii(0, 0x0110, "\x83J\x83\x81\x83\x89 line\nbreak"),
                                    ExifAscii(2, 0x9003, "2024:05:06 07:08:09"), ExifRationals(2, 0x829D, {{28, 10}}),
                                    ExifAscii(3, 0x0001, "N"), ExifRationals(3, 0x0002, {{35, 1}, {39, 1}, {2940, 100}}),
                                    ExifAscii(3, 0x0003, "E"), ExifRationals(3, 0x0004, {{139, 1}, {44, 1}, {43, 1}})});
  WriteFile(m_dir / "a.jpg", WithExifBlock(ReadFile(m_dir / "plain.jpg"), exif));
  std::filesystem::rename(m_dir / "plain.jpg", m_dir / "b\xE9.jpg");
  WriteText(m_viewer.ProfilePath(), "[Window size]\nRect=0000 0000 0900 0600\niconized=0\nmaximized=0\n");
  unsigned long window = Open("a.jpg");
  ASSERT_NE(window, 0u);
  ScreenViewer::Type(window, "i");
  // The panel's text, all of it selected and copied as a user would: beside the image, at the right.
  const auto panelText = [&] {
    RunProgram({"xclip", "-selection", "clipboard", "/dev/null"});
    ScreenViewer::Click(window, 1, 800, 200);
    ScreenViewer::Type(window, "ctrl+a ctrl+c");
    std::string copied;
    WaitUntil([&] { return (copied = ScreenViewer::Clipboard("UTF8_STRING")).find("ﾌｧｲﾙ名") != std::string::npos; }, 30000);
    return copied;
  };
  const std::string text = panelText();
  const std::string folder = m_dir.Path().string() + "/";
  for (const std::string& line : {std::string("ﾌｧｲﾙ名\ta.jpg"), "ﾌｫﾙﾀﾞ\t" + folder, std::string("画素数\t320 x 240 ﾋﾟｸｾﾙ"),
                                  std::string("形式\tJPEG ("), std::string("撮影日時\t2024:05:06 07:08:09"),
                                  std::string("ｶﾒﾗのﾒｰｶｰ\tVimoCam\n"), std::string("ｶﾒﾗの機種\t\\x83J\\x83\\x81\\x83\\x89 line break\n"),
                                  std::string("F値\tf/2.8\n"), std::string("位置 (GPS)\t35.658167, 139.745278\n"),
                                  std::string("ｶﾗｰﾌﾟﾛﾌｧｲﾙ\tCompatible with Adobe RGB (1998)")}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in:\n" << text;
  }

  // Tab reaches the viewer whatever has the focus, and the panel follows.
  ScreenViewer::Type(window, "Tab");
  ASSERT_NE(ScreenViewer::WaitForTitle("b\\xE9.jpg - Vimo"), 0u);
  EXPECT_EQ(panelText().rfind("ﾌｧｲﾙ名\tb\\xE9.jpg\n", 0), 0u);

  m_viewer.Stop();
  EXPECT_NE(TextOfFile(m_viewer.ProfilePath()).find("BarID=32832\nVisible=1\nDocking=Right"), std::string::npos);
  window = Open("a.jpg");
  EXPECT_EQ(panelText().rfind("ﾌｧｲﾙ名\ta.jpg\n", 0), 0u) << "shown again at the next start";
}

TEST_F(GesturesScreenTest, CopyPutsThePictureUprightAndTheFileOnTheClipboardAndShiftCopiesThePath) {
  MakeQuadrantJpeg(m_dir / "plain.jpg", 240, 160, kA, kB, kC, kD);
  const std::string name = "ph\xF6to.jpg";
  WriteFile(m_dir / name, WithExifOrientation(ReadFile(m_dir / "plain.jpg"), 6));
  const unsigned long window = Open(name, "ph\\xF6to.jpg");
  ASSERT_NE(window, 0u);
  ScreenViewer::Type(window, "ctrl+c");
  const std::string url = FileUrlOf((m_dir / name).string());
  EXPECT_EQ(ClipboardOnceItHas("text/uri-list"), url + "\r\n");
  EXPECT_EQ(ScreenViewer::Clipboard("x-special/gnome-copied-files"), "copy\n" + url);
  WriteText(m_dir / "copied.png", ScreenViewer::Clipboard("image/png"));
  const std::vector<DecodedImage> copied = DecodeWithMagick("PNG:" + (m_dir / "copied.png").string());
  ASSERT_EQ(copied.size(), 1u);
  ASSERT_EQ(copied[0].width, 160);
  ASSERT_EQ(copied[0].height, 240);
  // Upright, as shown: C A over D B.
  const std::pair<Place, Rgb> quadrants[] = {{{40, 60}, kC}, {{120, 60}, kA}, {{40, 180}, kD}, {{120, 180}, kB}};
  for (const auto& [at, colour] : quadrants) {
    const Rgb got = copied[0].pixels[static_cast<std::size_t>(at.y * 160 + at.x)];
    EXPECT_NEAR(got.red, colour.red, 8);
    EXPECT_NEAR(got.green, colour.green, 8);
    EXPECT_NEAR(got.blue, colour.blue, 8);
  }

  // The path's own bytes, though they are not UTF-8.
  ScreenViewer::Type(window, "ctrl+shift+c");
  WaitUntil([&] { return ScreenViewer::Clipboard("TARGETS").find("text/uri-list") == std::string::npos; }, 30000);
  EXPECT_EQ(ScreenViewer::Clipboard("text/plain;charset=unknown-8bit"), (m_dir / name).string());
  EXPECT_EQ(ScreenViewer::Clipboard("UTF8_STRING"), (m_dir / "ph\\xF6to.jpg").string()) << "as text: as the window shows it";
}

TEST_F(GesturesScreenTest, MiddleDragPansDoubleClickGoesFullScreenAndThereTheLeftButtonPans) {
  std::vector<Rgb> pixels;
  for (int y = 0; y < 1200; ++y) {
    for (int x = 0; x < 1600; ++x) pixels.push_back(Rgb{static_cast<std::uint8_t>(40 + x / 400 * 50), static_cast<std::uint8_t>(60 + y / 400 * 60), 150});
  }
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
    const Place a = CentreOf(p, kA), b = CentreOf(p, kB), c = CentreOf(p, kC), d = CentreOf(p, kD);
    return a.Found() && b.Found() && c.Found() && d.Found() && d.x < c.x && b.x < a.x && d.y < b.y && c.y < a.y;
  };
  ASSERT_GT(ScreenViewer::WaitForScreen(window, turnedAsSeen).width, 0);
  const Bytes before = ReadFile(m_dir / "a.jpg");
  ScreenViewer::Click(window, 3, 100, 150);
  ScreenViewer::Type(window, "v");
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(m_dir / "a.jpg") != before; }, 30000)) << "回転を保存 wrote the file";
  const DecodedImage saved = DecodeWithMagick("JPEG:" + (m_dir / "a.jpg").string()).at(0);
  EXPECT_EQ(saved.width, 240);
  EXPECT_EQ(ReadExifSummary(ReadFile(m_dir / "a.jpg")).orientation, 1);
  EXPECT_NEAR(saved.pixels[0].red, kD.red, 12) << "stored as seen: D at the top left";
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
  ASSERT_TRUE(WaitUntil([&] { return DecodeWithMagick("JPEG:" + (m_dir / "b.jpg").string()).at(0).height == 250; }, 30000));
  EXPECT_EQ(DecodeWithMagick("JPEG:" + (m_dir / "b.jpg").string()).at(0).width, 160) << "170 cut to 160, turned";

  ScreenViewer::Type(window, "shift+Tab");
  ASSERT_NE(ScreenViewer::WaitForTitle("a.jpg - Vimo"), 0u);
  EXPECT_GT(ScreenViewer::WaitForScreen(window, turnedAsSeen).width, 0) << "shown as saved when it comes back";
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
