// The everyday gestures through the real window: the information panel, the slideshow and its
// timer, the zoom kept for the next image, and the part of a photo cut into a copy.
#include <gtest/gtest.h>

#include <QDockWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>

#include "res/Resource.h"
#include "support/ui/UserInput.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

class GesturesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // JPEG files, since BMP files are copied, not converted: conversions can be held back.
    std::filesystem::create_directory(m_dir / "more");
    for (const char* name : {"a.jpg", "b.jpg", "more/x.jpg", "more/y.jpg"}) RunConvert("-size 40x30 xc:navy JPEG:" + (m_dir / name).string());
  }
  void StartOn(const std::string& path, const std::string& name) {
    ASSERT_TRUE(m_session.Start({(m_dir / path).string()}));
    ASSERT_TRUE(m_session.WaitForImage(name));
  }
  CMainFrame* Frame() { return m_session.Frame(); }
  void Press(int key) { PressKey(Frame(), key); }
  TempDir m_dir;
  ViewerSession m_session;
};

TEST_F(GesturesTest, InformationPanelShowsThePhotosFactsFollowsTabAndIsRemembered) {
  ASSERT_TRUE(m_session.Start());
  for (const UINT nID : {ID_EDIT_COPY, ID_EDIT_COPY_PATH, ID_IMAGE_SAVE_TURN}) {
    EXPECT_FALSE(AfxTestAccess::IsMenuItemEnabled(Frame(), nID)) << nID << ": no image shown";
  }
  m_session.Stop();
  RunConvert("-size 32x24 xc:navy -profile /usr/share/color/icc/compatibleWithAdobeRGB1998.icc JPEG:" + (m_dir / "a.jpg").string());
  const Bytes exif = MakeExifBlock({"0:0x010F:ascii:VimoCam", "0:0x0110:ascii:\x83J\x83\x81\x83\x89 line\nbreak",
                                    "exif:0x9003:ascii:2024:05:06 07:08:09", "exif:0x829D:rational:28/10", "gps:1:ascii:N",
                                    "gps:2:rational:35/1,39/1,2940/100", "gps:3:ascii:W", "gps:4:rational:139/1,44/1,43/1"});
  WriteFile(m_dir / "a.jpg", WithExifBlock(ReadFile(m_dir / "a.jpg"), exif));
  std::filesystem::rename(m_dir / "b.jpg", m_dir / "b\xE9.jpg");
  StartOn("a.jpg", "a.jpg");
  Press(Qt::Key_I);
  const std::string text = Frame()->m_wndInfoBar.GetText().str();
  EXPECT_EQ(text.rfind("ﾌｧｲﾙ名\ta.jpg\nﾌｫﾙﾀﾞ\t" + m_dir.Path().string() + "/\n", 0), 0u) << text;
  for (const char* line : {"画素数\t32 x 24 ﾋﾟｸｾﾙ\n", "\n撮影日時\t2024:05:06 07:08:09\n", "\nｶﾒﾗのﾒｰｶｰ\tVimoCam\n",
                           "\nｶﾒﾗの機種\t\x83J\x83\x81\x83\x89 line break\n", "\nF値\tf/2.8\n", "\n位置 (GPS)\t35.658167, -139.745278\n",
                           "\nｶﾗｰﾌﾟﾛﾌｧｲﾙ\tCompatible with Adobe RGB (1998)\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in:\n" << text;
  }
  Press(Qt::Key_Tab);
  ASSERT_TRUE(m_session.WaitForImage("b\xE9.jpg"));
  EXPECT_EQ(Frame()->m_wndInfoBar.GetText().str().rfind("ﾌｧｲﾙ名\tb\xE9.jpg\n", 0), 0u) << "it follows Tab";
  m_session.Stop();
  EXPECT_NE(m_session.ProfileText().find("BarID=32832\nVisible=1\nDocking=Right"), std::string::npos) << "remembered as the tool bar is";

  // Remembered as shown, it describes the first image of the next start as soon as it is shown.
  RunConvert("-size 20x10 xc:navy GIF:" + (m_dir / "c.gif").string());
  for (const std::string name : {"a.jpg", "c.gif"}) {
    StartOn(name, name);
    EXPECT_TRUE(ViewerSession::WaitFor([&] { return Frame()->m_wndInfoBar.GetText().str().starts_with("ﾌｧｲﾙ名\t" + name); })) << name;
    m_session.Stop();
  }
}

// However narrow the panel (but wider than a word), its lines break between words, never inside
// "ﾒｶﾞﾋﾟｸｾﾙ".
TEST_F(GesturesTest, InformationPanelWrapsBetweenWords) {
  ASSERT_TRUE(m_session.Start());
  Press(Qt::Key_I);
  Frame()->m_wndInfoBar.SetText("画素数\t4000 x 3000 ﾋﾟｸｾﾙ (12.0 ﾒｶﾞﾋﾟｸｾﾙ)\n");
  auto* pView = static_cast<QTextEdit*>(static_cast<QDockWidget*>(Frame()->m_wndInfoBar.GetWidget())->widget());
  const QTextBlock block = pView->document()->firstBlock();
  const int from = static_cast<int>(pView->tabStopDistance()) + pView->fontMetrics().horizontalAdvance("(12.0 ﾒｶﾞﾋﾟｸｾﾙ)") + 30;
  int wrapped = 0;
  for (int width = from; width < from + 200; width += 3) {
    pView->resize(width, 200);
    wrapped += block.layout()->lineCount() > 1 ? 1 : 0;
    for (int i = 1; i < block.layout()->lineCount(); ++i) EXPECT_TRUE(block.text()[block.layout()->lineAt(i).textStart() - 1].isSpace()) << width;
  }
  EXPECT_GT(wrapped, 10);
}

TEST_F(GesturesTest, SlideshowWaitsForAnImageNotConvertedYetAndRunsItsTimerOnlyWhileItShows) {
  m_session.WriteProfile("[View]\nSlideshowSeconds=2\n");
  StartOn("a.jpg", "a.jpg");
  CVimoView* pView = m_session.View();
  EXPECT_EQ(RunningTimers(pView), 0) << "an idle viewer keeps no timer";
  // S starts it in full screen, Space pauses and goes on, Esc ends it.
  for (const auto& [key, fullScreen, timers] : {std::tuple{Qt::Key_S, true, 1}, {Qt::Key_Space, true, 0}, {Qt::Key_Space, true, 1}, {Qt::Key_Escape, false, 0}}) {
    Press(key);
    EXPECT_TRUE(Frame()->IsFullScreen() == fullScreen && RunningTimers(pView) == timers) << key;
  }

  // Another folder whose images are still converting: the slideshow asks for the next image once
  // and waits, however many intervals pass; then goes on in order, and ends after the last.
  AfxTestAccess::HoldConversions(TRUE);
  theApp.OpenDocumentFile((m_dir / "more/x.jpg").c_str());
  Press(Qt::Key_S);
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_session.Doc()->m_nNextWanted == 1; }));
  EXPECT_FALSE(ViewerSession::WaitFor([&] { return m_session.Doc()->m_nNextWanted > 1; }, 5000));
  AfxTestAccess::HoldConversions(FALSE);
  ASSERT_TRUE(m_session.WaitForImage("x.jpg"));
  ASSERT_TRUE(m_session.WaitForImage("y.jpg"));
  EXPECT_TRUE(ViewerSession::WaitFor([&] { return !Frame()->IsFullScreen() && RunningTimers(pView) == 0; }));
}

TEST_F(GesturesTest, TheZoomIsKeptForTheNextImageWhenTheUserAsks) {
  StartOn("more/x.jpg", "x.jpg");
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_VIEW_KEEP_ZOOM));
  Press(Qt::Key_Plus);
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return AfxTestAccess::IsMenuItemEnabled(Frame(), ID_GO_NEXT) != FALSE; }));
  Press(Qt::Key_Tab);
  ASSERT_TRUE(m_session.WaitForImage("y.jpg"));
  double dScale = 0;
  EXPECT_TRUE(m_session.View()->GetShownScale(dScale) && dScale == 1.5);
  m_session.Stop();
  EXPECT_NE(m_session.ProfileText().find("KeepZoom=1"), std::string::npos);
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }

// The part drawn with the mouse on the photo as shown (turned upright) is the part the copy holds,
// in the shape chosen and inside the picture; Esc leaves no copy.
TEST_F(GesturesTest, ThePartDrawnOnThePhotoIsThePartTheCopyHolds) {
  struct Case {
    UINT nAspect;
    std::vector<std::pair<CPoint, CPoint>> drags;
    int key;
    CSize size;  // of the copy; empty: none made
    Rgb corner;
  };
  const Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255};
  const Case cases[] = {
      {ID_CROP_ASPECT_FREE, {{CPoint(2, 2), CPoint(22, 30)}}, Qt::Key_Return, CSize(20, 28), blue},
      {ID_CROP_ASPECT_FREE, {{CPoint(40, 60), CPoint(26, 34)}}, Qt::Key_Return, CSize(14, 26), green},
      {ID_CROP_ASPECT_1X1, {{CPoint(30, 2), CPoint(46, 30)}}, Qt::Key_Return, CSize(18, 18), red},  // to the right edge
      {ID_CROP_ASPECT_FREE, {{CPoint(2, 2), CPoint(22, 30)}, {CPoint(10, 10), CPoint(36, 46)}}, Qt::Key_Return, CSize(20, 28), green},
      {ID_CROP_ASPECT_FREE, {{CPoint(2, 2), CPoint(22, 30)}, {CPoint(22, 30), CPoint(30, 40)}}, Qt::Key_Return, CSize(28, 38), blue},
      {ID_CROP_ASPECT_FREE, {{CPoint(2, 2), CPoint(22, 30)}, {CPoint(12, 2), CPoint(12, 40)}}, Qt::Key_Return, CSize(20, 10), blue},  // the top edge past the bottom
      {ID_CROP_ASPECT_FREE, {{CPoint(2, 2), CPoint(22, 30)}}, Qt::Key_Escape, CSize(), red},
  };
  // Stored 64 x 48, red green over blue white, shown turned a quarter clockwise: 48 x 64.
  MakeQuadrantJpeg(m_dir / "photo.jpg", 64, 48, red, green, blue, white);
  WriteFile(m_dir / "photo.jpg", WithExifOrientation(ReadFile(m_dir / "photo.jpg"), 6));
  StartOn("photo.jpg", "photo.jpg");
  m_session.dialogHandler = [](CDialog* pDialog) {
    pDialog->SetDlgItemText(IDC_COPY_FORMAT, "PNG");
    pDialog->CheckDlgButton(IDC_COPY_WITHOUT_LOSS, 0);
    return IDOK;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    PressKey(Frame(), Qt::Key_C, Qt::ShiftModifier);
    Frame()->SendMessage(WM_COMMAND, c.nAspect);
    for (const auto& [from, to] : c.drags) DragInView(m_session.View(), from, to);
    const std::size_t nDialogs = m_session.dialogs.size();
    PressKey(Frame(), c.key);
    const std::filesystem::path copy = m_dir / "photo-1.png";
    EXPECT_EQ(std::filesystem::exists(copy), c.size.cx > 0);
    EXPECT_EQ(m_session.dialogs.size() - nDialogs, c.size.cx > 0 ? 1u : 0u);
    if (!std::filesystem::exists(copy)) continue;
    const DecodedImage image = DecodeWithMagick("PNG:" + copy.string()).at(0);
    EXPECT_TRUE(image.width == c.size.cx && image.height == c.size.cy) << image.width << " x " << image.height;
    for (auto channel : {&Rgb::red, &Rgb::green, &Rgb::blue}) EXPECT_NEAR(image.pixels.at(0).*channel, c.corner.*channel, 12);
    std::filesystem::remove(copy);
  }
  EXPECT_TRUE(m_session.messages.empty()) << m_session.messages.front();
}

// The copy's dialog makes the copy its fields say: a side left empty follows the other in the
// picture's shape, a bad size is refused, and a file of that name is replaced only once the user
// agrees.
TEST_F(GesturesTest, TheCopysDialogSizesAndNamesTheCopyAndAsksBeforeReplacing) {
  struct Case {
    const char* width;
    const char* height;
    const char* unit;
    const char* name;
    int answer;        // to the question about replacing
    CSize size;        // of the copy under that name; empty: the file there is as it was
    const char* says;  // what the first message shown says, if any
  };
  const Case cases[] = {
      {"50", "", "%", "half.png", IDYES, CSize(24, 32), nullptr},
      {"", "16", "ﾋﾟｸｾﾙ", "small.png", IDYES, CSize(12, 16), nullptr},
      {"0", "", "ﾋﾟｸｾﾙ", "none.png", IDYES, CSize(), "幅と高さは 1 から 65500"},
      {"10", "10", "ﾋﾟｸｾﾙ", "other.png", IDYES, CSize(10, 10), "other.png は既にあります"},
      {"10", "10", "ﾋﾟｸｾﾙ", "other.png", IDNO, CSize(), "other.png は既にあります"},
      {"10", "10", "ﾋﾟｸｾﾙ", "photo.jpg", IDNO, CSize(), "元の画像ﾌｧｲﾙを上書きします"},
  };
  MakeQuadrantJpeg(m_dir / "photo.jpg", 64, 48, Rgb{255, 0, 0}, Rgb{0, 255, 0}, Rgb{0, 0, 255}, Rgb{255, 255, 255});
  WriteFile(m_dir / "photo.jpg", WithExifOrientation(ReadFile(m_dir / "photo.jpg"), 6));
  StartOn("photo.jpg", "photo.jpg");
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    RunConvert("-size 5x5 xc:gray PNG:" + (m_dir / "other.png").string());
    const Bytes before = ReadFile(m_dir / c.name);
    m_session.messages.clear();
    m_session.messageAnswers = {c.answer};
    m_session.dialogHandler = [&c](CDialog* pDialog) {
      for (const auto& [nID, text] : {std::pair{IDC_COPY_WIDTH, c.width}, {IDC_COPY_HEIGHT, c.height}, {IDC_COPY_UNIT, c.unit},
                                      {IDC_COPY_FORMAT, "PNG"}, {IDC_COPY_NAME, c.name}})
        pDialog->SetDlgItemText(nID, text);
      return IDOK;
    };
    PressKey(Frame(), Qt::Key_S, Qt::ShiftModifier);
    if (c.says != nullptr) {
      ASSERT_FALSE(m_session.messages.empty());
      EXPECT_NE(m_session.messages.front().find(c.says), std::string::npos) << m_session.messages.front();
    }
    if (c.size.cx == 0) {
      EXPECT_EQ(ReadFile(m_dir / c.name), before);
      continue;
    }
    const DecodedImage image = DecodeWithMagick("PNG:" + (m_dir / c.name).string()).at(0);
    EXPECT_TRUE(image.width == c.size.cx && image.height == c.size.cy) << image.width << " x " << image.height;
  }
}
