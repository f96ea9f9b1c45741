// The view's painting and scrolling, and what the window offers before the view's commands come.
#include <gtest/gtest.h>

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <filesystem>
#include <functional>

#include "app/Globals.h"
#include "doc/ExifOrientation.h"
#include "res/Resource.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

struct ScrollSizes {
  SIZE total;
  SIZE page;
  SIZE line;
};

ScrollSizes SizesOf(CVimoView* pView) {
  int mapMode = 0;
  ScrollSizes sizes{};
  pView->GetScrollSizes(mapMode, sizes.total, sizes.page, sizes.line);
  EXPECT_EQ(mapMode, MM_TEXT);
  return sizes;
}

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_session.Start());
    m_pDoc = m_session.Doc();
    m_pView = m_session.View();
  }

  // Loads a BMP file of the given size and waits until the view has painted it.
  void Show(int width, int height, const std::string& name = "shown.bmp") {
    const auto file = m_dir / (name + ".bmp");
    WriteFile(file, MakeBmp24(width, height, Pattern(width, height, 9)));
    std::snprintf(m_pDoc->m_szFolder, sizeof(m_pDoc->m_szFolder), "%s/", m_dir.Path().c_str());
    m_pDoc->LoadDib(file.c_str());
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return SizesOf(m_pView).total.cx == width; }));
  }

  TempDir m_dir;
  ViewerSession m_session;
  CVimoDoc* m_pDoc = nullptr;
  CVimoView* m_pView = nullptr;
};

TEST_F(ViewTest, BeforeAnyImageTheViewShowsTheWindowColourOver200By200) {
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_session.ViewPixels().width > 0; }));
  const ScrollSizes sizes = SizesOf(m_pView);
  EXPECT_EQ(sizes.total.cx, 200);
  EXPECT_EQ(sizes.total.cy, 200);
  EXPECT_EQ(sizes.page.cx, 20);
  EXPECT_EQ(sizes.page.cy, 20);
  EXPECT_EQ(sizes.line.cx, 2);
  EXPECT_EQ(sizes.line.cy, 2);
  const Pixels painted = m_session.ViewPixels();
  for (int y = 0; y < painted.height; y += 7) {
    for (int x = 0; x < painted.width; x += 7) ASSERT_EQ(painted.At(x, y), WindowColour()) << x << "," << y;
  }
}

TEST_F(ViewTest, LargeImageScrollsOverItsOwnSizeByPagesOf120By140) {
  Show(800, 600);
  const ScrollSizes sizes = SizesOf(m_pView);
  EXPECT_EQ(sizes.total.cx, 800);
  EXPECT_EQ(sizes.total.cy, 600);
  EXPECT_EQ(sizes.page.cx, 120);
  EXPECT_EQ(sizes.page.cy, 140);
  EXPECT_EQ(sizes.line.cx, 12);
  EXPECT_EQ(sizes.line.cy, 14);
  EXPECT_TRUE(m_pView->OnScroll(0xFF03, 0, TRUE));  // one page right
  EXPECT_EQ(m_pView->GetScrollPosition().x, 120);
  EXPECT_TRUE(m_pView->OnScroll(0x03FF, 0, TRUE));  // one page down
  EXPECT_EQ(m_pView->GetScrollPosition().y, 140);
  EXPECT_TRUE(m_pView->OnScroll(0xFF02, 0, TRUE));  // one page left
  EXPECT_EQ(m_pView->GetScrollPosition().x, 0);
  EXPECT_FALSE(m_pView->OnScroll(0xFF02, 0, TRUE)) << "nothing further left";

  // The painted pixels follow the scroll position.
  const std::vector<Rgb> pattern = Pattern(800, 600, 9);
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_session.ViewPixels().width > 0; }));
  const Pixels painted = m_session.ViewPixels();
  EXPECT_EQ(painted.At(0, 0), pattern[static_cast<size_t>(140 * 800)]);
  EXPECT_EQ(painted.At(33, 21), pattern[static_cast<size_t>((140 + 21) * 800 + 33)]);
  // Scrolled across too: the painted columns start at the scroll position.
  EXPECT_TRUE(m_pView->OnScroll(0xFF03, 0, TRUE));
  const Pixels across = m_session.ViewPixels();
  EXPECT_EQ(across.At(0, 0), pattern[static_cast<size_t>(140 * 800 + 120)]);
  EXPECT_EQ(across.At(33, 21), pattern[static_cast<size_t>((140 + 21) * 800 + 120 + 33)]);
}

// Compares every pixel the view shows with the image scrolled to `at`; at most a few failures.
void ExpectViewShows(const Pixels& painted, POINT at, const std::function<Rgb(int, int)>& imageAt) {
  int wrong = 0;
  for (int y = 0; y < painted.height; ++y) {
    for (int x = 0; x < painted.width; ++x) {
      const Rgb want = imageAt(x + at.x, y + at.y);
      if (painted.At(x, y) != want && wrong++ < 3) ADD_FAILURE() << "pixel " << x << "," << y << " scrolled to " << at.x << "," << at.y;
    }
  }
}

TEST_F(ViewTest, ScrolledImageIsPaintedPixelForPixelAt8And24Bits) {
  const int width = 1500;
  const int height = 1100;
  const std::vector<Rgb> pattern = Pattern(width, height, 5);
  std::vector<Rgb> palette;
  for (int i = 0; i < 256; ++i)
    palette.push_back(Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i * 37)});
  std::vector<std::uint8_t> indexes;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) indexes.push_back(static_cast<std::uint8_t>(x * 7 + y * 13));
  }
  struct Case {
    const char* name;
    Bytes file;
    std::function<Rgb(int, int)> imageAt;
  };
  const std::vector<Case> cases = {
      {"24 bits", MakeBmp24(width, height, pattern), [&](int x, int y) { return pattern[static_cast<size_t>(y * width + x)]; }},
      {"8 bits", MakeBmp8(width, height, palette, indexes),
       [&](int x, int y) { return palette[indexes[static_cast<size_t>(y * width + x)]]; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = m_dir / (std::string(c.name) + ".bmp.bmp");
    WriteFile(file, c.file);
    m_pDoc->LoadDib(file.c_str());
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return SizesOf(m_pView).total.cx == width; }));
    // Odd offsets: the first column shown starts inside a 4-byte word of the stored rows.
    for (const POINT at : {POINT{0, 0}, POINT{333, 217}}) {
      m_pView->ScrollToPosition(at);
      ASSERT_EQ(m_pView->GetScrollPosition().x, at.x);
      const Pixels painted = m_session.ViewPixels();
      ASSERT_LT(painted.width + at.x, width);
      ASSERT_LT(painted.height + at.y, height);
      ExpectViewShows(painted, at, c.imageAt);
    }
  }
}

TEST_F(ViewTest, FileCutShortWhileShownIsPaintedAsFarAsItGoesWithTheRestBlack) {
  // Another program shortens the shown file to its bottom 50 rows, or into the 51st: the rows
  // gone are black, and nothing beyond the end of the file is read (which would end the program
  // with SIGBUS).
  const int width = 600;
  const int height = 1000;
  const std::vector<Rgb> pattern = Pattern(width, height, 8);
  for (const int cutInto : {0, 10}) {
    SCOPED_TRACE(cutInto);
    const auto file = m_dir / ("cut" + std::to_string(cutInto) + ".bmp.bmp");
    WriteFile(file, MakeBmp24(width, height, pattern));
    m_pDoc->LoadDib(file.c_str());
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return SizesOf(m_pView).total.cx == width; }));
    std::filesystem::resize_file(file, 54 + 50 * width * 3 + cutInto);
    m_pView->ScrollToPosition(POINT{0, height});  // as far down as it goes
    const POINT bottom = m_pView->GetScrollPosition();
    const Pixels painted = m_session.ViewPixels();
    ASSERT_EQ(bottom.y + painted.height, height);
    ASSERT_GT(painted.height, 50);
    ExpectViewShows(painted, bottom, [&](int x, int y) {
      return y >= height - 50 ? pattern[static_cast<size_t>(y * width + x)] : Rgb{0, 0, 0};
    });
  }
}

TEST_F(ViewTest, CoreHeaderImageScrollsOverItsSixteenBitSizes) {
  // 14-byte file header, 12-byte core header (100 x 80, 24 bits), then the rows.
  const int width = 100;
  const int height = 80;
  const int stride = (width * 3 + 3) & ~3;
  Bytes bytes = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 26, 0, 0, 0, 12, 0, 0, 0, width, 0, height, 0, 1, 0, 24, 0};
  bytes.resize(bytes.size() + static_cast<size_t>(stride * height), 0x80);
  const auto file = m_dir / "core.bmp.bmp";
  WriteFile(file, bytes);
  m_pDoc->LoadDib(file.c_str());
  ASSERT_EQ(m_pDoc->GetTitle(), "core.bmp");
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_session.ViewPixels().width > 0; }));
  EXPECT_EQ(SizesOf(m_pView).total.cx, width);
  EXPECT_EQ(SizesOf(m_pView).total.cy, height);
}

TEST_F(ViewTest, TopDownBitmapIsNotPaintedAndLeavesTheScrollSizes) {
  const auto file = m_dir / "topdown.bmp.bmp";
  Bytes bytes = MakeBmp24(30, 20, Pattern(30, 20, 4));
  PutU32(bytes, 22, static_cast<std::uint32_t>(-20));
  WriteFile(file, bytes);
  m_pDoc->LoadDib(file.c_str());
  ASSERT_EQ(m_pDoc->GetTitle(), "topdown.bmp");
  ViewerSession::WaitFor([&] { return m_session.ViewPixels().width > 0; });
  EXPECT_EQ(SizesOf(m_pView).total.cx, 200);
  EXPECT_EQ(SizesOf(m_pView).total.cy, 200);
}

TEST_F(ViewTest, GiftStateCaptionIsPaintedAtTenTenOverTheImage) {
  Show(120, 80, "gift.jpg");
  const std::string path = m_dir.Path().string() + "/gift.jpg";
  // Text pixels: dark on the white text background (the pattern below has few such pixels).
  auto blackPixelsNearTheCorner = [&] {
    const Pixels painted = m_session.ViewPixels();
    int dark = 0;
    int white = 0;
    for (int y = 10; y < 30; ++y) {
      for (int x = 10; x < 60; ++x) {
        const Rgb c = painted.At(x, y);
        dark += c.red + c.green + c.blue < 150 ? 1 : 0;
        white += c == Rgb{255, 255, 255} ? 1 : 0;
      }
    }
    return white > 100 ? dark : 0;
  };
  EXPECT_EQ(blackPixelsNearTheCorner(), 0) << "no caption for an image never stacked";
  for (std::intptr_t state : {1, 0}) {
    g_mapGiftState.SetAt(path.c_str(), reinterpret_cast<void*>(state));
    m_pView->Invalidate();
    EXPECT_GT(blackPixelsNearTheCorner(), 10) << "state " << state;
    const Pixels painted = m_session.ViewPixels();
    EXPECT_EQ(painted.At(10, 10), (Rgb{255, 255, 255})) << "opaque white behind the text";
  }
}

TEST_F(ViewTest, ImageCommandsFollowTheLoadedImageAndItsTitle) {
  Show(50, 40);
  CMainFrame* pFrame = m_session.Frame();
  // The image was loaded without browsing: nothing lies ahead or behind in the history.
  for (UINT nID : {ID_GO_NEXT, ID_GO_PREV}) {
    EXPECT_FALSE(AfxTestAccess::IsMenuItemEnabled(pFrame, nID)) << std::hex << nID;
    EXPECT_FALSE(pFrame->ExecuteCommand(nID)) << std::hex << nID;
  }
  for (UINT nID : {ID_IMAGE_DELETE, ID_IMAGE_SAVE_AS, ID_GIFT_SEND, ID_GIFT_STACK})
    EXPECT_TRUE(AfxTestAccess::IsMenuItemEnabled(pFrame, nID)) << std::hex << nID;
  m_pDoc->SetTitle("");
  for (UINT nID : {ID_IMAGE_DELETE, ID_IMAGE_SAVE_AS, ID_GIFT_SEND, ID_GIFT_STACK}) {
    EXPECT_FALSE(AfxTestAccess::IsMenuItemEnabled(pFrame, nID)) << std::hex << nID;
    EXPECT_FALSE(pFrame->ExecuteCommand(nID)) << std::hex << nID;
  }
  for (UINT nID : {ID_IMAGE_OPEN, ID_APP_ABOUT, ID_APP_EXIT, ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, ID_GIFT_SETTINGS})
    EXPECT_TRUE(AfxTestAccess::IsMenuItemEnabled(pFrame, nID)) << std::hex << nID;
}

TEST_F(ViewTest, MenusAndStatusBarSpeakJapanese) {
  CMainFrame* pFrame = m_session.Frame();
  const char* titles[] = {"ﾌｧｲﾙ(&F)", "表示(&V)", "移動(&G)", "Gift(&I)", "ﾍﾙﾌﾟ(&H)"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(AfxTestAccess::GetMenuItems(pFrame, i).at(0), titles[i]);
  const std::vector<CString> fileMenu = AfxTestAccess::GetMenuItems(pFrame, 0);
  const std::vector<CString> expected = {"ﾌｧｲﾙ(&F)", "開く(&O)...\tCtrl+O|57609", "フォルダを開く(&L)...|32825",
                                         "名前を付けて保存(&A)...|57610", "削除(&D)\tCtrl+Del|57608", "元に戻す(&U)\tCtrl+Z|57643",
                                         "-|0", "名前の変更(&M)...\tF2|32864", "ﾌｫﾙﾀﾞにｺﾋﾟｰ(&Y)...\tF7|32865",
                                         "ﾌｫﾙﾀﾞに移動(&V)...\tF8|32866", "ﾌﾟﾛｸﾞﾗﾑから開く(&H)...\tCtrl+Shift+O|32867",
                                         "-|0", "ｺﾋﾟｰ(&C)\tCtrl+C|57634", "ﾊﾟｽをｺﾋﾟｰ(&P)\tCtrl+Shift+C|32833",
                                         "回転を保存(&R)|32839", "切り抜いて保存(&K)...\tShift+C|32880",
                                         "大きさを変えて保存(&Z)...\tShift+S|32881", "-|0", "印刷(&T)...\tCtrl+P|32912",
                                         "印刷ﾌﾟﾚﾋﾞｭｰ(&E)...|32913", "壁紙に設定(&W)|32914", "-|0", "最新のﾌｧｲﾙ|57616", "-|0",
                                         "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)|57665"};
  EXPECT_EQ(fileMenu, expected);
  EXPECT_EQ(pFrame->m_wndStatusBar.GetPaneText(0), "ﾚﾃﾞｨ");
  EXPECT_EQ(m_session.Frame()->m_wndToolBar.GetCount(), 11);
}

// Every menu and submenu fits in one column on a screen 768 pixels high at scale 1 and 1080 at
// scale 2, a top-level one below the menu bar of a window at the screen's top (its title bar 40
// high): where a compositor places menus, a menu past the screen's edge cannot be reached.
TEST_F(ViewTest, EveryMenuFitsAScreen768HighAtScale1And1080AtScale2) {
  QMenuBar* pBar = static_cast<QMainWindow*>(m_session.Frame()->GetWidget())->menuBar();
  for (QMenu* pMenu : pBar->findChildren<QMenu*>()) {
    const int top = pMenu->parent() == pBar ? 40 + pBar->sizeHint().height() : 0;
    const QList<QAction*> items = pMenu->actions();
    EXPECT_EQ(pMenu->actionGeometry(items.first()).left(), pMenu->actionGeometry(items.last()).left()) << "two columns";
    for (const auto& [scale, screen] : {std::pair{1, 768}, {2, 1080}})
      EXPECT_LE((top + pMenu->sizeHint().height()) * scale, screen) << pMenu->title().toStdString() << " at scale " << scale;
  }
}

TEST_F(ViewTest, ExifOrientationIsReadInEitherByteOrder) {
  RunConvert("-size 8x8 xc:red -quality 90 JPEG:" + (m_dir / "plain.jpg").string());
  const Bytes plain = ReadFile(m_dir / "plain.jpg");
  const auto orientationOf = [&](const Bytes& bytes) {
    WriteFile(m_dir / "photo.jpg", bytes);
    return ReadExifOrientation((m_dir / "photo.jpg").c_str());
  };
  for (int value = 1; value <= 8; ++value) {
    EXPECT_EQ(orientationOf(WithExifOrientation(plain, value)), value) << "Intel order";
    EXPECT_EQ(orientationOf(WithExifOrientation(plain, value, true)), value) << "Motorola order";
  }
  EXPECT_EQ(orientationOf(plain), 1) << "no EXIF block";
  EXPECT_EQ(orientationOf(WithExifOrientation(plain, 9)), 1) << "no such orientation";
  Bytes notJpeg = MakeBmp24(4, 4, Pattern(4, 4, 1));
  notJpeg.insert(notJpeg.end(), plain.begin(), plain.end());
  EXPECT_EQ(orientationOf(notJpeg), 1) << "not a JPEG";
}

TEST_F(ViewTest, FitAndUprightAreRememberedAndTheIdleTextSaysTheZoom) {
  m_session.Stop();
  m_session.WriteProfile("[View]\nFitToWindow=1\nPhotosUpright=0\n");
  ASSERT_TRUE(m_session.Start());
  m_pDoc = m_session.Doc();
  m_pView = m_session.View();
  CMainFrame* pFrame = m_session.Frame();
  // F in full screen fits the image there or not; the window's remembered fit stays.
  for (int press = 0; press < 5; ++press) {
    ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(pFrame, press % 4 == 0 ? ID_VIEW_FULL_SCREEN : ID_VIEW_FIT));
  }
  EXPECT_TRUE(AfxTestAccess::IsMenuItemChecked(pFrame, ID_VIEW_FIT));
  EXPECT_FALSE(AfxTestAccess::IsMenuItemChecked(pFrame, ID_VIEW_UPRIGHT));
  // A fitted image larger than the window: the idle text gives its scale.
  WriteFile(m_dir / "wide.bmp.bmp", MakeBmp24(4000, 100, Pattern(4000, 100, 2)));
  m_pDoc->LoadDib((m_dir / "wide.bmp.bmp").c_str());
  char zoom[32] = "";
  EXPECT_TRUE(ViewerSession::WaitFor([&] {
    CRect client;
    m_pView->GetClientRect(&client);
    std::snprintf(zoom, sizeof(zoom), "ﾚﾃﾞｨ    %.1f %%", client.Width() / 40.0);
    return pFrame->m_wndStatusBar.GetPaneText(0) == zoom && SizesOf(m_pView).total.cx == client.Width();
  })) << zoom << " / " << static_cast<const char*>(pFrame->m_wndStatusBar.GetPaneText(0));
  for (UINT nID : {ID_VIEW_FIT, ID_VIEW_UPRIGHT}) EXPECT_TRUE(AfxTestAccess::TriggerMenuItem(pFrame, nID));
  EXPECT_TRUE(ViewerSession::WaitFor([&] {
    const std::string profile = m_session.ProfileText();
    return profile.find("FitToWindow=0") != std::string::npos && profile.find("PhotosUpright=1") != std::string::npos;
  })) << m_session.ProfileText();
  EXPECT_TRUE(ViewerSession::WaitFor([&] { return pFrame->m_wndStatusBar.GetPaneText(0) == "ﾚﾃﾞｨ"; }));
  EXPECT_EQ(SizesOf(m_pView).total.cx, 4000) << "1:1 again";
}

// A profile that cannot be written is said once; the choices made hold while the viewer runs.
TEST_F(ViewTest, ProfileThatCannotBeWrittenIsSaidOnceAndTheChoicesHold) {
  m_session.Stop();
  const std::filesystem::path config = m_session.ProfilePath().parent_path();
  std::filesystem::remove_all(config);
  WriteFile(config, {});  // a file where the folder belongs
  ASSERT_TRUE(m_session.Start());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_VIEW_OTHER_FORMATS));
  EXPECT_TRUE(AfxTestAccess::IsMenuItemChecked(m_session.Frame(), ID_VIEW_OTHER_FORMATS));
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return !m_session.messages.empty(); })) << "said by the writer";
  EXPECT_FALSE(theApp.WriteProfileString("View", "FitToWindow", "1")) << "nothing was written";
  m_session.Stop();  // the placement and the bars are not written either
  ASSERT_EQ(m_session.messages.size(), 1u) << testing::PrintToString(m_session.messages);
  EXPECT_EQ(m_session.messages[0].rfind("cannot write the settings to " + m_session.ProfilePath().string(), 0), 0u);
  std::filesystem::remove(config);
}

TEST_F(ViewTest, AboutBoxIsModalAndAnsweredWithOk) {
  AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_APP_ABOUT);
  EXPECT_TRUE(m_session.messages.empty());
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
