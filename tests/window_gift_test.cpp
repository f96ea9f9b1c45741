// Image Gift through the real window: stacking with F5, sending with F12 through a stand-in
// sender program, the settings dialog and its checks, and the settings file at exit.
#include <gtest/gtest.h>

#include <QTest>

#include <set>

#include "app/Globals.h"
#include "res/Resource.h"
#include "support/ui/UserInput.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

const char* const kCompleteSettings =
    "\tServer\tsmtp.example.jp\r\n\tTo\r\nalice@example.jp\r\nbob@example.jp\r\n\r\n"
    "\tFrom\tme@example.jp\r\n\tSubject\tPhotos\r\n\tBody\r\nHello\r\n\r\nBye";

class GiftTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_exeDir = m_dir / "app";
    fs::create_directories(m_exeDir);
    fs::create_directories(m_dir / "pics");
    AfxTestAccess::SetExecutablePath((m_exeDir / "vimo").c_str());
    const char* colours[] = {"red-white", "green-white", "blue-white"};
    for (int i = 0; i < 3; ++i) {
      RunConvert(std::string("-size 60x40 gradient:") + colours[i] + " " + Pic(i).string());
    }
  }

  void TearDown() override {
    if (m_session.Running()) m_session.Stop();
    AfxTestAccess::SetExecutablePath(nullptr);
  }

  fs::path Pic(int i) const { return m_dir / "pics" / (std::string(1, static_cast<char>('a' + i)) + ".jpg"); }

  void WriteSettings(const std::string& text) const { WriteText(m_exeDir / "vimo.txt", text); }

  // A sender that records its command line and keeps a copy of the job file, then deletes the
  // job file as the real one does with /d.
  void InstallStandInSender() const {
    const fs::path script = m_exeDir / "Postmx.exe";
    WriteText(script,
              "#!/bin/sh\n"
              "printf '%s\\n' \"$@\" > \"" + (m_exeDir / "args.txt").string() + ".tmp\"\n"
              "cp \"$2\" \"" + (m_exeDir / "job.txt").string() + "\"\n"
              "rm -f \"$2\"\n"
              "mv \"" + (m_exeDir / "args.txt").string() + ".tmp\" \"" + (m_exeDir / "args.txt").string() + "\"\n");
    fs::permissions(script, fs::perms::owner_all);
  }

  // With complete settings and the stand-in sender: stacks a.jpg and b.jpg, then shows c.jpg.
  void StackTwoAndShowTheThird() {
    WriteSettings(kCompleteSettings);
    InstallStandInSender();
    StartOnFirst();
    PressKey(Frame(), Qt::Key_F5);
    TabTo("b.jpg");
    PressKey(Frame(), Qt::Key_F5);
    TabTo("c.jpg");
  }

  void StartOnFirst() {
    ASSERT_TRUE(m_session.Start({Pic(0).string()}));
    ASSERT_TRUE(m_session.WaitForImage("a.jpg"));
  }

  void TabTo(const std::string& title) {
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return AfxTestAccess::IsMenuItemEnabled(Frame(), ID_GO_NEXT) != FALSE; }));
    PressKey(Frame(), Qt::Key_Tab);
    ASSERT_TRUE(m_session.WaitForImage(title));
  }

  CMainFrame* Frame() { return m_session.Frame(); }
  CVimoView* View() { return m_session.View(); }

  TempDir m_dir;
  fs::path m_exeDir;
  ViewerSession m_session;
};

TEST_F(GiftTest, StackMarksTheShownImageOnce) {
  StartOnFirst();
  PressKey(Frame(), Qt::Key_F5);
  EXPECT_EQ(GiftStateOf(Pic(0)), 1);
  EXPECT_EQ(View()->m_gift.m_mapStack.GetCount(), 1);
  PressKey(Frame(), Qt::Key_F5);
  EXPECT_EQ(View()->m_gift.m_mapStack.GetCount(), 1) << "the stack is a set";
  EXPECT_EQ(GiftStateOf(Pic(1)), -1);
}

TEST_F(GiftTest, SendAttachesTheStackAndTheShownImageAndWritesTheJobFile) {
  StackTwoAndShowTheThird();
  PressKey(Frame(), Qt::Key_F12);
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return fs::exists(m_exeDir / "args.txt"); }));

  const std::vector<std::string> args = Split(TextOfFile(m_exeDir / "args.txt"), "\n");
  ASSERT_GE(args.size(), 2u);
  EXPECT_EQ(args[0], "/d");
  EXPECT_EQ(fs::path(args[1]).parent_path().string() + "/", [] {
    char folder[256];
    GetTempPathA(sizeof(folder), folder);
    return std::string(folder);
  }());
  EXPECT_EQ(fs::path(args[1]).filename().string().rfind("VIM", 0), 0u);

  const std::string job = TextOfFile(m_exeDir / "job.txt");
  const std::vector<std::string> lines = Split(job, "\r\n");
  ASSERT_EQ(lines.size(), 9u) << job;
  EXPECT_EQ(lines[0], (m_exeDir / "vimolog.txt").string());
  EXPECT_EQ(lines[1], "smtp.example.jp");
  EXPECT_EQ(lines[2], "alice@example.jp\tbob@example.jp");
  EXPECT_EQ(lines[3], "me@example.jp");
  EXPECT_EQ(lines[4], "Photos");
  const std::vector<std::string> attached = Split(lines[5], "\t");
  EXPECT_EQ(std::set<std::string>(attached.begin(), attached.end()),
            (std::set<std::string>{Pic(0).string(), Pic(1).string(), Pic(2).string()}));
  EXPECT_EQ(lines[6], "Hello");
  EXPECT_EQ(lines[7], "");
  EXPECT_EQ(lines[8], "Bye");

  for (int i = 0; i < 3; ++i) EXPECT_EQ(GiftStateOf(Pic(i)), 0) << Pic(i);
  EXPECT_EQ(View()->m_gift.m_mapStack.GetCount(), 0);
  EXPECT_TRUE(m_session.messages.empty());

  // A sent image can be stacked again.
  PressKey(Frame(), Qt::Key_F5);
  EXPECT_EQ(GiftStateOf(Pic(2)), 1);
}

TEST_F(GiftTest, SendWithoutTheSenderReportsItAndKeepsTheStackForAnotherTry) {
  WriteSettings(kCompleteSettings);
  StartOnFirst();
  PressKey(Frame(), Qt::Key_F5);
  TabTo("b.jpg");
  const std::vector<std::string> before = JobFilesInTempFolder();
  PressKey(Frame(), Qt::Key_F12);
  ASSERT_EQ(m_session.messages.size(), 1u);
  EXPECT_EQ(m_session.messages[0], "Postmx.exe cannot start");
  EXPECT_EQ(JobFilesInTempFolder(), before) << "no job file left behind";
  EXPECT_EQ(GiftStateOf(Pic(0)), 1) << "nothing was sent: still stacked";
  EXPECT_EQ(GiftStateOf(Pic(1)), -1) << "the shown image was never stacked";
  EXPECT_EQ(View()->m_gift.m_mapStack.GetCount(), 1);

  // With the sender in place the same keys send both.
  InstallStandInSender();
  PressKey(Frame(), Qt::Key_F12);
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return fs::exists(m_exeDir / "args.txt"); }));
  EXPECT_EQ(GiftStateOf(Pic(0)), 0);
  EXPECT_EQ(GiftStateOf(Pic(1)), 0);
  EXPECT_EQ(View()->m_gift.m_mapStack.GetCount(), 0);
}

TEST_F(GiftTest, IncompleteSettingsOpenTheDialogAndSendNothing) {
  WriteSettings("\tServer\tsmtp.example.jp\r\n\tTo\r\n\r\n\r\n\tFrom\tme@example.jp\r\n");
  InstallStandInSender();
  StartOnFirst();
  PressKey(Frame(), Qt::Key_F5);
  m_session.dialogHandler = [](CDialog* pDialog) {
    pDialog->SetDlgItemText(1000, "alice@example.jp");
    return IDOK;
  };
  PressKey(Frame(), Qt::Key_F12);
  ASSERT_EQ(m_session.dialogs.size(), 1u);
  EXPECT_EQ(m_session.dialogs[0], "Image Gift 設定");
  EXPECT_EQ(g_strTo, "alice@example.jp") << "the dialog's OK still takes the settings";
  EXPECT_FALSE(fs::exists(m_exeDir / "args.txt"));
  EXPECT_EQ(GiftStateOf(Pic(0)), 1) << "still stacked, not sent";
  EXPECT_EQ(View()->m_gift.m_mapStack.GetCount(), 1);
}

TEST_F(GiftTest, SettingsDialogChecksAddressesAndServer) {
  StartOnFirst();
  int round = 0;
  m_session.dialogHandler = [&round](CDialog* pDialog) {
    switch (round++) {
      case 0:  // everything empty
        return IDOK;
      case 1:
        TypeInDialog(pDialog, 1000, "alice@example.jp\nbob@example.jp");
        TypeInDialog(pDialog, 1001, "me@example.jp");
        return IDOK;  // no server
      default:
        TypeInDialog(pDialog, 1004, "   ");
        TypeInDialog(pDialog, 1003, "line one\nline two");
        return IDOK;
    }
  };
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_GIFT_SETTINGS));
  const std::vector<std::string> expected = {"@がメールIDに含まれていません", "SMTP サーバ名を指定してください"};
  EXPECT_EQ(m_session.messages, expected);
  EXPECT_EQ(round, 3);
  EXPECT_EQ(g_strTo, "alice@example.jp\r\nbob@example.jp");
  EXPECT_EQ(g_strFrom, "me@example.jp");
  EXPECT_EQ(g_strServer, "   ") << "blanks are a server name";
  EXPECT_EQ(g_strBody, "line one\r\nline two");
  EXPECT_EQ(g_strSubject, "");
  EXPECT_EQ(g_bSettingsChanged, 1);
}

TEST_F(GiftTest, DialogShowsTheCurrentSettingsOneEntryPerLine) {
  WriteSettings(kCompleteSettings);
  StartOnFirst();
  std::string recipients;
  std::string comment;
  m_session.dialogHandler = [&](CDialog* pDialog) {
    recipients = pDialog->GetDlgItemText(1000).str();
    comment = pDialog->GetDlgItemText(1003).str();
    return IDCANCEL;
  };
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_GIFT_SETTINGS));
  EXPECT_EQ(recipients, "alice@example.jp\r\nbob@example.jp");
  EXPECT_EQ(comment, "Hello\r\n\r\nBye");
}

TEST_F(GiftTest, OkRewritesTheSettingsFileAtExitAndCancelLeavesItAlone) {
  WriteSettings(kCompleteSettings);
  StartOnFirst();
  m_session.dialogHandler = [](CDialog*) { return IDCANCEL; };
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_GIFT_SETTINGS));
  // Edited by hand while the program runs: must survive the exit.
  WriteSettings(std::string(kCompleteSettings) + "\r\nedited by hand");
  m_session.Stop();
  EXPECT_EQ(TextOfFile(m_exeDir / "vimo.txt"), std::string(kCompleteSettings) + "\r\nedited by hand");
  EXPECT_EQ(g_bSettingsChanged, 0);

  WriteSettings(kCompleteSettings);
  StartOnFirst();
  m_session.dialogHandler = [](CDialog*) { return IDOK; };  // OK without any change
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_GIFT_SETTINGS));
  EXPECT_EQ(g_bSettingsChanged, 1);
  WriteSettings("replaced");
  m_session.Stop();
  EXPECT_EQ(TextOfFile(m_exeDir / "vimo.txt"), kCompleteSettings);
}

TEST_F(GiftTest, StackedFilesDeletedSinceAreLeftOutAndNamed) {
  StackTwoAndShowTheThird();
  fs::remove(Pic(0));

  PressKey(Frame(), Qt::Key_F12);
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return fs::exists(m_exeDir / "args.txt"); }));
  const std::vector<std::string> lines = Split(TextOfFile(m_exeDir / "job.txt"), "\r\n");
  ASSERT_GE(lines.size(), 6u);
  const std::vector<std::string> attached = Split(lines[5], "\t");
  EXPECT_EQ(std::set<std::string>(attached.begin(), attached.end()),
            (std::set<std::string>{Pic(1).string(), Pic(2).string()}));
  EXPECT_EQ(m_session.messages, std::vector<std::string>{"not found, left out of the mail:\n" + Pic(0).string()});
  EXPECT_EQ(GiftStateOf(Pic(0)), -1) << "a file that is gone is neither stacked nor sent";
  EXPECT_EQ(GiftStateOf(Pic(1)), 0);
  EXPECT_EQ(GiftStateOf(Pic(2)), 0);

  // With every file gone there is nothing to send.
  fs::remove(m_exeDir / "args.txt");
  fs::remove(Pic(2));
  m_session.messages.clear();
  PressKey(Frame(), Qt::Key_F12);
  EXPECT_EQ(m_session.messages, std::vector<std::string>{"not found, nothing sent:\n" + Pic(2).string()});
  EXPECT_FALSE(fs::exists(m_exeDir / "args.txt"));
}

TEST_F(GiftTest, ShiftJisSettingsFromWindowsSurviveTheDialogByteForByte) {
  // 山田 <yamada@...>, 春の写真, こんにちは: the bytes a settings file written on Windows holds.
  const std::string windowsSettings =
      "\tServer\tsmtp.example.jp\r\n\tTo\r\n\x8E\x52\x93\x63 <yamada@example.jp>\r\n\r\n"
      "\tFrom\tme@example.jp\r\n\tSubject\t\x8F\x74\x82\xCC\x8E\xCA\x90\x5E\r\n"
      "\tBody\r\n\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD\r\n";
  WriteSettings(windowsSettings);
  StartOnFirst();
  m_session.dialogHandler = [](CDialog*) { return IDOK; };  // OK without any change
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_GIFT_SETTINGS));
  m_session.Stop();
  EXPECT_EQ(TextOfFile(m_exeDir / "vimo.txt"), windowsSettings);

  // A field the user edits stays in the encoding it was read in.
  StartOnFirst();
  m_session.dialogHandler = [](CDialog* pDialog) {
    TypeInDialog(pDialog, 1002, "です", true);
    return IDOK;
  };
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(Frame(), ID_GIFT_SETTINGS));
  EXPECT_EQ(g_strSubject, "\x8F\x74\x82\xCC\x8E\xCA\x90\x5E\x82\xC5\x82\xB7");
  EXPECT_EQ(g_strBody, "\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD\r\n");
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
