// Image Gift from key press to mailbox: the viewer reads its mail settings from vimo.txt beside
// the executable, F5 stacks images, F12 hands the stack and the shown image to Postmx.exe, and a
// real mail server on loopback (tests/support/smtp_sink.py) receives the message; the viewer
// learns the outcome when the sender ends.
//
// The whole program runs with a temporary folder whose path holds two blanks in a row, so every
// job path reaches the sender whole only when the viewer's command line quotes it.
#include <gtest/gtest.h>

#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/Globals.h"
#include "res/Resource.h"
#include "support/SmtpSink.h"
#include "support/ui/UserInput.h"
#include "support/ui/ViewerSession.h"
#include "win32/Kernel.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

// Mail delivery runs in another process; a slow machine gets two minutes.
constexpr int kMailTimeoutMs = 120000;
// The slow server's pause before it accepts a message: longer than any reply time-out a sender
// might wrongly apply to the end of the data (20 s was one).
constexpr char kSlowServerSeconds[] = "25";
// The caption is painted at (10, 10); this corner holds it, the rest of the image never does.
constexpr int kCaptionWidth = 80;
constexpr int kCaptionHeight = 40;

bool InCaptionCorner(int x, int y) { return x < kCaptionWidth && y < kCaptionHeight; }

// The pixels of the image's area (width x height from the top left) inside or outside the
// caption corner.
std::vector<Rgb> Area(const Pixels& pixels, int width, int height, bool captionCorner) {
  std::vector<Rgb> area;
  for (int y = 0; y < height && y < pixels.height; ++y) {
    for (int x = 0; x < width && x < pixels.width; ++x) {
      if (InCaptionCorner(x, y) == captionCorner) area.push_back(pixels.At(x, y));
    }
  }
  return area;
}

class GiftMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The test's own "executable's folder": vimo.txt, vimolog.txt and Postmx.exe live there.
    m_executable = (m_program / "vimo").string();
    AfxTestAccess::SetExecutablePath(m_executable.c_str());
    fs::create_symlink(VIMO_BINARY_DIR "/Postmx.exe", m_program / "Postmx.exe");
  }
  void TearDown() override {
    if (m_session.Running()) m_session.Stop();
    AfxTestAccess::SetExecutablePath(nullptr);
  }

  void WriteSettings(const LoopbackServer& server) {
    const std::string text = "\tServer\t" + server.HostAndPort() +
                             "\r\n\tTo\r\nalice@example.jp\r\n\r\n\tFrom\tme@example.jp\r\n"
                             "\tSubject\tPhotos\r\n\tBody\r\nHello\r\n";
    WriteText(m_program / "vimo.txt", text);
  }

  // A flat colour JPEG: every image shows the same colour under the caption, so captions can
  // be compared across images; the sizes make the files differ.
  void MakeJpeg(const std::string& name, int width) {
    RunConvert("-size " + std::to_string(width) + "x120 xc:#3a6ea5 -quality 95 " + ShellQuoted((m_images / name).string()));
  }

  // Starts the viewer on the image name of the images folder and waits until it shows.
  void StartOn(const std::string& name) {
    ASSERT_TRUE(m_session.Start({PathOf(name)}));
    ASSERT_TRUE(m_session.WaitForImage(name)) << testing::PrintToString(m_session.messages);
  }

  // Waits until every sender the view started has ended and the view has heard of it.
  bool WaitForSendersToEnd() {
    return ViewerSession::WaitFor([&] { return m_session.View()->m_gift.m_mapSending.empty(); }, kMailTimeoutMs);
  }

  std::string LogText() const { return TextOfFile(m_program / "vimolog.txt"); }

  std::string Title() { return m_session.Doc()->GetTitle().str(); }
  std::string PathOf(const std::string& name) { return (m_images / name).string(); }

  // Tab to the next image and wait until it is shown; its name.
  std::string TabToNextImage(const std::set<std::string>& seen) {
    CMainFrame* pFrame = m_session.Frame();
    EXPECT_TRUE(ViewerSession::WaitFor([&] { return AfxTestAccess::IsMenuItemEnabled(pFrame, ID_GO_NEXT) != FALSE; }))
        << "the next image never converted";
    PressKey(pFrame, Qt::Key_Tab);
    EXPECT_TRUE(ViewerSession::WaitFor([&] {
      return m_session.Doc()->m_pDib != nullptr && seen.count(Title()) == 0 && !Title().empty();
    })) << "Tab did not show a new image; the title is " << Title();
    return Title();
  }


  TempDir m_program;
  TempDir m_images;
  TempDir m_mail;
  std::string m_executable;
  ViewerSession m_session;
};

TEST_F(GiftMailTest, TwoStackedImagesAndTheShownOneArriveInOneMessageAndShowSent) {
  const LoopbackServer server(m_mail.Path(), "serve");
  ASSERT_NE(server.Port(), 0) << server.PortFileText();
  WriteSettings(server);
  const std::map<std::string, int> widths = {{"one.jpg", 160}, {"two.jpg", 168}, {"three.jpg", 176}};
  for (const auto& [name, width] : widths) MakeJpeg(name, width);

  // The first image the viewer is started on; the others in the order Tab shows them.
  std::vector<std::string> shown = {"one.jpg"};
  ASSERT_TRUE(m_session.Start({PathOf("one.jpg")}));
  ASSERT_TRUE(m_session.WaitForImage("one.jpg")) << testing::PrintToString(m_session.messages);
  CMainFrame* pFrame = m_session.Frame();
  ASSERT_EQ(g_strServer.str(), server.HostAndPort()) << "vimo.txt beside the executable was not read";

  PressKey(pFrame, Qt::Key_F5);
  EXPECT_EQ(GiftStateOf(PathOf(shown[0])), 1) << "F5 stacks the shown image";
  const Pixels stacked = m_session.ViewPixels();

  shown.push_back(TabToNextImage({shown.begin(), shown.end()}));
  PressKey(pFrame, Qt::Key_F5);
  EXPECT_EQ(GiftStateOf(PathOf(shown[1])), 1);

  shown.push_back(TabToNextImage({shown.begin(), shown.end()}));
  ASSERT_EQ(std::set<std::string>(shown.begin(), shown.end()).size(), 3u);
  EXPECT_EQ(GiftStateOf(PathOf(shown[2])), -1) << "the third image was never stacked";
  const Pixels plain = m_session.ViewPixels();
  ASSERT_TRUE(JobFilesInTempFolder().empty());
  char tempFolder[MAX_PATH] = "";
  GetTempPathA(sizeof(tempFolder), tempFolder);
  ASSERT_NE(std::string(tempFolder).find("two  blanks"), std::string::npos) << tempFolder;

  PressKey(pFrame, Qt::Key_F12);
  EXPECT_TRUE(m_session.messages.empty()) << testing::PrintToString(m_session.messages);
  EXPECT_TRUE(m_session.dialogs.empty()) << "complete settings send without asking";

  // The viewer marks all three as sent and captions the shown one.
  for (const std::string& name : shown) EXPECT_EQ(GiftStateOf(PathOf(name)), 0) << name;
  EXPECT_EQ(g_mapGiftState.GetCount(), 3);
  const Pixels sent = m_session.ViewPixels();
  const int width = widths.at(shown[2]);
  EXPECT_NE(Area(sent, width, 120, true), Area(plain, width, 120, true)) << "no caption painted";
  EXPECT_EQ(Area(sent, width, 120, false), Area(plain, width, 120, false)) << "the image itself changed";

  // The server receives exactly one message, from the settings, with the body and three files.
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return !server.Messages().empty(); }, kMailTimeoutMs))
      << "no message arrived; log: " << TextOfFile(m_program / "vimolog.txt");
  const fs::path logPath = m_program / "vimolog.txt";
  ASSERT_TRUE(ViewerSession::WaitFor(
      [&] { return TextOfFile(logPath).find('\n') != std::string::npos; }, kMailTimeoutMs))
      << "the sender wrote no log line";
  ASSERT_EQ(server.Messages().size(), 1u);
  const ReceivedMessage message = ReadMessage(server.Messages()[0]);
  EXPECT_EQ(message.envelope, (std::vector<std::string>{"MAIL FROM:<me@example.jp>", "RCPT TO:<alice@example.jp>"}));
  EXPECT_EQ(message.headers.count("Subject") ? message.headers.at("Subject") : "", "Photos");
  EXPECT_EQ(message.defects, "");
  ASSERT_EQ(message.parts.size(), 4u) << "the body and three attachments";
  EXPECT_EQ(message.parts[0].meta.at("type"), "text/plain");
  EXPECT_NE(message.parts[0].data.find("Hello"), std::string::npos) << message.parts[0].data;
  std::set<std::string> attached;
  for (std::size_t i = 1; i < message.parts.size(); ++i) {
    const ReceivedPart& part = message.parts[i];
    const std::string name = part.meta.at("filename");
    SCOPED_TRACE(name);
    ASSERT_EQ(widths.count(name), 1u) << "not one of the images";
    EXPECT_EQ(part.meta.at("type"), "image/jpeg");
    EXPECT_TRUE(part.data == TextOfFile(m_images / name)) << "decoded bytes differ from the file";
    attached.insert(name);
  }
  EXPECT_EQ(attached.size(), 3u) << "an image was attached twice";

  // The send log beside the executable gains one "sent" line; Postmx /d removed the job file.
  const std::vector<std::string> log = LinesOf(TextOfFile(logPath));
  ASSERT_EQ(log.size(), 1u) << TextOfFile(logPath);
  EXPECT_NE(log[0].find("\tsent\tto: alice@example.jp\tattachments: 3"), std::string::npos) << log[0];
  EXPECT_TRUE(JobFilesInTempFolder().empty()) << testing::PrintToString(JobFilesInTempFolder());

  // Browsing back, the stacked images now carry the same caption as the shown one.
  const std::vector<Rgb> sentCaption = Area(sent, kCaptionWidth, kCaptionHeight, true);
  for (int back = 1; back >= 0; --back) {
    PressKey(pFrame, Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_TRUE(m_session.WaitForImage(shown[back])) << "title " << Title();
    EXPECT_EQ(Area(m_session.ViewPixels(), kCaptionWidth, kCaptionHeight, true), sentCaption) << shown[back];
  }
  EXPECT_NE(Area(stacked, kCaptionWidth, kCaptionHeight, true), sentCaption) << "Stacked and Sent look alike";
  EXPECT_TRUE(m_session.messages.empty()) << testing::PrintToString(m_session.messages);
}

TEST_F(GiftMailTest, NameWithATabOrLineBreakIsRefusedAndNothingOfItIsMailed) {
  const LoopbackServer server(m_mail.Path(), "serve");
  ASSERT_NE(server.Port(), 0) << server.PortFileText();
  WriteSettings(server);
  // Split at its TAB, the job line would name "x" and the relative ".netrc" of the sender's folder.
  const std::string crafted = "x\t.netrc\n.jpg";
  MakeJpeg(crafted, 160);
  WriteText(m_images / "x", "not an image");
  StartOn(crafted);
  const std::string expected = "cannot mail a file whose name holds a tab or line break:\n" +
                               (m_images / "x\\t.netrc\\n.jpg").string();

  PressKey(m_session.Frame(), Qt::Key_F5);
  EXPECT_EQ(m_session.messages, std::vector<std::string>{expected});
  EXPECT_EQ(GiftStateOf(PathOf(crafted)), -1) << "stacked all the same";
  PressKey(m_session.Frame(), Qt::Key_F12);
  EXPECT_EQ(m_session.messages, (std::vector<std::string>{expected, expected}));
  EXPECT_TRUE(m_session.View()->m_gift.m_mapSending.empty()) << "a sender was started";
  EXPECT_TRUE(JobFilesInTempFolder().empty());
  EXPECT_EQ(GiftStateOf(PathOf(crafted)), -1);
  EXPECT_FALSE(fs::exists(m_program / "vimolog.txt"));
  EXPECT_TRUE(server.Messages().empty());
}

TEST_F(GiftMailTest, RefusedMailPutsTheImagesBackOnTheStackAndShowsTheServersReason) {
  const LoopbackServer server(m_mail.Path(), "serve", {"--refuse", "alice@example.jp"});
  ASSERT_NE(server.Port(), 0) << server.PortFileText();
  WriteSettings(server);
  MakeJpeg("one.jpg", 160);
  MakeJpeg("two.jpg", 168);
  StartOn("one.jpg");
  PressKey(m_session.Frame(), Qt::Key_F5);
  const Pixels stacked = m_session.ViewPixels();
  const std::string second = TabToNextImage({"one.jpg"});
  const std::vector<std::string> images = {PathOf("one.jpg"), PathOf(second)};

  PressKey(m_session.Frame(), Qt::Key_F12);
  for (const std::string& path : images) EXPECT_EQ(GiftStateOf(path), 0) << "sent, as far as the viewer knows yet";
  ASSERT_TRUE(WaitForSendersToEnd()) << LogText();

  ASSERT_EQ(m_session.messages.size(), 1u);
  EXPECT_EQ(m_session.messages[0].rfind("Postmx.exe: not sent: ", 0), 0u) << m_session.messages[0];
  EXPECT_NE(m_session.messages[0].find("550 5.1.1 <alice@example.jp>: Recipient address rejected"), std::string::npos)
      << m_session.messages[0];
  for (const std::string& path : images) EXPECT_EQ(GiftStateOf(path), 1) << path;
  EXPECT_EQ(m_session.View()->m_gift.m_mapStack.GetCount(), 2);
  const Pixels shown = m_session.ViewPixels();
  EXPECT_EQ(Area(shown, kCaptionWidth, kCaptionHeight, true), Area(stacked, kCaptionWidth, kCaptionHeight, true))
      << "the shown image does not read \"Stacked\" again";
  EXPECT_TRUE(server.Messages().empty());
}

TEST_F(GiftMailTest, ServerThatTakesLongToAcceptTheMessageEndsInSent) {
  const LoopbackServer server(m_mail.Path(), "serve", {"--delay-data", kSlowServerSeconds});
  ASSERT_NE(server.Port(), 0) << server.PortFileText();
  WriteSettings(server);
  MakeJpeg("one.jpg", 160);
  StartOn("one.jpg");

  PressKey(m_session.Frame(), Qt::Key_F12);
  ASSERT_TRUE(WaitForSendersToEnd()) << LogText();

  EXPECT_TRUE(m_session.messages.empty()) << testing::PrintToString(m_session.messages);
  EXPECT_EQ(GiftStateOf(PathOf("one.jpg")), 0);
  const std::vector<std::string> log = LinesOf(LogText());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("\tsent\t"), std::string::npos) << log[0];
  EXPECT_EQ(server.Messages().size(), 1u);
}

}  // namespace

// Every job file goes into the temporary folder, and this one's path holds two blanks in a row
// (under either root the viewer may choose).
int main(int argc, char** argv) {
  const fs::path base = fs::temp_directory_path() / ("vimo-gift-mail-" + std::to_string(std::random_device{}()));
  const fs::path awkward = base / "two  blanks";
  fs::create_directories(awkward);
  setenv("TMPDIR", awkward.c_str(), 1);
  setenv("XDG_CACHE_HOME", awkward.c_str(), 1);
  const int result = RunWindowTests(argc, argv);
  std::error_code ignored;
  fs::remove_all(base, ignored);
  return result;
}
