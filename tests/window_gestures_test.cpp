// The everyday gestures through the real window: the context menu's commands, the slideshow and
// its timer, and the zoom kept for the next image.
#include <gtest/gtest.h>

#include <QTest>

#include "app/Globals.h"
#include "res/Resource.h"
#include "support/ui/LateConverter.h"
#include "support/ui/UserInput.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

class GesturesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) WriteFile(m_dir / name, MakeBmp24(40, 30, Pattern(40, 30, name[0])));
  }
  void StartOn(const std::string& name) {
    ASSERT_TRUE(m_session.Start({(m_dir / name).string()}));
    ASSERT_TRUE(m_session.WaitForImage(name));
  }
  CMainFrame* Frame() { return m_session.Frame(); }
  std::string Title() { return m_session.Doc()->GetTitle().str(); }
  TempDir m_dir;
  ViewerSession m_session;
};

TEST_F(GesturesTest, ContextMenuOffersTheImageCommandsAndRunsTheOneChosen) {
  ASSERT_TRUE(m_session.Start());
  for (const UINT nID : {ID_EDIT_COPY, ID_EDIT_COPY_PATH, ID_IMAGE_SAVE_TURN}) {
    EXPECT_FALSE(AfxTestAccess::IsMenuItemEnabled(Frame(), nID)) << nID << ": no image shown";
  }
  m_session.Stop();

  StartOn("a.bmp");
  m_session.popupMenuAnswer = ID_VIEW_INFO;
  RightClickView(m_session.View(), 10, 10);
  ASSERT_EQ(m_session.popupMenus.size(), 1u);
  std::vector<std::string> ids;
  for (const std::string& item : m_session.popupMenus[0]) ids.push_back(item == "-" ? "-" : item.substr(item.find('|') + 1));
  const std::string noTurnToSave = std::to_string(ID_IMAGE_SAVE_TURN) + "|disabled";  // a BMP is not turned in its file
  const std::vector<std::string> expected = {
      std::to_string(ID_IMAGE_OPEN), std::to_string(ID_IMAGE_SAVE_AS), std::to_string(ID_IMAGE_DELETE),
      std::to_string(ID_EDIT_COPY), "-", std::to_string(ID_VIEW_ROTATE_RIGHT), std::to_string(ID_VIEW_ROTATE_LEFT),
      noTurnToSave, "-", std::to_string(ID_VIEW_FIT), std::to_string(ID_VIEW_FULL_SCREEN), "-",
      std::to_string(ID_GIFT_STACK), std::to_string(ID_GIFT_SEND), "-", std::to_string(ID_VIEW_INFO)};
  EXPECT_EQ(ids, expected);
  ASSERT_TRUE(Frame()->m_wndInfoBar.IsVisible()) << "the command chosen ran";
  EXPECT_EQ(Frame()->m_wndInfoBar.GetText().str().rfind("ﾌｧｲﾙ名\ta.bmp\n", 0), 0u) << Frame()->m_wndInfoBar.GetText().str();
}

TEST_F(GesturesTest, SlideshowWaitsForAnImageNotConvertedYetAndRunsItsTimerOnlyWhileItShows) {
  // BMP files are copied, not converted: the late one is a JPEG.
  std::filesystem::remove(m_dir / "b.bmp");
  RunConvert("-size 40x30 xc:navy JPEG:" + (m_dir / "b-late.jpg").string());
  LateConverter::Hold();
  AfxTestAccess::SetConvertFunction(&LateConverter::Convert);
  m_session.WriteProfile("[View]\nSlideshowSeconds=2\n");
  StartOn("a.bmp");
  CVimoView* pView = m_session.View();
  EXPECT_EQ(RunningTimers(pView), 0) << "an idle viewer keeps no timer";

  PressKey(Frame(), Qt::Key_S);
  EXPECT_TRUE(Frame()->IsFullScreen());
  EXPECT_EQ(RunningTimers(pView), 1);
  PressKey(Frame(), Qt::Key_Space);
  EXPECT_EQ(RunningTimers(pView), 0) << "paused";
  PressKey(Frame(), Qt::Key_Space);
  EXPECT_EQ(RunningTimers(pView), 1);

  // b is still converting: the slideshow asks for it once and waits, however many intervals pass.
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_session.Doc()->m_nNextWanted == 1; }));
  EXPECT_FALSE(ViewerSession::WaitFor([&] { return m_session.Doc()->m_nNextWanted > 1 || Title() != "a.bmp"; }, 5000));
  LateConverter::Release();
  ASSERT_TRUE(m_session.WaitForImage("b-late.jpg"));
  ASSERT_TRUE(m_session.WaitForImage("c.bmp"));
  // After the last image the slideshow ends, in the window.
  EXPECT_TRUE(ViewerSession::WaitFor([&] { return !Frame()->IsFullScreen() && RunningTimers(pView) == 0; }));

  PressKey(Frame(), Qt::Key_S);
  PressKey(Frame(), Qt::Key_Escape);
  EXPECT_FALSE(Frame()->IsFullScreen());
  EXPECT_EQ(RunningTimers(pView), 0) << "Esc ends it";
}

TEST_F(GesturesTest, TheZoomIsKeptForTheNextImageOnlyWhenTheUserAsks) {
  StartOn("a.bmp");
  double dScale = 0;
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "kept" : "not kept");
    if (keep) {
      ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_VIEW_KEEP_ZOOM));
    }
    EXPECT_EQ(AfxTestAccess::IsMenuItemChecked(Frame(), ID_VIEW_KEEP_ZOOM) != FALSE, keep);
    PressKey(Frame(), Qt::Key_Plus);
    const std::string before = Title();
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return AfxTestAccess::IsMenuItemEnabled(Frame(), ID_GO_NEXT) != FALSE; }));
    PressKey(Frame(), Qt::Key_Tab);
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return Title() != before; }));
    EXPECT_EQ(m_session.View()->GetShownScale(dScale) != FALSE, keep);
    if (keep) {
      EXPECT_DOUBLE_EQ(dScale, 1.5);
    }
  }
  m_session.Stop();
  EXPECT_NE(m_session.ProfileText().find("KeepZoom=1"), std::string::npos);
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
