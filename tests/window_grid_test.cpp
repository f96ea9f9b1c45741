// Several images chosen in the grid go as one image goes: into the trash, and where no trash can
// take them, deleted for good only after one question for them all. One Ctrl+Z brings back all
// that went into the trash, and browsing goes on from the first of them.
#include <gtest/gtest.h>

#include <QTest>

#include <unistd.h>

#include <functional>

#include "res/Resource.h"
#include "support/ui/UserInput.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

TEST(Grid, CtrlDelOnSeveralChosenAsksOnceForThoseNoTrashCanTakeAndCtrlZBringsThemAllBack) {
  const TempDir dir;
  const ScopedTmpfs volume(dir / "v", "size=4m");  // a second file system, as a USB stick's
  const struct {
    const char* what;
    bool onVolume;  // whose trash is a file: no trash can take the photos there
    int answer;     // to the question; 0: Enter
    size_t boxes;
    bool kept, undone;  // after Ctrl+Del; after Ctrl+Z
  } rows[] = {
      {"home trash: all moved, nothing asked", false, 0, 0, false, true},
      {"no trash, Enter: one question, all kept", true, 0, 1, true, true},
      {"no trash, Yes: one question, all deleted", true, IDYES, 1, false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.onVolume && !volume.Mounted()) continue;  // mounting needs root, as on CI
    const fs::path folder = row.onVolume ? dir / "v" : dir / "home";
    fs::create_directories(folder);
    if (row.onVolume) WriteFile(folder / (".Trash-" + std::to_string(geteuid())), {});
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) RunConvert("-size 16x16 xc:red " + (folder / name).string());
    ViewerSession session;
    session.messageAnswers = {row.answer};
    ASSERT_TRUE(session.Start({folder.string()}));
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return session.Doc()->m_images.GetCount() == 3; }));
    PressKey(session.Frame(), Qt::Key_A, Qt::ControlModifier);
    PressKey(session.Frame(), Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(session.messages.size(), row.boxes);
    if (row.boxes > 0) {
      EXPECT_TRUE(session.messages[0].starts_with("ごみ箱に移せません:")) << session.messages[0];
      for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) EXPECT_NE(session.messages[0].find(name), std::string::npos);
    }
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) EXPECT_EQ(fs::exists(folder / name), row.kept) << name;
    EXPECT_EQ(session.Doc()->m_images.GetCount(), row.kept ? 3 : 0);
    PressKey(session.Frame(), Qt::Key_Z, Qt::ControlModifier);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) EXPECT_EQ(fs::exists(folder / name), row.undone) << name;
    if (!row.kept && row.undone) {
      EXPECT_TRUE(session.WaitForImage("a.jpg"));
      EXPECT_EQ(session.Doc()->m_images.GetCount(), 3);
      EXPECT_TRUE(fs::is_empty(fs::path(std::getenv("XDG_DATA_HOME")) / "Trash" / "info"));
    }
    session.Stop();
  }
}

// Shift+S on the one photo chosen in the grid copies it at another size, turned as the image view
// shows it (its EXIF orientation, a quarter clockwise here).
TEST(Grid, ACopyAtAnotherSizeOfTheChosenPhotoIsTurnedAsShown) {
  const TempDir dir;
  const Rgb red{255, 0, 0}, blue{0, 0, 255};
  MakeQuadrantJpeg(dir / "photo.jpg", 64, 48, red, red, blue, red);
  WriteFile(dir / "photo.jpg", WithExifOrientation(ReadFile(dir / "photo.jpg"), 6));
  ViewerSession session;
  session.dialogHandler = [](CDialog* pDialog) {
    pDialog->SetDlgItemText(IDC_COPY_WIDTH, "50");
    pDialog->SetDlgItemText(IDC_COPY_UNIT, "%");
    pDialog->SetDlgItemText(IDC_COPY_FORMAT, "PNG");
    return IDOK;
  };
  ASSERT_TRUE(session.Start({dir.Path().string()}));
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return session.Doc()->m_images.GetCount() == 1; }));
  PressKey(session.Frame(), Qt::Key_A, Qt::ControlModifier);
  PressKey(session.Frame(), Qt::Key_S, Qt::ShiftModifier);
  ASSERT_EQ(session.dialogs.size(), 1u);
  const DecodedImage copy = DecodeWithMagick("PNG:" + (dir / "photo-1.png").string()).at(0);
  EXPECT_TRUE(copy.width == 24 && copy.height == 32) << copy.width << " x " << copy.height;
  EXPECT_TRUE(copy.pixels.at(0).blue > 200 && copy.pixels.at(0).red < 60) << "the stored bottom-left corner shows top-left";
  session.Stop();
}

// The grid left showing at the last close comes back at a start on a folder or on nothing; a file
// opened (at the start, handed over to the running viewer, or with 開く) is shown.
TEST(Grid, ComesBackAtAStartOnAFolderOrNothingWhileAFileOpenedIsShown) {
  const TempDir dir;
  for (const char* name : {"a.jpg", "b.jpg"}) RunConvert("-size 16x16 xc:red " + (dir / name).string());
  const std::string a = (dir / "a.jpg").string(), b = (dir / "b.jpg").string();
  const std::function<void(ViewerSession&)> none, handOver = [&](ViewerSession&) { theApp.OpenDocumentFile(b.c_str()); };
  const std::function<void(ViewerSession&)> open = [&](ViewerSession& session) {
    session.fileDialogAnswers = {{b}};
    AfxTestAccess::TriggerMenuItem(session.Frame(), ID_IMAGE_OPEN);
  };
  const struct { std::vector<std::string> args; std::function<void(ViewerSession&)> then; const char* shown; } rows[] = {
      {{a}, none, "a.jpg"}, {{dir.Path().string()}, none, nullptr}, {{}, none, nullptr}, {{}, handOver, "b.jpg"}, {{}, open, "b.jpg"}};
  for (const auto& row : rows) {
    ViewerSession session;
    session.WriteProfile("[View]\nGridShown=1\n");
    ASSERT_TRUE(session.Start(row.args));
    if (row.then) row.then(session);
    if (row.shown != nullptr) EXPECT_TRUE(session.WaitForImage(row.shown) && !session.Frame()->IsGridShown()) << &row - rows;
    else EXPECT_TRUE(ViewerSession::WaitFor([&] { return session.Frame()->IsGridShown() != FALSE; })) << &row - rows;
  }
}

// The browsed folder is watched: files another program adds, removes or renames appear, vanish
// and move in the browse list and the film strip without a restart; the shown file removed is
// said in the status bar and the next image is shown; a folder removed whole leaves nothing.
TEST(FolderWatch, WhatAnotherProgramDoesToTheFolderShowsWithoutARestart) {
  const TempDir dir;
  const fs::path folder = dir / "photos";
  fs::create_directories(folder);
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) RunConvert("-size 16x16 xc:red " + (folder / name).string());
  RunConvert("-size 16x16 xc:blue " + (dir / "d.jpg").string());
  ViewerSession session;
  ASSERT_TRUE(session.Start({(folder / "a.jpg").string()}));
  ASSERT_TRUE(session.WaitForImage("a.jpg"));
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(session.Frame(), ID_VIEW_FILM_STRIP));
  const struct {
    const char* what;
    std::function<void()> change;
    std::vector<std::string> listed;  // the browse list and the strip's captions then
    const char* shown;
  } rows[] = {
      {"a file put in", [&] { fs::copy_file(dir / "d.jpg", folder / "d.jpg"); }, {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}, "a.jpg"},
      {"a file removed", [&] { fs::remove(folder / "c.jpg"); }, {"a.jpg", "b.jpg", "d.jpg"}, "a.jpg"},
      {"a file renamed", [&] { fs::rename(folder / "b.jpg", folder / "e.jpg"); }, {"a.jpg", "d.jpg", "e.jpg"}, "a.jpg"},
      {"the shown file removed", [&] { fs::remove(folder / "a.jpg"); }, {"d.jpg", "e.jpg"}, "d.jpg"},
      {"the folder removed", [&] { fs::remove_all(folder); }, {}, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    row.change();
    std::vector<std::string> listed, captions;
    EXPECT_TRUE(ViewerSession::WaitFor([&] {
      listed.clear();
      for (int i = 0; i < session.Doc()->m_images.GetCount(); ++i) listed.push_back(session.Doc()->m_images.GetName(i).str());
      captions.clear();
      for (const CString& caption : AfxTestAccess::GetListCaptions(session.Frame()->GetControlBar(ID_VIEW_FILM_STRIP)))
        captions.push_back(caption.str());
      return listed == row.listed && captions == row.listed;
    })) << testing::PrintToString(listed) << testing::PrintToString(captions);
    EXPECT_TRUE(*row.shown == '\0' || session.WaitForImage(row.shown));
    EXPECT_EQ(session.Frame()->m_wndStatusBar.GetPaneText(0).str().starts_with("a.jpg は他のﾌﾟﾛｸﾞﾗﾑで削除または移動されました"),
              std::string(row.what) == "the shown file removed");
  }
  EXPECT_TRUE(session.messages.empty());
}

// Film-strip captions keep the end of a name too long for its cell, where photos of one camera
// differ; a name that fits shows whole.
TEST(FilmStrip, CaptionsKeepTheEndOfLongNamesSoPhotosAlikeDiffer) {
  const struct {
    std::vector<std::string> names;
    std::vector<std::string> ends;  // each caption ends so, and the captions differ
    bool whole;
  } rows[] = {
      {{"holiday_in_rome_2024_IMG_0001.jpg", "holiday_in_rome_2024_IMG_0002.jpg", "holiday_in_rome_2024_IMG_0003.jpg"},
       {"0001.jpg", "0002.jpg", "0003.jpg"}, false},
      {{"a.jpg", "b.jpg"}, {"a.jpg", "b.jpg"}, true},
  };
  for (const auto& row : rows) {
    const TempDir dir;
    for (const std::string& name : row.names) RunConvert("-size 16x16 xc:red " + (dir / name).string());
    ViewerSession session;
    ASSERT_TRUE(session.Start({(dir / row.names[0]).string()}));
    ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(session.Frame(), ID_VIEW_FILM_STRIP));
    std::vector<CString> captions;
    ASSERT_TRUE(ViewerSession::WaitFor([&] {
      captions = AfxTestAccess::GetListCaptions(session.Frame()->GetControlBar(ID_VIEW_FILM_STRIP));
      return captions.size() == row.names.size();
    }));
    for (size_t i = 0; i < captions.size(); ++i) {
      EXPECT_TRUE(captions[i].str().ends_with(row.ends[i])) << captions[i];
      EXPECT_EQ(captions[i] == row.names[i].c_str(), row.whole) << captions[i];
    }
    session.Stop();
  }
}

// A photo stacked for Image Gift carries the mark in the grid, F5 says how many went on the stack,
// and Gift's settings open from the grid as from the image.
TEST(Grid, StackedPhotosCarryTheGiftMarkAndF5SaysHowManyWent) {
  const TempDir dir;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) RunConvert("-size 16x16 xc:red " + (dir / name).string());
  ViewerSession session;
  ASSERT_TRUE(session.Start({dir.Path().string()}));
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return session.Frame()->IsGridShown() && session.Doc()->m_images.GetCount() == 3; }));
  CWnd* pGrid = session.Frame()->GetActiveView();
  const struct {
    int key, modifiers;
    const char* notice;  // the status bar's first pane after it
    std::vector<int> marks;
  } rows[] = {
      {Qt::Key_F5, 0, "1 枚をｽﾀｯｸしました", {1, 0, 0}},  // the first photo is chosen at the start
      {Qt::Key_A, Qt::ControlModifier, "ﾚﾃﾞｨ", {1, 0, 0}},
      {Qt::Key_F5, 0, "2 枚をｽﾀｯｸしました (1 枚はｽﾀｯｸ済み)", {1, 1, 1}},
  };
  for (const auto& row : rows) {
    PressKey(session.Frame(), row.key, row.modifiers);
    EXPECT_EQ(session.Frame()->m_wndStatusBar.GetPaneText(0), row.notice);
    EXPECT_EQ(AfxTestAccess::GetListStateImages(pGrid, IDC_GRID_LIST, 3), row.marks) << row.notice;
  }
  session.dialogHandler = [](CDialog*) { return IDCANCEL; };
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(session.Frame(), ID_GIFT_SETTINGS));
  EXPECT_EQ(session.dialogs, std::vector<std::string>{"Image Gift 設定"});
  session.Stop();
}

// The grid's captions say when each photo was taken, if the user wants: the EXIF date, else when
// the file was last changed; and the names again.
TEST(Grid, CaptionsGiveTheDateTakenOrTheName) {
  const TempDir dir;
  for (const char* name : {"a.jpg", "b.jpg"}) RunConvert("-size 16x16 xc:red " + (dir / name).string());
  WriteFile(dir / "a.jpg", WithExifDateTaken(ReadFile(dir / "a.jpg"), "2024:05:01 10:22:33"));
  ASSERT_EQ(std::system(("touch -d '2023-02-03 04:05:06' " + (dir / "b.jpg").string()).c_str()), 0);
  ViewerSession session;
  ASSERT_TRUE(session.Start({dir.Path().string()}));
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return session.Frame()->IsGridShown() && session.Doc()->m_images.GetCount() == 2; }));
  const struct {
    UINT nID;
    std::vector<CString> captions;
  } rows[] = {
      {ID_VIEW_CAPTION_TAKEN, {"2024/05/01 10:22", "2023/02/03 04:05"}},
      {ID_VIEW_CAPTION_NAME, {"a.jpg", "b.jpg"}},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(session.Frame(), row.nID));
    std::vector<CString> captions;
    EXPECT_TRUE(ViewerSession::WaitFor([&] {
      captions = AfxTestAccess::GetListCaptions(session.Frame()->GetActiveView());
      return captions == row.captions;
    })) << (captions.empty() ? CString() : captions[0]);
  }
  session.Stop();
}

// The status bar's second pane says where the user is: with an image its place in the browse
// list, its pixels, its file's size and when it was taken; in the grid the photos and those chosen.
TEST(StatusBar, SaysWhereTheUserIs) {
  const TempDir dir;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) RunConvert("-size 60x40 xc:red " + (dir / name).string());
  Bytes taken = WithExifDateTaken(ReadFile(dir / "b.jpg"), "2024:05:01 10:22:33");
  taken.resize(5 * 1024 * 1024 / 2);  // after the picture's end, as some cameras leave
  WriteFile(dir / "b.jpg", taken);
  const struct {
    std::string open;
    bool chooseAll;
    const char* pane;
  } rows[] = {
      {"b.jpg", false, "2 / 3    60 x 40    2.5 MB    撮影 2024/05/01 10:22"},
      {"a.jpg", false, "1 / 3    60 x 40    1 KB"},
      {"", false, "3 枚    1 枚を選択"},
      {"", true, "3 枚    3 枚を選択"},
  };
  for (const auto& row : rows) {
    ViewerSession session;
    ASSERT_TRUE(session.Start({(dir / row.open).string()}));
    const CStatusBar& bar = session.Frame()->m_wndStatusBar;
    if (row.chooseAll && ViewerSession::WaitFor([&] { return bar.GetPaneText(1) == "3 枚    1 枚を選択"; }))
      PressKey(session.Frame(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(ViewerSession::WaitFor([&] { return bar.GetPaneText(1) == row.pane; }, 10000)) << bar.GetPaneText(1);
    session.Stop();
  }
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
