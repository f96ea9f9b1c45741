// The main window reappears where it was left: placement and bars through the profile.
#include <gtest/gtest.h>

#include <QWidget>
#include <functional>

#include "res/Resource.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

std::string Entry(const std::string& profile, const std::string& section, const std::string& key) {
  const size_t at = profile.find("[" + section + "]");
  if (at == std::string::npos) return "<no section>";
  const size_t end = profile.find("\n[", at + 1);
  const std::string body = profile.substr(at, end == std::string::npos ? std::string::npos : end - at);
  const size_t k = body.find("\n" + key + "=");
  if (k == std::string::npos) return "<no entry>";
  const size_t v = k + key.size() + 2;
  return body.substr(v, body.find('\n', v) - v);
}

WINDOWPLACEMENT Placement(CWnd* pWnd) {
  WINDOWPLACEMENT wp{};
  wp.length = sizeof(wp);
  pWnd->GetWindowPlacement(&wp);
  return wp;
}

class PlacementTest : public ::testing::Test {
 protected:
  ViewerSession m_session;
};

TEST_F(PlacementTest, FirstRunOpensA400By400Window) {
  ASSERT_TRUE(m_session.Start());
  const WINDOWPLACEMENT wp = Placement(m_session.Frame());
  EXPECT_EQ(wp.showCmd, static_cast<UINT>(SW_SHOWNORMAL));
  EXPECT_EQ(wp.rcNormalPosition.right - wp.rcNormalPosition.left, 400);
  EXPECT_EQ(wp.rcNormalPosition.bottom - wp.rcNormalPosition.top, 400);
  EXPECT_TRUE(m_session.Frame()->IsWindowVisible());
  EXPECT_EQ(m_session.Frame()->GetWindowText(), "無題 - Vimo");
}

TEST_F(PlacementTest, SavedRectanglesComeBackAndAreWrittenAgainAtClose) {
  struct Case {
    const char* text;
    RECT rect;
    const char* written;
  } cases[] = {
      {"0100 0050 0740 0530", {100, 50, 740, 530}, "0100 0050 0740 0530"},
      {"-005 0050 0740 0530", {-5, 50, 740, 530}, "-005 0050 0740 0530"},
      {"-1000 0050 0740 0530", {-1000, 50, 740, 530}, "-1000 0050 0740 0530"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    m_session.WriteProfile(std::string("[Window size]\nRect=") + c.text + "\niconized=0\nmaximized=0\n");
    ASSERT_TRUE(m_session.Start());
    const WINDOWPLACEMENT wp = Placement(m_session.Frame());
    EXPECT_EQ(wp.showCmd, static_cast<UINT>(SW_SHOWNORMAL));
    EXPECT_EQ(wp.rcNormalPosition.left, c.rect.left);
    EXPECT_EQ(wp.rcNormalPosition.top, c.rect.top);
    EXPECT_EQ(wp.rcNormalPosition.right, c.rect.right);
    EXPECT_EQ(wp.rcNormalPosition.bottom, c.rect.bottom);
    m_session.Stop();
    const std::string profile = m_session.ProfileText();
    EXPECT_EQ(Entry(profile, "Window size", "Rect"), c.written);
    EXPECT_EQ(Entry(profile, "Window size", "iconized"), "0");
    EXPECT_EQ(Entry(profile, "Window size", "maximized"), "0");
  }
}

TEST_F(PlacementTest, MaximizedAndMinimizedStatesComeBack) {
  struct Case {
    int iconized;
    int maximized;
    UINT showCmd;
    UINT flags;
  } cases[] = {
      {0, 1, SW_SHOWMAXIMIZED, 0},
      {1, 0, SW_SHOWMINIMIZED, 0},
      {1, 1, SW_SHOWMINIMIZED, WPF_RESTORETOMAXIMIZED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "iconized " << c.iconized << " maximized " << c.maximized);
    m_session.WriteProfile("[Window size]\nRect=0100 0050 0740 0530\niconized=" + std::to_string(c.iconized) +
                           "\nmaximized=" + std::to_string(c.maximized) + "\n");
    ASSERT_TRUE(m_session.Start());
    const WINDOWPLACEMENT wp = Placement(m_session.Frame());
    EXPECT_EQ(wp.showCmd, c.showCmd);
    EXPECT_EQ(wp.flags, c.flags);
    EXPECT_EQ(wp.rcNormalPosition.left, 100);
    EXPECT_EQ(wp.rcNormalPosition.bottom, 530);
    m_session.Stop();
    const std::string profile = m_session.ProfileText();
    EXPECT_EQ(Entry(profile, "Window size", "Rect"), "0100 0050 0740 0530");
    EXPECT_EQ(Entry(profile, "Window size", "iconized"), std::to_string(c.iconized));
    EXPECT_EQ(Entry(profile, "Window size", "maximized"), std::to_string(c.maximized));
  }
}

TEST(PlacementText, IsReadAtFixedPositionsAndLongerTextsByTheirBlanks) {
  struct Case {
    const char* text;
    RECT rect;
  } cases[] = {
      {"0100 0050 0740 0530", {100, 50, 740, 530}},
      {"-1000 0050 0740 0530", {-1000, 50, 740, 530}},
      {"abcd efgh ijkl mnop", {0, 0, 0, 0}},
      {"0100 0050", {100, 50, 0, 0}},
      {"-1000 -2000 10000 20000", {-1000, -2000, 10000, 20000}},
  };
  for (const Case& c : cases) {
    const RECT rect = ParsePlacementRect(c.text);
    EXPECT_EQ(rect.left, c.rect.left) << c.text;
    EXPECT_EQ(rect.top, c.rect.top) << c.text;
    EXPECT_EQ(rect.right, c.rect.right) << c.text;
    EXPECT_EQ(rect.bottom, c.rect.bottom) << c.text;
  }
}

TEST_F(PlacementTest, StartThatOpensNothingKeepsTheSavedPlacement) {
  const std::string saved = "[Window size]\nRect=0100 0050 0740 0530\niconized=0\nmaximized=1\n";
  m_session.WriteProfile(saved);
  // The framework cannot open the file: the frame goes before it was ever shown.
  EXPECT_FALSE(m_session.Start({"/nonexistent-folder/missing.jpg"}));
  EXPECT_NE(m_session.ProfileText().find("Rect=0100 0050 0740 0530"), std::string::npos) << m_session.ProfileText();
  EXPECT_NE(m_session.ProfileText().find("maximized=1"), std::string::npos) << m_session.ProfileText();
}

TEST_F(PlacementTest, HiddenToolBarStaysHiddenAfterARestart) {
  ASSERT_TRUE(m_session.Start());
  CMainFrame* pFrame = m_session.Frame();
  EXPECT_TRUE(AfxTestAccess::IsMenuItemChecked(pFrame, ID_VIEW_TOOLBAR));
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(pFrame, ID_VIEW_TOOLBAR));
  EXPECT_FALSE(pFrame->m_wndToolBar.IsVisible());
  EXPECT_FALSE(AfxTestAccess::IsMenuItemChecked(pFrame, ID_VIEW_TOOLBAR));
  m_session.Stop();
  const std::string profile = m_session.ProfileText();
  EXPECT_EQ(Entry(profile, "vimo-Bar0", "BarID"), "59392");
  EXPECT_EQ(Entry(profile, "vimo-Bar0", "Visible"), "0");
  EXPECT_EQ(Entry(profile, "vimo-Bar0", "Docking"), "Top");
  EXPECT_EQ(Entry(profile, "vimo-Bar1", "BarID"), "59393");
  EXPECT_EQ(Entry(profile, "vimo-Bar1", "Visible"), "1");

  ASSERT_TRUE(m_session.Start());
  EXPECT_FALSE(m_session.Frame()->m_wndToolBar.IsVisible());
  EXPECT_TRUE(m_session.Frame()->m_wndStatusBar.IsVisible());
}

TEST_F(PlacementTest, ToolBarComesBackDockedOrFloatingWhereItWasLeft) {
  struct Case {
    const char* name;
    std::function<void(CMainFrame*)> leave;
    DWORD dockSide;
    std::string profile;
  };
  const std::vector<Case> cases = {
      {"docked on the left", [](CMainFrame* p) { p->DockControlBar(&p->m_wndToolBar, AFX_IDW_DOCKBAR_LEFT); },
       CBRS_ALIGN_LEFT, "Docking=Left\n"},
      {"floating", [](CMainFrame* p) { p->FloatControlBar(&p->m_wndToolBar, CPoint(300, 200)); }, 0,
       "Docking=Floating\nXPos=300\nYPos=200\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(m_session.Start());
    c.leave(m_session.Frame());
    m_session.Stop();
    EXPECT_NE(m_session.ProfileText().find("[vimo-Bar0]\nBarID=59392\nVisible=1\n" + c.profile), std::string::npos)
        << m_session.ProfileText();
    ASSERT_TRUE(m_session.Start());
    CToolBar& bar = m_session.Frame()->m_wndToolBar;
    EXPECT_EQ(bar.GetDockSide(), c.dockSide);
    EXPECT_TRUE(bar.IsVisible());
    if (c.dockSide == 0) {
      EXPECT_EQ(Placement(&bar).rcNormalPosition.left, 300);
      EXPECT_EQ(Placement(&bar).rcNormalPosition.top, 200);
    }
    m_session.Stop();
  }
}

TEST_F(PlacementTest, FitImageMessageSizesTheRestoredWindowAroundTheImage) {
  m_session.WriteProfile("[Window size]\nRect=0100 0050 0740 0530\niconized=0\nmaximized=0\n");
  ASSERT_TRUE(m_session.Start());
  m_session.Frame()->SendMessage(WM_FIT_IMAGE, 640, 480);
  const WINDOWPLACEMENT wp = Placement(m_session.Frame());
  EXPECT_EQ(wp.rcNormalPosition.left, 100);
  EXPECT_EQ(wp.rcNormalPosition.top, 50);
  EXPECT_EQ(wp.rcNormalPosition.right - wp.rcNormalPosition.left, 654);
  EXPECT_EQ(wp.rcNormalPosition.bottom - wp.rcNormalPosition.top, 616);
}

// The menu and bars need the fonts, the first picture does not: a window that knows their space
// from the last close shows the view in its place first, and the bars come into the space kept.
TEST_F(PlacementTest, BarsComeAfterTheFirstPaintIntoTheSpaceKeptAndTheViewDoesNotMove) {
  ASSERT_TRUE(m_session.Start());
  const QRect settled = m_session.View()->GetWidget()->geometry();
  m_session.Stop();
  const std::string space = Entry(m_session.ProfileText(), "View", "BarSpace");
  EXPECT_EQ(space, "0 " + std::to_string(settled.top()) + " 0 " + std::to_string(400 - 1 - settled.bottom()));

  ASSERT_TRUE(AfxTestAccess::StartInstance(theApp, {}, {}));
  CMainFrame* pFrame = m_session.Frame();
  EXPECT_EQ(pFrame->m_wndStatusBar.GetWidget(), nullptr);
  EXPECT_EQ(m_session.View()->GetWidget()->geometry(), settled);
  ASSERT_TRUE(m_session.WaitFor([pFrame] { return pFrame->m_wndStatusBar.GetWidget() != nullptr; }));
  EXPECT_EQ(m_session.View()->GetWidget()->geometry(), settled);
  EXPECT_TRUE(AfxTestAccess::IsMenuItemChecked(pFrame, ID_VIEW_TOOLBAR));
  m_session.Stop();

  // The film strip kept on comes back with the bars.
  ASSERT_TRUE(m_session.Start());
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_VIEW_FILM_STRIP));
  m_session.Stop();
  ASSERT_TRUE(m_session.Start());
  EXPECT_TRUE(m_session.Frame()->m_wndFilmStrip.IsVisible());
  EXPECT_EQ(m_session.Frame()->GetWidget()->height(), 400) << "the window keeps its size";
  m_session.Stop();

  // A space that cannot be the bars' is not kept for them: they come with the window.
  for (const char* text : {"0 48 0", "0 -5 0 22", "0 99999 0 22", "0 0 0 0", "0 48 0 22 0"}) {
    SCOPED_TRACE(text);
    m_session.WriteProfile(std::string("[View]\nBarSpace=") + text + "\n");
    ASSERT_TRUE(AfxTestAccess::StartInstance(theApp, {}, {}));
    EXPECT_NE(m_session.Frame()->m_wndStatusBar.GetWidget(), nullptr);
    m_session.Stop();
  }
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
