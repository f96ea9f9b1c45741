// File names are bytes: any byte but '/' and NUL. Every way a path reaches the viewer (command
// line, a second start, a drop, the recent-file list, the file dialogs) and every file it writes
// (profile, desktop entry, screenshot) keeps those bytes, or refuses the name with a message.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "afx/QtBridge.h"
#include "res/Resource.h"
#include "support/ui/ScreenViewer.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

const std::string kLatin1 = "caf\xE9.bmp";         // written by a Latin-1 system
const std::string kLineBreak = "two\nlines.bmp";   // a name with a line break
const std::string kTwin = "caf\xEF\xBF\xBD.bmp";   // what Qt makes of kLatin1: U+FFFD in UTF-8

// The folder of a test holds a.bmp, b.bmp and the odd names above.
class PathBytesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsigned seed = 1;
    for (const std::string& name : {std::string("a.bmp"), std::string("b.bmp"), kLatin1, kLineBreak})
      WriteFile(m_dir / name, MakeBmp24(20, 10, Pattern(20, 10, seed++)));
  }
  void TearDown() override { fs::current_path(m_startFolder); }

  // Paths below the folder as the kernel gives the current folder: links resolved.
  std::string PathOf(const std::string& name) const { return (m_root / name).string(); }
  std::string ShownPath() const { return m_session.Doc() != nullptr ? m_session.Doc()->GetPathName().str() : ""; }

  const fs::path m_startFolder = fs::current_path();
  TempDir m_dir;
  const fs::path m_root = fs::canonical(m_dir.Path());
  ViewerSession m_session;
};

TEST(DisplayText, ShowsUtf8AndEveryOtherByteAsItsCode) {
  const struct {
    const char* bytes;
    const char* shown;  // UTF-8
  } cases[] = {
      {"写真 01.jpg", "写真 01.jpg"},
      {"caf\xE9.jpg", "caf\\xE9.jpg"},
      {"\x8F\x74\x82\xCC.jpg", "\\x8Ft\\x82\\xCC.jpg"},   // Shift_JIS: only ASCII survives as is
      {"変換 caf\xE9", "変換 caf\\xE9"},                   // a message joins texts and names
      {"\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80", "\\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80"},
      {"end \xE5\x86", "end \\xE5\\x86"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(AfxToQString(c.bytes), QString::fromUtf8(c.shown));
  }
}

TEST_F(PathBytesTest, CommandLinePathsOpenByTheirExactBytes) {
  const fs::path oddFolder = m_root / "sub\xFF";
  fs::create_directory(oddFolder);
  fs::copy_file(m_dir / kLatin1, oddFolder / kLatin1);
  const struct {
    fs::path folder;  // the shell's folder
    std::string argument;
    std::string path;  // what is shown
  } cases[] = {
      {m_root, kLatin1, PathOf(kLatin1)},
      {oddFolder, "../" + kLatin1, PathOf(kLatin1)},
      {oddFolder, "./" + kLatin1, (oddFolder / kLatin1).string()},
      {"/", PathOf("sub\xFF//.//../" + kLatin1), PathOf(kLatin1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argument);
    fs::current_path(c.folder);
    ASSERT_TRUE(m_session.Start({c.argument}));
    const std::string name = c.path.substr(c.path.rfind('/') + 1);
    EXPECT_TRUE(m_session.WaitForImage(name, 10000));
    EXPECT_EQ(ShownPath(), c.path);
    EXPECT_EQ(std::string(m_session.Doc()->m_szFolder), c.path.substr(0, c.path.rfind('/') + 1));
    EXPECT_EQ(m_session.Frame()->GetWindowText().str(), name + " - Vimo");
    EXPECT_TRUE(m_session.messages.empty());
    m_session.Stop();
  }
}

TEST_F(PathBytesTest, SecondStartsHandOverTheExactPath) {
  const TempDir runtime;
  setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
  ASSERT_TRUE(m_session.Start({PathOf("a.bmp")}));
  for (const std::string& name : {kLatin1, kLineBreak}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(RunProgram({ViewerProgram(), PathOf(name)}).status, 0);
    EXPECT_TRUE(m_session.WaitForImage(name, 10000));
    EXPECT_EQ(ShownPath(), PathOf(name));
  }
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(PathBytesTest, DroppedFileUrlsOpenTheirExactBytes) {
  WriteFile(m_dir / "100%#?.bmp", MakeBmp24(20, 10, Pattern(20, 10, 9)));
  const QByteArray folder = AfxUriListOfFiles({m_root.string()}).chopped(2).mid(7);  // percent-encoded
  const struct {
    QByteArray uriList;
    std::string opened;  // empty: nothing is opened
  } cases[] = {
      {AfxUriListOfFiles({PathOf(kLatin1)}), PathOf(kLatin1)},
      {AfxUriListOfFiles({PathOf("100%#?.bmp")}), PathOf("100%#?.bmp")},
      {"file://localhost" + folder + "/two%0Alines.bmp\r\n", PathOf(kLineBreak)},
      {"file://elsewhere" + folder + "/b.bmp\r\n", ""},      // another machine's file
      {"file://" + folder + "/b.bmp%00.txt\r\n", ""},         // a NUL would cut the name
  };
  ASSERT_TRUE(m_session.Start({PathOf("a.bmp")}));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uriList.toStdString());
    const std::string before = ShownPath();
    AfxTestAccess::DropUriList(m_session.Frame(), c.uriList);
    EXPECT_EQ(ShownPath(), c.opened.empty() ? before : c.opened);
  }
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(PathBytesTest, RecentFilesShowReadableNamesAndOpenTheStoredBytes) {
  ASSERT_TRUE(m_session.Start({PathOf(kLatin1)}));
  ASSERT_TRUE(m_session.WaitForImage(kLatin1, 10000));
  theApp.OpenDocumentFile(PathOf("b.bmp").c_str());
  ASSERT_TRUE(m_session.WaitForImage("b.bmp", 10000));
  const std::vector<CString> menu = AfxTestAccess::GetMenuItems(m_session.Frame(), 0);
  const std::string shown = "&2 " + m_root.string() + "/caf\\xE9.bmp|" + std::to_string(ID_FILE_MRU_FILE1 + 1);
  EXPECT_NE(std::find(menu.begin(), menu.end(), CString(shown)), menu.end());
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_FILE_MRU_FILE1 + 1));
  EXPECT_TRUE(m_session.WaitForImage(kLatin1, 10000));
  EXPECT_EQ(ShownPath(), PathOf(kLatin1));
  m_session.Stop();
  EXPECT_NE(m_session.ProfileText().find("File1=" + PathOf(kLatin1) + "\n"), std::string::npos);
}

TEST_F(PathBytesTest, FilesTheProgramWritesLandAtTheirExactPaths) {
  const fs::path config = m_dir / "config\xE9";
  const fs::path data = m_dir / "data\xE9";
  const fs::path shot = m_dir / "shot\xE9.png";
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  ASSERT_TRUE(m_session.Start({PathOf("a.bmp")}));
  m_session.Stop();
  const RunResult run = RunProgram({ViewerProgram(), "--screenshot", shot.string(), PathOf("a.bmp")});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const fs::path& written : {config / "vimo.ini", data / "applications" / "vimo.desktop", shot}) {
    SCOPED_TRACE(written.string());
    EXPECT_TRUE(fs::is_regular_file(written));
  }
  // Nothing went to a name that Qt made of them.
  for (const char* twin : {"config\xEF\xBF\xBD", "data\xEF\xBF\xBD", "shot\xEF\xBF\xBD.png"})
    EXPECT_FALSE(fs::exists(m_dir / twin)) << twin;
}

// Qt's own file dialog, answered as the user would: the name field set (or left as it was
// given), then accepted. Boxes that come up are read and closed.
class RealDialogs {
 public:
  explicit RealDialogs(const QString& typed) : m_typed(typed) {
    AfxSetModalHook(nullptr);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Answer(); });
    m_timer.start(10);
  }
  ~RealDialogs() { m_timer.stop(); }
  std::vector<std::string> messages;

 private:
  void Answer() {
    QWidget* pModal = QApplication::activeModalWidget();
    if (auto* pBox = qobject_cast<QMessageBox*>(pModal)) {
      messages.push_back(pBox->text().toStdString());
      pBox->accept();
      return;
    }
    auto* pDialog = qobject_cast<QFileDialog*>(pModal);
    if (pDialog == nullptr) return;
    if (pDialog == m_answered) {
      // Still open: the dialog did not take the answer. Cancelled, so the test fails, not hangs.
      QMetaObject::invokeMethod(pDialog, "reject");
      return;
    }
    m_answered = pDialog;
    // Typed into the name field, as the user does.
    auto* pName = pDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!m_typed.isEmpty() && pName != nullptr) pName->setText(m_typed);
    QMetaObject::invokeMethod(pDialog, "accept");  // as the dialog's own button does
  }
  QString m_typed;
  QTimer m_timer;
  QPointer<QFileDialog> m_answered;
};

TEST_F(PathBytesTest, FileDialogNamesThatCannotComeBackExactAreRefused) {
  const struct {
    const char* what;
    UINT command;
    const char* typed;   // UTF-8; empty: the name the dialog was given
    bool twin;           // kTwin is there too: Qt shows both names alike
    std::string shown;   // the image shown afterwards
    std::string written; // a file Save As made; empty: none
  } cases[] = {
      {"Save As keeps a name Qt cannot show", ID_IMAGE_SAVE_AS, "", false, PathOf(kLatin1), ""},
      {"Open picks the name Qt shows for two files", ID_IMAGE_OPEN, "caf\xEF\xBF\xBD.bmp", true, PathOf(kLatin1), ""},
      {"Save As to a UTF-8 name", ID_IMAGE_SAVE_AS, "写真.bmp", false, PathOf(kLatin1), "写真.bmp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.twin) WriteFile(m_dir / kTwin, MakeBmp24(20, 10, Pattern(20, 10, 7)));
    fs::current_path(m_root);
    const auto before = std::distance(fs::directory_iterator(m_root), fs::directory_iterator());
    ViewerSession session;
    ASSERT_TRUE(session.Start({PathOf(kLatin1)}));
    ASSERT_TRUE(session.WaitForImage(kLatin1, 10000));
    RealDialogs dialogs(QString::fromUtf8(c.typed));
    ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(session.Frame(), c.command));
    if (c.written.empty()) {
      const std::string last = dialogs.messages.empty() ? "" : dialogs.messages.back();
      EXPECT_NE(last.find("not UTF-8"), std::string::npos) << last;
    } else {
      EXPECT_TRUE(dialogs.messages.empty());
      EXPECT_EQ(ReadFile(m_dir / c.written), ReadFile(m_dir / kLatin1));
    }
    EXPECT_EQ(ShownPath(), c.shown);
    const auto after = std::distance(fs::directory_iterator(m_root), fs::directory_iterator());
    EXPECT_EQ(after, before + (c.written.empty() ? 0 : 1));
    session.Stop();
    if (!c.written.empty()) fs::remove(m_dir / c.written);
    fs::remove(m_dir / kTwin);
  }
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
