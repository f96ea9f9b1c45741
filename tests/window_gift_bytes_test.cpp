// Bytes that cross into Qt and out again, as Image Gift and the drag rely on: settings in edit
// controls, file names in a drag's URL list, and the words of a started program's command line.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "afx/QtBridge.h"
#include "support/ui/UserInput.h"
#include "support/ui/ViewerSession.h"
#include "win32/Kernel.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

const std::string kShiftJisSubject = "\x8F\x74\x82\xCC\x8E\xCA\x90\x5E";  // 春の写真 in Shift_JIS

TEST(EditBytes, ControlsGiveBackTheirBytesUnlessEditedAndEditsKeepTheEncoding) {
  struct Case {
    const char* what;
    std::string given;
    bool multiLine;
    const char* appended;  // typed at the end, UTF-8; nullptr: not edited
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"UTF-8, untouched", "写真 <a@example.jp>", false, nullptr, "写真 <a@example.jp>"},
      {"Shift_JIS, untouched", kShiftJisSubject, false, nullptr, kShiftJisSubject},
      {"Shift_JIS lines and a lone LF, untouched", kShiftJisSubject + "\r\nx\ny\r\n", true, nullptr,
       kShiftJisSubject + "\r\nx\ny\r\n"},
      {"neither encoding, untouched", "\xFF\xFE\x80 abc", false, nullptr, "\xFF\xFE\x80 abc"},
      {"Shift_JIS, edited", kShiftJisSubject, false, "!です", kShiftJisSubject + "!\x82\xC5\x82\xB7"},
      {"Shift_JIS, edited beyond Shift_JIS", kShiftJisSubject, false, "😀", "春の写真😀"},
      {"empty, edited", "", false, "写真", "写真"},
      {"UTF-8 lines, edited", "a\r\nb", true, "\nc", "a\r\nb\r\nc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<QWidget> edit;
    if (c.multiLine) edit = std::make_unique<QPlainTextEdit>();
    else edit = std::make_unique<QLineEdit>();
    AfxSetEditBytes(edit.get(), c.given.c_str());
    if (c.appended != nullptr) TypeInEdit(edit.get(), c.appended, true);
    EXPECT_EQ(AfxGetEditBytes(edit.get()).str(), c.expected);
  }

  // What the user reads of a Shift_JIS setting.
  QLineEdit shown;
  AfxSetEditBytes(&shown, kShiftJisSubject.c_str());
  EXPECT_EQ(shown.text(), QString::fromUtf8("春の写真"));
}

TEST(DragBytes, TheUriListCarriesEveryByteOfTheName) {
  EXPECT_EQ(AfxUriListOfFiles({"/p/caf\xE9 x.jpg"}).toStdString(), "file:///p/caf%E9%20x.jpg\r\n");
  const std::vector<std::string> names = {"/p/caf\xE9 x.jpg", "/写真/春 01.jpg", "/p/100%#?&+.jpg",
                                          "/p/\x8F\x74.jpg"};
  // A drop target reads the list back as URLs; their paths, percent-decoded, are the names.
  QMimeData data;
  data.setData(QStringLiteral("text/uri-list"), AfxUriListOfFiles(names));
  const QList<QUrl> urls = data.urls();
  ASSERT_EQ(urls.size(), static_cast<qsizetype>(names.size()));
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(urls[i].scheme(), "file");
    EXPECT_EQ(QByteArray::fromPercentEncoding(urls[i].path(QUrl::FullyEncoded).toLatin1()).toStdString(), names[i]);
  }
}

TEST(StartedPrograms, GetTheWordsOfTheCommandLineByteForByte) {
  const TempDir folder;
  const fs::path script = folder / "words.sh";
  const fs::path words = folder / "words.txt";
  WriteText(script, "printf '%s\\n' \"$@\" > '" + words.string() + ".tmp'\nmv '" + words.string() + ".tmp' '" +
                        words.string() + "'\n");
  const std::string command = "sh " + script.string() + " caf\xE9  two\tthree \x8F\x74";
  ASSERT_GT(WinExec(command.c_str(), 0), 31u);
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return fs::exists(words); }));
  EXPECT_EQ(TextOfFile(words), "caf\xE9\ntwo\nthree\n\x8F\x74\n");
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
