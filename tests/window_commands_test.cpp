// Commands on the shown image through real key and mouse input: browsing with Tab and
// Shift+Tab, deleting, saving a copy, scrolling with the arrow keys, and dragging the file out.
#include <gtest/gtest.h>

#include <QTest>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <future>
#include <mutex>
#include <set>

#include <unistd.h>

#include "app/Globals.h"
#include "convert/ConvertImage.h"
#include "res/Resource.h"
#include "support/PortalStandIn.h"
#include "support/ui/ScreenViewer.h"
#include "support/ui/UserInput.h"
#include "support/ui/ViewerSession.h"
#include "win32/GlobalMemory.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

// A conversion the test can hold back: sources whose name holds "late" wait for Release.
struct LateConverter {
  static std::mutex mutex;
  static std::condition_variable released;
  static bool open;
  static std::atomic<int> waiting;

  static int Convert(const char* src, const char* dst, int colours) {
    if (std::strstr(src, "late") != nullptr) {
      std::unique_lock<std::mutex> lock(mutex);
      ++waiting;
      released.wait(lock, [] { return open; });
      --waiting;
    }
    return ConvertImage(src, dst, colours);
  }
  static void Release() {
    {
      std::lock_guard<std::mutex> guard(mutex);
      open = true;
    }
    released.notify_all();
  }
};
std::mutex LateConverter::mutex;
std::condition_variable LateConverter::released;
bool LateConverter::open = false;
std::atomic<int> LateConverter::waiting{0};

class CommandsTest : public ::testing::Test {
 protected:
  void MakeJpeg(const std::string& name, const char* gradient, const char* size = "60x40") {
    RunConvert(std::string("-size ") + size + " gradient:" + gradient + " -quality 95 " + (m_dir / name).string());
  }

  void StartOn(const std::string& name) {
    ASSERT_TRUE(m_session.Start({(m_dir / name).string()}));
    ASSERT_TRUE(m_session.WaitForImage(name)) << "title " << Title() << ", messages: " << testing::PrintToString(m_session.messages);
  }

  CMainFrame* Frame() { return m_session.Frame(); }
  CVimoDoc* Doc() { return m_session.Doc(); }
  std::string Title() { return Doc()->GetTitle().str(); }

  void Tab() { PressKey(Frame(), Qt::Key_Tab); }
  void ShiftTab() { PressKey(Frame(), Qt::Key_Tab, Qt::ShiftModifier); }

  TempDir m_dir;
  ViewerSession m_session;
};

TEST_F(CommandsTest, TabAndShiftTabWalkTheFolderInBrowseOrder) {
  const char* colours[] = {"red-white", "green-white", "blue-white", "yellow-white", "purple-white"};
  const char* names[] = {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"};
  for (int i = 0; i < 5; ++i) MakeJpeg(names[i], colours[i]);
  StartOn("c.jpg");

  std::vector<std::string> order = {"c.jpg"};
  for (const std::string& name : ImageNamesInListingOrder(m_dir.Path())) {
    if (name != "c.jpg") order.push_back(name);
  }
  EXPECT_FALSE(AfxTestAccess::IsMenuItemEnabled(Frame(), ID_GO_PREV)) << "nothing before the first image";
  ShiftTab();
  EXPECT_EQ(Title(), "c.jpg");

  for (size_t i = 1; i < order.size(); ++i) {
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return AfxTestAccess::IsMenuItemEnabled(Frame(), ID_GO_NEXT) != FALSE; }))
        << "image " << order[i] << " never converted";
    Tab();
    ASSERT_TRUE(m_session.WaitForImage(order[i])) << "after Tab number " << i << " the title is " << Title();
    EXPECT_EQ(Frame()->GetWindowText().str(), order[i] + " - Vimo");
  }
  for (size_t i = order.size() - 1; i-- > 0;) {
    ShiftTab();
    EXPECT_EQ(Title(), order[i]);
  }
  EXPECT_FALSE(AfxTestAccess::IsMenuItemEnabled(Frame(), ID_GO_PREV));
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(CommandsTest, TabOnAnImageStillConvertingShowsItWhenReady) {
  MakeJpeg("first.jpg", "red-white");
  MakeJpeg("late.jpg", "blue-white");
  AfxTestAccess::SetConvertFunction(&LateConverter::Convert);
  StartOn("first.jpg");
  ASSERT_TRUE(ViewerSession::WaitFor([] { return LateConverter::waiting.load() == 1; }));

  EXPECT_TRUE(AfxTestAccess::IsMenuItemEnabled(Frame(), ID_GO_NEXT)) << "an image is on its way";
  Tab();
  EXPECT_EQ(Title(), "first.jpg") << "nothing changes while the image converts";
  EXPECT_EQ(g_bPollQueue, 1) << "the window waits for the worker";

  LateConverter::Release();
  EXPECT_TRUE(m_session.WaitForImage("late.jpg"));
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(CommandsTest, EachTabShowsAtMostOneConversionErrorAndBrowsingGoesOn) {
  MakeJpeg("a.jpg", "red-white");
  for (const char* broken : {"b.jpg", "c.jpg", "d.jpg"}) WriteFile(m_dir / broken, Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00});
  MakeJpeg("e.jpg", "blue-white");
  MakeJpeg("f.jpg", "green-white");
  StartOn("a.jpg");
  std::set<std::string> titles = {Title()};

  for (int press = 0; press < 12; ++press) {
    if (!ViewerSession::WaitFor([&] { return AfxTestAccess::IsMenuItemEnabled(Frame(), ID_GO_NEXT) != FALSE; }, 10000)) break;
    const size_t before = m_session.messages.size();
    Tab();
    ASSERT_TRUE(ViewerSession::WaitFor([] { return g_bPollQueue == 0; }));
    EXPECT_LE(m_session.messages.size() - before, 1u) << "press " << press;
    titles.insert(Title());
  }
  EXPECT_EQ(m_session.messages.size(), 3u);
  for (const std::string& message : m_session.messages) {
    EXPECT_EQ(message.rfind("Convert Error ", 0), 0u) << message;
  }
  for (const char* name : {"a.jpg", "e.jpg", "f.jpg"}) EXPECT_EQ(titles.count(name), 1u) << name << " never shown";
}

std::string LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "";
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", std::localtime(&now));
  return text;
}

TEST_F(CommandsTest, CtrlDelMovesTheShownFileIntoTheTrashAndKeepsItPainted) {
  const std::string latin1 = "\xE9t\xE9.jpg";  // not UTF-8
  MakeJpeg("a.jpg", "red-white");
  MakeJpeg(latin1, "blue-white");
  // An a.jpg deleted before keeps its place in the trash.
  const std::filesystem::path trash = std::filesystem::path(std::getenv("XDG_DATA_HOME")) / "Trash";
  std::filesystem::create_directories(trash / "info");
  std::filesystem::create_directories(trash / "files");
  WriteFile(trash / "info" / "a.jpg.trashinfo", Bytes{'[', ']'});
  WriteFile(trash / "files" / "a.jpg", Bytes{1, 2, 3});
  const auto deleteShown = [&](const std::string& name, const std::string& entry) {
    const Bytes bytes = ReadFile(m_dir / name);
    const std::string earliest = LocalTimeNow();
    PressKey(Frame(), Qt::Key_Delete, Qt::ControlModifier);
    const std::string latest = LocalTimeNow();
    EXPECT_FALSE(std::filesystem::exists(m_dir / name));
    EXPECT_EQ(ReadFile(trash / "files" / entry), bytes);
    const TrashInfo info = ReadTrashInfo(trash / "info" / (entry + ".trashinfo"));
    EXPECT_EQ(info.path, (std::filesystem::canonical(m_dir.Path()) / name).string());
    EXPECT_TRUE(earliest <= info.deletionDate && info.deletionDate <= latest) << info.deletionDate;
  };
  StartOn("a.jpg");
  const Pixels before = m_session.ViewPixels();

  deleteShown("a.jpg", "a.2.jpg");
  EXPECT_EQ(ReadFile(trash / "files" / "a.jpg"), (Bytes{1, 2, 3}));
  EXPECT_TRUE(std::filesystem::exists(m_dir / latin1));
  EXPECT_EQ(Title(), "");
  EXPECT_EQ(Frame()->GetWindowText().str(), " - Vimo");
  for (UINT nID : {ID_IMAGE_DELETE, ID_IMAGE_SAVE_AS, ID_GIFT_STACK, ID_GIFT_SEND})
    EXPECT_FALSE(AfxTestAccess::IsMenuItemEnabled(Frame(), nID)) << std::hex << nID;
  ASSERT_NE(Doc()->m_pDib, nullptr);
  const Pixels after = m_session.ViewPixels();
  EXPECT_EQ(after.At(5, 5), before.At(5, 5));
  EXPECT_EQ(after.At(50, 30), before.At(50, 30));

  // The next image is reached with Tab as before.
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return AfxTestAccess::IsMenuItemEnabled(Frame(), ID_GO_NEXT) != FALSE; }));
  Tab();
  ASSERT_TRUE(m_session.WaitForImage(latin1));
  deleteShown(latin1, latin1);
  EXPECT_TRUE(m_session.messages.empty());
}

// Ctrl+Del wherever the photo lies: the trash that takes it, whether the user is asked before it
// goes for good (Enter answers No), whether it stays; Ctrl+Z puts it back unless its name is taken
// (then once it is free again), and never puts back another file that took its place in the trash.
TEST_F(CommandsTest, CtrlDelNeverDeletesForGoodUnaskedAndCtrlZPutsTheFileBack) {
  namespace fs = std::filesystem;
  const ScopedTmpfs volume(m_dir / "v", "size=4m");  // a second file system, as a USB stick's
  enum Setup { kNothing, kNameTaken, kSomeoneElses, kNoTrash, kFolderTookTheName };
  enum Then { kStop, kUndo, kUndoOverANewFile, kUndoOnceTheTrashWasRefilled };
  const struct {
    const char* what;
    bool onVolume, fullScreen;
    Setup setup;
    int answer;                 // to the box; 0: Enter
    const char *said, *trashed;  // how the one box begins, where the file went in its trash; "": none
    bool kept;
    Then then;
  } rows[] = {
      {"home trash", false, false, kNothing, 0, "", "files/a.jpg", false, kUndo},
      {"a name taken in files/", false, false, kNameTaken, 0, "", "files/a.2.jpg", false, kStop},
      {"a trash that cannot be written", false, false, kSomeoneElses, 0, "not deleted: the trash cannot take", "", true, kStop},
      {"the volume's own trash", true, false, kNothing, 0, "", "files/a.jpg", false, kUndo},
      {"no trash there", true, false, kNoTrash, 0, "ごみ箱に移せません", "", true, kStop},
      {"no trash there, full screen", true, true, kNoTrash, 0, "ごみ箱に移せません", "", true, kStop},
      {"no trash there, Yes", true, false, kNoTrash, IDYES, "ごみ箱に移せません", "", false, kStop},
      {"a new file took the name", false, false, kNothing, 0, "", "files/a.jpg", false, kUndoOverANewFile},
      {"the trash emptied, another a.jpg trashed", false, false, kNothing, 0, "", "files/a.jpg", false, kUndoOnceTheTrashWasRefilled},
      {"a folder took the shown name", false, false, kFolderTookTheName, 0, "delete error\n", "", true, kStop},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.onVolume && !volume.Mounted()) continue;  // mounting needs root, as on CI
    const fs::path folder = row.onVolume ? m_dir / "v" : m_dir.Path(), photo = folder / "a.jpg";
    const fs::path trash = row.onVolume ? folder / (".Trash-" + std::to_string(geteuid()))
                                        : fs::path(std::getenv("XDG_DATA_HOME")) / "Trash";
    fs::remove_all(trash);
    if (row.setup == kNoTrash) WriteFile(trash, {});  // a file holds the trash's name
    else fs::create_directories(trash / "files");
    if (row.setup == kNameTaken) WriteFile(trash / "files" / "a.jpg", {1});
    const fs::path files = trash / "files";  // someone else's, or (not root) read-only
    const auto refuse = [&] { return geteuid() == 0 ? chown(files.c_str(), 12345, 12345) : chmod(files.c_str(), 0500); };
    ASSERT_TRUE(row.setup != kSomeoneElses || refuse() == 0);
    RunConvert("-size 60x40 gradient:red-white " + photo.string());
    m_session.messages.clear();
    m_session.messageAnswers = {row.answer};
    ASSERT_TRUE(m_session.Start({photo.string()}));
    ASSERT_TRUE(m_session.WaitForImage("a.jpg"));
    if (row.fullScreen) AfxTestAccess::TriggerMenuItem(Frame(), ID_VIEW_FULL_SCREEN);
    if (row.setup == kFolderTookTheName) {
      fs::remove(photo);
      fs::create_directory(photo);
    }
    PressKey(Frame(), Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(m_session.messages.size(), *row.said != '\0' ? 1u : 0u);
    EXPECT_TRUE(m_session.messages.empty() || m_session.messages[0].starts_with(row.said)) << m_session.messages[0];
    EXPECT_EQ(fs::exists(photo), row.kept);
    EXPECT_EQ(Title(), row.kept ? "a.jpg" : "");
    EXPECT_TRUE(*row.trashed == '\0' || fs::exists(trash / row.trashed));
    if (row.then == kUndoOverANewFile) WriteFile(photo, {2});
    const fs::path other = m_dir / "other" / "a.jpg";  // as a file manager empties the trash and fills it again
    if (row.then == kUndoOnceTheTrashWasRefilled) {
      for (const char* part : {"files", "info"}) fs::remove_all(trash / part);
      fs::create_directories(other.parent_path());
      WriteFile(other, {3});
      ASSERT_EQ(RunProgram({"gio", "trash", other.string()}).status, 0);
    }
    if (row.then != kStop) PressKey(Frame(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(row.then != kUndo ||
                (m_session.WaitForImage("a.jpg") && fs::is_empty(trash / "info") && !fs::exists(trash / row.trashed)));
    EXPECT_TRUE(row.then != kUndoOverANewFile ||
                (m_session.messages.back().starts_with("cannot restore") && fs::exists(trash / row.trashed)));
    if (row.then == kUndoOverANewFile) {  // tried again once the name is free
      fs::remove(photo);
      PressKey(Frame(), Qt::Key_Z, Qt::ControlModifier);
      EXPECT_TRUE(m_session.WaitForImage("a.jpg") && fs::is_empty(trash / "info"));
    }
    if (row.then == kUndoOnceTheTrashWasRefilled) {
      EXPECT_EQ(m_session.messages.back(), "cannot restore\n" + photo.string() + " (no longer in the trash)");
      EXPECT_FALSE(fs::exists(photo));
      EXPECT_EQ(ReadTrashInfo(trash / "info" / "a.jpg.trashinfo").path, (fs::canonical(other.parent_path()) / "a.jpg").string());
      EXPECT_EQ(ReadFile(trash / row.trashed), Bytes{3});
    }
    m_session.Stop();
    fs::remove_all(photo);
  }
}

// Each delete is a step of Undo, taken back newest first, and browsing goes on from the photo put
// back: Tab shows the one after it.
TEST_F(CommandsTest, CtrlZTakesBackEachDeleteNewestFirstAndTabGoesOnFromThePhoto) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) MakeJpeg(name, "red-white");
  StartOn("a.jpg");
  const auto press = [&](int key, int modifiers, const std::string& shown) {
    const auto nextEnabled = [&] { return AfxTestAccess::IsMenuItemEnabled(Frame(), ID_GO_NEXT) != FALSE; };
    ASSERT_TRUE(key != Qt::Key_Tab || ViewerSession::WaitFor(nextEnabled));
    PressKey(Frame(), key, modifiers);
    ASSERT_TRUE(m_session.WaitForImage(shown)) << "title " << Title() << " instead of " << shown;
  };
  const auto deleteShown = [&] { PressKey(Frame(), Qt::Key_Delete, Qt::ControlModifier); };
  press(Qt::Key_Tab, 0, "b.jpg");
  deleteShown();
  press(Qt::Key_Tab, 0, "c.jpg");
  deleteShown();
  press(Qt::Key_Z, Qt::ControlModifier, "c.jpg");
  EXPECT_FALSE(std::filesystem::exists(m_dir / "b.jpg")) << "only the newest delete is taken back";
  press(Qt::Key_Tab, 0, "d.jpg");
  press(Qt::Key_Z, Qt::ControlModifier, "b.jpg");
  press(Qt::Key_Tab, 0, "c.jpg");
  EXPECT_FALSE(AfxTestAccess::IsMenuItemEnabled(Frame(), ID_EDIT_UNDO));
  EXPECT_TRUE(m_session.messages.empty()) << testing::PrintToString(m_session.messages);
}

TEST_F(CommandsTest, DeletingAFileAlreadyGoneReportsItOnTwoLines) {
  MakeJpeg("a.jpg", "red-white");
  StartOn("a.jpg");
  std::filesystem::remove(m_dir / "a.jpg");
  PressKey(Frame(), Qt::Key_Delete, Qt::ControlModifier);
  ASSERT_EQ(m_session.messages.size(), 1u);
  EXPECT_EQ(m_session.messages[0], "delete error\n" + (m_dir / "a.jpg").string());
  EXPECT_EQ(m_session.captions[0], "Vimo V 3.00");
  EXPECT_EQ(Title(), "a.jpg");
}

TEST_F(CommandsTest, SaveAsCopiesTheSourceBytesWhateverTheName) {
  MakeJpeg("a.jpg", "red-white");
  StartOn("a.jpg");
  m_session.fileDialogAnswers.push_back({(m_dir / "copy.bmp").string()});
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_IMAGE_SAVE_AS));
  ASSERT_TRUE(std::filesystem::exists(m_dir / "copy.bmp"));
  EXPECT_EQ(ReadFile(m_dir / "copy.bmp"), ReadFile(m_dir / "a.jpg"));
  const Bytes copy = ReadFile(m_dir / "copy.bmp");
  EXPECT_EQ(copy[0], 0xFF);
  EXPECT_EQ(copy[1], 0xD8);  // still a JPEG
}

// The thumbnail a reader of the desktop's cache finds for path (GLib's), or "" when it finds none.
std::string CachedThumbnailOf(const std::filesystem::path& path) {
  const RunResult info = RunProgram({"gio", "info", "-a", "thumbnail::path,thumbnail::is-valid", path.string()});
  const std::size_t at = info.out.find("thumbnail::path: ");
  return at == std::string::npos || info.out.find("is-valid: TRUE") == std::string::npos
             ? std::string()
             : info.out.substr(at + 17, info.out.find('\n', at) - at - 17);
}

// F2 gives the shown photo a name no file has, and never one that is taken; the title, the browse
// list and its thumbnail in the desktop's cache follow, and Ctrl+Z gives the old name back.
TEST_F(CommandsTest, F2RenamesOnlyToAFreeNameAndCtrlZGivesTheOldNameBack) {
  MakeJpeg("a.jpg", "red-white");
  MakeJpeg("b.jpg", "blue-white");
  const Bytes other = ReadFile(m_dir / "b.jpg");
  StartOn("a.jpg");
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_VIEW_FILM_STRIP));  // makes the thumbnails
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return !CachedThumbnailOf(m_dir / "a.jpg").empty(); }));
  const struct {
    std::string typed;
    const char* said;  // how the one box begins; "": none
  } rows[] = {
      {"b.jpg", "cannot rename, the name is taken (nothing was replaced)"},
      {"x/y.jpg", "a name cannot hold '/'"},
      {"", "a name cannot be empty"},
      {std::string(252, 'n') + ".jpg", "name too long"},
      {"c.jpg", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.typed);
    m_session.messages.clear();
    int rounds = 0;  // a refused name keeps the dialog open: cancelled then
    m_session.dialogHandler = [&](CDialog* pDialog) {
      pDialog->SetDlgItemText(IDC_RENAME_NAME, row.typed.c_str());
      return rounds++ == 0 ? IDOK : IDCANCEL;
    };
    PressKey(Frame(), Qt::Key_F2);
    const bool renamed = *row.said == '\0';
    ASSERT_EQ(m_session.messages.size(), renamed ? 0u : 1u);
    EXPECT_TRUE(renamed || m_session.messages[0].starts_with(row.said)) << m_session.messages[0];
    EXPECT_EQ(ReadFile(m_dir / "b.jpg"), other);
    EXPECT_EQ(fs::exists(m_dir / "a.jpg"), !renamed);
    EXPECT_EQ(Title(), renamed ? row.typed : "a.jpg");
    EXPECT_EQ(Doc()->m_images.Find("a.jpg") < 0, renamed);
    EXPECT_EQ(Doc()->m_images.GetCount(), 2);
  }
  EXPECT_NE(CachedThumbnailOf(m_dir / "c.jpg"), "") << "the thumbnail goes with the name";
  PressKey(Frame(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_TRUE(m_session.WaitForImage("a.jpg"));
  EXPECT_FALSE(fs::exists(m_dir / "c.jpg"));
  EXPECT_EQ(Doc()->m_images.GetCount(), 2);
}

// F8 moves the shown photo into a folder on another file system only once its copy there is
// whole: a file system that fills midway keeps the original. A name taken there is asked about
// (Enter skips; No keeps both), and Ctrl+Z brings the photo back; after F7 it takes the copy away.
TEST_F(CommandsTest, F8MovesAcrossFileSystemsKeepingTheOriginalUntilTheCopyIsWhole) {
  const ScopedTmpfs volume(m_dir / "v", "size=4m");
  const ScopedTmpfs tiny(m_dir / "tiny", "size=64k");
  if (!volume.Mounted() || !tiny.Mounted()) GTEST_SKIP() << "mounting needs root, as on CI";
  const struct {
    const char* what;
    const char* folder;
    bool taken;     // a file of that name is there
    int answer;     // to the question about it; 0: Enter
    const char* said;
    const char* arrived;  // the name the photo has there; "": it stayed
    bool copy = false;    // F7
  } rows[] = {
      {"another file system", "v", false, 0, "", "a.jpg"},
      {"one that fills midway", "tiny", false, 0, "cannot move, the original is kept", ""},
      {"a name taken, Enter", "v", true, 0, "同じ名前のﾌｧｲﾙがあります", ""},
      {"a name taken, keep both", "v", true, IDNO, "同じ名前のﾌｧｲﾙがあります", "a (2).jpg"},
      {"a copy", "v", false, 0, "", "a.jpg", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const fs::path folder = m_dir / row.folder;
    for (const fs::path& each : fs::directory_iterator(folder)) fs::remove(each);
    if (row.taken) WriteFile(folder / "a.jpg", {1});
    RunConvert("-size 300x300 xc:gray +noise Random -quality 98 " + (m_dir / "a.jpg").string());
    const Bytes photo = ReadFile(m_dir / "a.jpg");
    ASSERT_GT(photo.size(), 64u * 1024);
    m_session.messages.clear();
    m_session.messageAnswers = {row.answer};
    m_session.fileDialogAnswers = {{folder.string()}};
    m_session.popupHandler = [](const std::vector<std::string>&) { return ID_FOLDER_CHOOSE; };
    StartOn("a.jpg");
    PressKey(Frame(), row.copy ? Qt::Key_F7 : Qt::Key_F8);
    ASSERT_EQ(m_session.messages.size(), *row.said != '\0' ? 1u : 0u);
    EXPECT_TRUE(m_session.messages.empty() || m_session.messages[0].starts_with(row.said)) << m_session.messages[0];
    const bool moved = *row.arrived != '\0';
    EXPECT_EQ(fs::exists(m_dir / "a.jpg"), !moved || row.copy);
    EXPECT_EQ(ReadFile(moved ? folder / row.arrived : m_dir / "a.jpg"), photo);
    EXPECT_EQ(fs::exists(folder / "a.jpg") ? ReadFile(folder / "a.jpg") : Bytes{}, row.taken ? Bytes{1} : moved ? photo : Bytes{});
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), (row.taken ? 1 : 0) + (moved ? 1 : 0))
        << "nothing half-written is left there";
    EXPECT_TRUE(ViewerSession::WaitFor([&] { return m_session.ProfileText().find("Folder1=" + folder.string()) != std::string::npos; }))
        << "the folder is remembered";
    if (moved) {
      m_session.messages.clear();
      PressKey(Frame(), Qt::Key_Z, Qt::ControlModifier);
      EXPECT_TRUE(m_session.WaitForImage("a.jpg"));
      EXPECT_EQ(ReadFile(m_dir / "a.jpg"), photo);
      EXPECT_FALSE(fs::exists(folder / row.arrived));
      EXPECT_TRUE(m_session.messages.empty()) << m_session.messages[0];
    }
    m_session.Stop();
  }
}

TEST_F(CommandsTest, ArrowKeysScrollByAPage) {
  MakeJpeg("big.jpg", "red-blue", "800x600");
  StartOn("big.jpg");
  CVimoView* pView = m_session.View();
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return pView->GetTotalSize().cx == 800; }));
  pView->GetWidget()->setFocus();

  const struct {
    int key;
    CPoint expected;
  } steps[] = {
      {Qt::Key_Right, {120, 0}}, {Qt::Key_Right, {240, 0}}, {Qt::Key_Down, {240, 140}},
      {Qt::Key_Left, {120, 140}}, {Qt::Key_Up, {120, 0}},
  };
  for (const auto& step : steps) {
    PressKey(Frame(), step.key);
    const CPoint at = pView->GetScrollPosition();
    EXPECT_EQ(at.x, step.expected.x) << "key " << step.key;
    EXPECT_EQ(at.y, step.expected.y) << "key " << step.key;
  }
}

TEST(DropBlock, HoldsOnePathAsAnAnsiFileList) {
  const std::string path = "/home/user/写真/photo 1.jpg";
  HGLOBAL hDrop = CVimoView::CreateDropFiles(path.c_str());
  ASSERT_NE(hDrop, nullptr);
  ASSERT_EQ(GlobalSize(hDrop), path.size() + 22);
  const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(hDrop));
  const auto u32 = [bytes](size_t at) {
    return static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24);
  };
  const struct {
    size_t offset;
    std::uint32_t value;
    const char* field;
  } header[] = {{0, 20, "pFiles"}, {4, 0, "pt.x"}, {8, 0, "pt.y"}, {12, 0, "fNC"}, {16, 0, "fWide"}};
  for (const auto& field : header) EXPECT_EQ(u32(field.offset), field.value) << field.field;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes) + 20, path.size()), path);
  EXPECT_EQ(bytes[20 + path.size()], 0);
  EXPECT_EQ(bytes[21 + path.size()], 0);
  GlobalUnlock(hDrop);
  EXPECT_EQ(COleDataSource::FilesOfDropBlock(hDrop), std::vector<std::string>{path});
  GlobalFree(hDrop);
}

TEST_F(CommandsTest, DraggedFileDroppedOnTheViewerItselfOpensNothing) {
  MakeJpeg("a.jpg", "red-white");
  MakeJpeg("b.jpg", "blue-white");
  StartOn("a.jpg");
  std::vector<std::string> offered;
  int draggingDuringDrop = -1;
  CDocument* dropResult = reinterpret_cast<CDocument*>(1);
  AfxTestAccess::SetDragDropHook([&](const std::vector<std::string>& files, DWORD effects) -> DROPEFFECT {
    offered = files;
    EXPECT_EQ(effects, DROPEFFECT_COPY | DROPEFFECT_MOVE);
    draggingDuringDrop = g_bDragging;
    dropResult = theApp.OpenDocumentFile(files.at(0).c_str());
    return DROPEFFECT_COPY;
  });

  ClickView(m_session.View(), 10, 10, /*bRelease=*/false);
  AfxTestAccess::SetDragDropHook(nullptr);
  EXPECT_EQ(offered, std::vector<std::string>{(m_dir / "a.jpg").string()});
  EXPECT_EQ(draggingDuringDrop, 1);
  EXPECT_EQ(dropResult, nullptr);
  EXPECT_EQ(g_bDragging, 1) << "cleared only by the posted button-up";
  EXPECT_TRUE(ViewerSession::WaitFor([] { return g_bDragging == 0; }));
  EXPECT_EQ(Title(), "a.jpg");

  // Once the drag is over, a drop of the same file opens it again.
  EXPECT_NE(theApp.OpenDocumentFile((m_dir / "b.jpg").string().c_str()), nullptr);
}

// A file another start hands over while the shown image is dragged out waits for the drag's end.
TEST_F(CommandsTest, FileHandedOverDuringADragIsOpenedOnceTheDragHasEnded) {
  MakeJpeg("a.jpg", "red-white");
  MakeJpeg("b.jpg", "blue-white");
  const TempDir runtime;
  const ScopedEnv runtimeFolder("XDG_RUNTIME_DIR", runtime.Path().c_str());
  StartOn("a.jpg");
  int status = -1;
  AfxTestAccess::SetDragDropHook([&](const std::vector<std::string>&, DWORD) -> DROPEFFECT {
    // The drag's own loop runs on while the other start hands b.jpg over and ends.
    auto start = std::async(std::launch::async, [&] { return RunProgram({ViewerProgram(), (m_dir / "b.jpg").string()}); });
    ViewerSession::WaitFor([&] { return start.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    status = start.get().status;
    return DROPEFFECT_COPY;
  });
  ClickView(m_session.View(), 10, 10, /*bRelease=*/false);
  AfxTestAccess::SetDragDropHook(nullptr);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(m_session.WaitForImage("b.jpg"));
}

TEST_F(CommandsTest, ButtonDownWithoutATitleStartsNoDrag) {
  MakeJpeg("a.jpg", "red-white");
  StartOn("a.jpg");
  Doc()->SetTitle("");
  bool dragged = false;
  AfxTestAccess::SetDragDropHook([&](const std::vector<std::string>&, DWORD) -> DROPEFFECT {
    dragged = true;
    return DROPEFFECT_NONE;
  });
  ClickView(m_session.View(), 10, 10);
  AfxTestAccess::SetDragDropHook(nullptr);
  EXPECT_FALSE(dragged);
  EXPECT_EQ(g_bDragging, 0);
}

// ---- print and wallpaper ------------------------------------------------------------------------

constexpr int kPageDpi = 48;
constexpr Rgb kRed{220, 30, 30}, kGreen{30, 200, 60}, kBlue{30, 60, 220}, kYellow{240, 220, 40};

// A page as poppler renders it, and the box of all that is printed on it (not white).
struct PrintedPage {
  DecodedImage page;
  int left = INT_MAX, top = INT_MAX, right = 0, bottom = 0;
  explicit PrintedPage(const std::filesystem::path& pdf) : page(RenderPdfPage(pdf, kPageDpi)) {
    for (int y = 0; y < page.height; ++y) {
      for (int x = 0; x < page.width; ++x) {
        if (Near(At(x, y), Rgb{255, 255, 255}, 10)) continue;
        left = std::min(left, x), top = std::min(top, y), right = std::max(right, x + 1), bottom = std::max(bottom, y + 1);
      }
    }
  }
  Rgb At(int x, int y) const { return page.pixels[static_cast<std::size_t>(y * page.width + x)]; }
  // A point of the picture, as a share of its width and height.
  Rgb AtShare(double fx, double fy) const { return At(left + static_cast<int>(fx * (right - left)), top + static_cast<int>(fy * (bottom - top))); }
  double Aspect() const { return static_cast<double>(right - left) / (bottom - top); }
  bool Centred() const { return std::abs(left - (page.width - right)) <= 2 && std::abs(top - (page.height - bottom)) <= 2; }
  static bool Near(Rgb a, Rgb b, int most = 48) {
    return std::abs(a.red - b.red) < most && std::abs(a.green - b.green) < most && std::abs(a.blue - b.blue) < most;
  }
};

// The page shows the photo as the view shows it: upright by its EXIF orientation or the user's
// turn, on a page turned to its shape, at its own aspect; from the grid, the focused photo.
TEST_F(CommandsTest, PrintPutsThePhotoOnThePageAsTheViewShowsIt) {
  const struct {
    const char* name;
    int orientation;
    bool turnRight, fromGrid;  // R before printing; Ctrl+P in the grid, on the last photo
    bool landscape;
    Rgb corners[4];  // top left, top right, bottom left, bottom right
  } rows[] = {
      {"wide.jpg", 1, false, false, true, {kRed, kGreen, kBlue, kYellow}},
      {"sideways.jpg", 6, false, false, false, {kBlue, kRed, kYellow, kGreen}},
      {"turned.jpg", 1, true, false, false, {kBlue, kRed, kYellow, kGreen}},
      {"z-sideways.jpg", 6, false, true, false, {kBlue, kRed, kYellow, kGreen}},
  };
  MakeQuadrantJpeg(m_dir / "plain.jpg", 300, 200, kRed, kGreen, kBlue, kYellow);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFile(m_dir / row.name, WithExifOrientation(ReadFile(m_dir / "plain.jpg"), row.orientation));
    ViewerSession session;
    ASSERT_TRUE(session.Start({(m_dir / (row.fromGrid ? "plain.jpg" : row.name)).string()}));
    ASSERT_TRUE(session.WaitForImage(row.fromGrid ? "plain.jpg" : row.name));
    if (row.turnRight) PressKey(session.Frame(), Qt::Key_R);
    if (row.fromGrid) {
      ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(session.Frame(), ID_VIEW_GRID));
      PressKey(session.Frame(), Qt::Key_End);
    }
    const std::filesystem::path pdf = m_dir / (std::string(row.name) + ".pdf");
    session.printAnswers = {{pdf.string(), -1}};
    ASSERT_TRUE(AfxTestAccess::PressAccelerator(session.Frame(), "Ctrl+P"));
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return std::filesystem::exists(pdf) || !session.messages.empty(); }));
    ASSERT_TRUE(session.messages.empty()) << session.messages[0];
    EXPECT_EQ(session.Doc()->GetTitle().str(), row.name);
    const PrintedPage printed(pdf);
    EXPECT_EQ(printed.page.width > printed.page.height, row.landscape);
    EXPECT_NEAR(printed.Aspect(), row.landscape ? 1.5 : 2.0 / 3.0, 0.03);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(PrintedPage::Near(printed.AtShare(0.25 + i % 2 * 0.5, 0.25 + i / 2 * 0.5), row.corners[i])) << i;
  }
}

// Fitted to the page and centred unless the user chooses otherwise: at its own size (a pixel a
// 1/96 inch) or filling the page, which cuts what does not fit.
TEST_F(CommandsTest, PrintPlacesThePhotoAsTheUserChose) {
  MakeQuadrantJpeg(m_dir / "a.jpg", 300, 200, kRed, kGreen, kBlue, kYellow);
  StartOn("a.jpg");
  const struct {
    const char* what;
    int choice, keepsAspect, width;  // width at kPageDpi; 0: larger than at its own size
  } rows[] = {
      {"fitted", -1, true, 0}, {"own size", 1, true, 300 * kPageDpi / 96}, {"filling", 2, false, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::filesystem::path pdf = m_dir / (std::string(row.what) + ".pdf");
    m_session.printAnswers = {{pdf.string(), row.choice}};
    ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_IMAGE_PRINT));
    const PrintedPage printed(pdf);
    EXPECT_TRUE(printed.Centred());
    EXPECT_EQ(std::abs(printed.Aspect() - 1.5) < 0.03, row.keepsAspect != 0);
    if (row.width > 0) EXPECT_NEAR(printed.right - printed.left, row.width, 2);
    else EXPECT_GT(printed.right - printed.left, 300 * kPageDpi / 96 + 4);
  }
}

// The desktop is handed a copy under the user's data folder (the same bytes), through the
// portal; where no portal sets it and the desktop has no way of its own, the user is told.
TEST_F(CommandsTest, SetAsWallpaperHandsTheDesktopACopyOrSaysWhyNot) {
  PortalStandIn& portal = PortalStandIn::Get();
  unsetenv("XDG_CURRENT_DESKTOP");
  MakeJpeg("a.jpg", "red-white"), MakeJpeg("b.jpg", "blue-white");
  StartOn("a.jpg");
  const std::filesystem::path folder = std::filesystem::path(std::getenv("XDG_DATA_HOME")) / "vimo" / "wallpaper";
  const struct {
    const char *what, *answer;
    bool grid;  // through the grid's context menu, for the focused photo
    const char* photo;
    bool told;
  } rows[] = {
      {"portal sets it", "0", false, "a.jpg", false},
      {"portal without a backend", "unknown", false, "a.jpg", true},
      {"portal fails", "2", false, "a.jpg", true},
      {"from the grid", "0", true, "b.jpg", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    portal.Answer(row.answer);
    const std::size_t calls = portal.Calls().size();
    m_session.messages.clear();
    if (row.grid) {
      ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_VIEW_GRID));
      PressKey(Frame(), Qt::Key_End);
      m_session.popupMenuAnswers = {ID_IMAGE_WALLPAPER};
      Frame()->GetActiveView()->SendMessage(WM_CONTEXTMENU, 0, MAKELPARAM(0xFFFF, 0xFFFF));
    } else {
      ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_IMAGE_WALLPAPER));
    }
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return portal.Calls().size() > calls && (!row.told || !m_session.messages.empty()); }));
    const std::string call = portal.Calls().back();
    EXPECT_NE(call.find("'show-preview': False"), std::string::npos) << call;
    EXPECT_NE(call.find("'set-on': 'background'"), std::string::npos) << call;
    const std::string uri = call.substr(0, call.find('\t'));
    ASSERT_TRUE(uri.starts_with(FileUrlOf(folder.string()) + "/")) << uri;
    EXPECT_EQ(ReadFile(folder / uri.substr(uri.rfind('/') + 1)), ReadFile(m_dir / row.photo));
    EXPECT_EQ(m_session.messages.size(), row.told ? 1U : 0U);
    // Once the desktop took it, only that copy stays; the next has another name.
    const auto copies = [&] { return std::distance(std::filesystem::directory_iterator(folder), {}); };
    EXPECT_TRUE(row.told || ViewerSession::WaitFor([&] { return copies() == 1; }));
  }
  EXPECT_NE(portal.Calls()[0].substr(0, portal.Calls()[0].find('\t')), portal.Calls()[1].substr(0, portal.Calls()[1].find('\t')));
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
