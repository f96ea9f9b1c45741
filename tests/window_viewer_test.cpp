// The viewer started as the program is: a file on the command line, its folder browsed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <thread>

#include <signal.h>
#include <sys/wait.h>

#include "app/Globals.h"
#include "res/Resource.h"
#include "support/ui/Browsing.h"
#include "support/ui/ScreenViewer.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

// The temporary file names of the history, turned back into source names.
std::vector<std::string> HistoryNames(CVimoDoc* pDoc) {
  std::vector<std::string> names;
  CSingleLock lock(&pDoc->m_queue.m_csLock, TRUE);
  POSITION pos = pDoc->m_queue.m_listHistory.GetHeadPosition();
  while (pos != nullptr) {
    const std::string path = static_cast<CString*>(pDoc->m_queue.m_listHistory.GetNext(pos))->str();
    const std::string name = path.substr(path.rfind('/') + 1);
    names.push_back(name.substr(0, name.size() - 4));
  }
  return names;
}

class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Five small JPEG images and things that are not images.
    const char* colours[] = {"red", "green", "blue", "yellow", "purple"};
    const char* names[] = {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"};
    for (int i = 0; i < 5; ++i) {
      RunConvert(std::string("-size 60x40 gradient:") + colours[i] + "-white -quality 95 " + (m_dir / names[i]).string());
    }
    WriteFile(m_dir / "notes.txt", Bytes{'h', 'i'});
    std::filesystem::create_directory(m_dir / "sub.jpg");
  }

  TempDir m_dir;
  ViewerSession m_session;
};

TEST_F(ViewerTest, FileOnTheCommandLineAppearsAtNaturalSizeInTheTopLeftCorner) {
  const std::string path = (m_dir / "c.jpg").string();
  ASSERT_TRUE(m_session.Start({path}));
  ASSERT_TRUE(m_session.WaitForImage("c.jpg"));
  EXPECT_EQ(m_session.Frame()->GetWindowText(), "c.jpg - Vimo");
  EXPECT_EQ(std::string(m_session.Doc()->m_szFolder), m_dir.Path().string() + "/");

  const DecodedImage source = DecodeWithMagick("JPEG:" + path).at(0);
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_session.ViewPixels().width > source.width; }));
  const Pixels painted = m_session.ViewPixels();
  ASSERT_GE(painted.height, source.height);
  int differing = 0;
  for (int y = 0; y < source.height; ++y) {
    for (int x = 0; x < source.width; ++x) {
      if (!(painted.At(x, y) == source.pixels[static_cast<size_t>(y * source.width + x)])) ++differing;
    }
  }
  EXPECT_EQ(differing, 0) << "pixels painted differently from the source";
  const Rgb background = WindowColour();
  EXPECT_EQ(painted.At(source.width + 5, 5), background);
  EXPECT_EQ(painted.At(5, source.height + 5), background);
  EXPECT_EQ(painted.At(painted.width - 1, painted.height - 1), background);
}

// Opened by path or chosen alone in ファイル > 開く alike.
TEST_F(ViewerTest, FolderIsQueuedFromTheOpenedFileThenFromItsStartOrOnFromTheOpenedFile) {
  const struct {
    const char* profile;
    bool bOpenDialog;
    std::vector<std::string> expected;
  } cases[] = {
      {"", false, {"c.jpg", "a.jpg", "b.jpg", "d.jpg", "e.jpg"}},
      {"[View]\nBrowseFromOpened=1\n", false, {"c.jpg", "d.jpg", "e.jpg", "a.jpg", "b.jpg"}},  // wraps, ends before c
      {"", true, {"c.jpg", "a.jpg", "b.jpg", "d.jpg", "e.jpg"}},
      {"[View]\nBrowseFromOpened=1\n", true, {"c.jpg", "d.jpg", "e.jpg", "a.jpg", "b.jpg"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bOpenDialog ? "Open dialog" : "by path");
    m_session.WriteProfile(c.profile);
    const std::vector<std::string> args = {(m_dir / "c.jpg").string()};
    ASSERT_TRUE(m_session.Start(c.bOpenDialog ? std::vector<std::string>{} : args));
    if (c.bOpenDialog) {
      const std::filesystem::path folder = std::filesystem::current_path();  // the dialog moves it
      m_session.fileDialogAnswers.push_back({(m_dir / "c.jpg").string()});
      ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_IMAGE_OPEN));
      std::filesystem::current_path(folder);
    }
    ASSERT_TRUE(m_session.WaitForImage("c.jpg"));
    CVimoDoc* pDoc = m_session.Doc();
    // Take more than the remaining read-ahead steps, as moving forward would.
    for (int i = 0; i < 5; ++i) pDoc->QueueNextImage();
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return pDoc->m_queue.IsNextComing() == 0; }));
    EXPECT_EQ(HistoryNames(pDoc), c.expected) << c.profile;
    EXPECT_EQ(g_bPollQueue, 0);
    m_session.Stop();
  }
}

TEST_F(ViewerTest, ColoursAreManagedUntilTheMenuItemTurnsItOffAndTheImagesAreConvertedAgain) {
  // c.jpg and a.jpg (next after it) green, tagged Adobe RGB: their green is shown as sRGB shows
  // it, not as stored.
  const Bytes adobe = ReadFile("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
  for (const char* name : {"c.jpg", "a.jpg"}) {
    RunConvert("-size 60x40 xc:'rgb(60,160,70)' -quality 95 " + (m_dir / name).string());
    WriteFile(m_dir / name, WithIccProfile(ReadFile(m_dir / name), adobe));
  }
  const auto stored = [&](const char* name) { return DecodeWithMagick("JPEG:" + (m_dir / name).string()).at(0).pixels.at(0); };
  const auto apart = [](Rgb a, Rgb b) { return std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue); };
  ASSERT_TRUE(m_session.Start({(m_dir / "c.jpg").string()}));
  ASSERT_TRUE(m_session.WaitForImage("c.jpg"));
  EXPECT_TRUE(AfxTestAccess::IsMenuItemChecked(m_session.Frame(), ID_VIEW_COLOUR_MANAGED));
  EXPECT_GT(apart(m_session.ViewPixels().At(0, 0), stored("c.jpg")), 6) << "managed by default";

  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_VIEW_COLOUR_MANAGED));
  EXPECT_TRUE(ViewerSession::WaitFor([&] { return apart(m_session.ViewPixels().At(0, 0), stored("c.jpg")) <= 3; }));
  EXPECT_EQ(m_session.Doc()->GetTitle(), "c.jpg");
  EXPECT_TRUE(ViewerSession::WaitFor([&] { return m_session.ProfileText().find("ColourManaged=0") != std::string::npos; }));
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_GO_NEXT));
  ASSERT_TRUE(m_session.WaitForImage("a.jpg"));
  EXPECT_LE(apart(m_session.ViewPixels().At(0, 0), stored("a.jpg")), 3) << "converted ahead again";
}

TEST_F(ViewerTest, OtherFormatsAreOpenedAndBrowsedOnceChosenInTheViewMenu) {
  const std::string halfRed = "-size 8x8 xc:'rgba(255,0,0,0.5)' ";
  const std::string blue = "-size 16x16 xc:'rgb(40,90,200)' ";  // the HEIF writer keeps no alpha
  struct Format {
    const char* name;
    std::string picture;
    bool halfTransparent;
  };
  const std::vector<Format> formats = {{"f.png", halfRed, true},
                                       {"g.webp", halfRed + "-define webp:lossless=true ", true},
                                       {"h.tiff", halfRed, true},
                                       {"i.heic", blue, false},
                                       {"j.avif", blue, false}};
  for (const auto& format : formats) RunConvert(format.picture + (m_dir / format.name).string());
  ASSERT_TRUE(m_session.Start({(m_dir / "a.jpg").string()}));
  for (const auto& format : formats)
    EXPECT_EQ(theApp.OpenDocumentFile((m_dir / format.name).c_str()), nullptr) << format.name << " opened by default";
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_VIEW_OTHER_FORMATS));
  EXPECT_TRUE(AfxTestAccess::IsMenuItemChecked(m_session.Frame(), ID_VIEW_OTHER_FORMATS));
  m_session.Stop();

  // Remembered: the next start opens them and browses them with the JPEG files.
  ASSERT_TRUE(m_session.Start({(m_dir / "f.png").string()}));
  std::map<std::string, Rgb> shown;
  ASSERT_TRUE(m_session.WaitForImage("f.png"));
  shown["f.png"] = m_session.ViewPixels().At(2, 2);
  ASSERT_TRUE(HoldTab(m_session, [&](const BrowseStep& step) {
    EXPECT_TRUE(step.messages.empty()) << step.messages.at(0);
    shown[step.title] = m_session.ViewPixels().At(2, 2);
  }));
  EXPECT_EQ(shown.size(), 5 + formats.size());
  const Rgb window = WindowColour();
  for (const auto& format : formats) {
    // Transparent parts are laid on the window's colour.
    const Rgb expected = format.halfTransparent ? Rgb{static_cast<std::uint8_t>((255 + window.red) / 2),
                                                      static_cast<std::uint8_t>(window.green / 2),
                                                      static_cast<std::uint8_t>(window.blue / 2)}
                                                : Rgb{40, 90, 200};
    const Rgb painted = shown[format.name];
    EXPECT_NEAR(painted.red, expected.red, 8) << format.name;
    EXPECT_NEAR(painted.green, expected.green, 8) << format.name;
    EXPECT_NEAR(painted.blue, expected.blue, 8) << format.name;
  }
}

TEST_F(ViewerTest, RelativePathOnTheCommandLineIsBrowsedByItsFullPath) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(m_dir.Path());
  const bool started = m_session.Start({"c.jpg"});
  std::filesystem::current_path(before);
  ASSERT_TRUE(started);
  // Folder changes made later (the file dialogs make them) cannot redirect the shown file.
  EXPECT_EQ(std::string(m_session.Doc()->m_szFolder), m_dir.Path().string() + "/");
  EXPECT_TRUE(m_session.WaitForImage("c.jpg"));
}

TEST(ScreenshotCommand, StartThatOpensNothingEndsWithAnError) {
  const TempDir folder;
  const std::string command = std::string(VIMO_BINARY_DIR "/vimo --screenshot ") + (folder / "shot.png").string() +
                              " /nonexistent-folder/missing.jpg 2>/dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << "the program crashed";
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_FALSE(std::filesystem::exists(folder / "shot.png"));
}

TEST_F(ViewerTest, CommandLineSaysInOneLineWhyItDoesNothing) {
  WriteFile(m_dir / "x.png", Bytes{'P', 'N', 'G'});
  const std::string jpeg = (m_dir / "c.jpg").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string error;  // a part of the one line on standard error; empty: nothing there
    std::string profile = "";
  };
  const std::string opened = " is not an image file this viewer opens (.bmp .gif .jpg .jpeg .jpe .pcd";
  const std::vector<Case> cases = {
      {{"-h"}, 0, ""},
      {{(m_dir / "x.png").string()}, 1, (m_dir / "x.png").string() + opened + ")"},
      {{(m_dir / "notes.txt").string()}, 1, opened + " .png .apng .webp .tif .tiff .heic .heif .avif .jxl .dng .cr2 .cr3 .nef .arw .raf .rw2 .orf .pef)", "[View]\nOtherFormats=1\n"},
      {{(m_dir / "missing.jpg").string()}, 1, "missing.jpg: No such file or directory"},
      {{"--convert", (m_dir / "missing.jpg").string(), (m_dir / "out.bmp").string()}, 1, "missing.jpg: No such file"},
      {{"--convert", (m_dir / "notes.txt").string(), (m_dir / "out.bmp").string()}, 1, "no JPEG, GIF or Photo CD image"},
      {{"--convert", jpeg, (m_dir / "out.png").string()}, 1, "nothing was written to " + (m_dir / "out.png").string()},
      {{"--convert", jpeg, (m_dir / "out.bmp").string()}, 0, ""},
  };
  for (const Case& c : cases) {
    m_session.WriteProfile(c.profile);
    std::vector<std::string> argv = {ViewerProgram()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const RunResult run = RunProgram(argv, {"QT_QPA_PLATFORM=offscreen"});
    SCOPED_TRACE(c.args.front() + " ...: " + run.err);
    EXPECT_EQ(run.status, c.status);
    if (c.error.empty()) {
      EXPECT_EQ(run.err, "");
      continue;
    }
    EXPECT_NE(run.err.find(c.error), std::string::npos);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_EQ(run.err.rfind("vimo: ", 0), 0u);
  }
  EXPECT_NE(RunProgram({ViewerProgram(), "-h"}).out.find("Usage: vimo [FILE | FOLDER]"), std::string::npos);
}

TEST_F(ViewerTest, ScreenshotLeavesTheUsersProfileAsItWas) {
  const std::string profile = "[Window size]\nRect=0100 0050 0740 0530\niconized=0\nmaximized=0\n";
  std::filesystem::create_directory(m_dir / "config");
  WriteFile(m_dir / "config" / "vimo.ini", Bytes(profile.begin(), profile.end()));
  const RunResult run = RunProgram({ViewerProgram(), "--screenshot", (m_dir / "shot.png").string(), (m_dir / "c.jpg").string()},
                                   {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + (m_dir / "config").string(),
                                    "XDG_DATA_HOME=" + (m_dir / "data").string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(m_dir / "shot.png"));
  const Bytes after = ReadFile(m_dir / "config" / "vimo.ini");
  EXPECT_EQ(std::string(after.begin(), after.end()), profile) << "no recent files, no placement written";
}

// The opened file is converted while the window is built. Whichever is ready first, a start ends
// alike: the file shown (in the window's first paint when it was converted first), the folder
// read ahead as deep, nothing left waiting.
TEST_F(ViewerTest, StartEndsAlikeWhetherItsConversionOrItsWindowIsReadyFirst) {
  for (const bool conversionFirst : {true, false}) {
    SCOPED_TRACE(conversionFirst ? "conversion first" : "window first");
    AfxTestAccess::HoldConversions(TRUE);
    ASSERT_TRUE(m_session.Start({(m_dir / "c.jpg").string()}, [&] {
      if (!conversionFirst) return;
      AfxTestAccess::HoldConversions(FALSE);
      AfxTestAccess::WaitForConversionAhead();
    }));
    CVimoDoc* pDoc = m_session.Doc();
    EXPECT_EQ(pDoc->GetTitle(), conversionFirst ? CString("c.jpg") : CString("Reading...") + (m_dir.Path().string() + "/").c_str());
    EXPECT_EQ(m_session.ViewPixels().At(5, 5) == WindowColour(), !conversionFirst);
    AfxTestAccess::HoldConversions(FALSE);
    ASSERT_TRUE(m_session.WaitForImage("c.jpg"));
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return pDoc->m_queue.IsNextComing() == 0; }));
    EXPECT_EQ(HistoryNames(pDoc), (std::vector<std::string>{"c.jpg", "a.jpg", "b.jpg", "d.jpg"}));
    EXPECT_EQ(pDoc->m_queue.Index(), 1);
    EXPECT_EQ(pDoc->m_nReadAhead, 2);
    EXPECT_EQ(g_bPollQueue, 0);
    m_session.Stop();
  }
}

TEST_F(ViewerTest, RecentFileListHoldsTheFileAndSurvivesARestart) {
  const std::string path = (m_dir / "c.jpg").string();
  ASSERT_TRUE(m_session.Start({path}));
  ASSERT_TRUE(m_session.WaitForImage("c.jpg"));
  ASSERT_FALSE(theApp.GetRecentFileList().empty());
  EXPECT_EQ(theApp.GetRecentFileList().front(), path.c_str());
  m_session.Stop();
  EXPECT_NE(m_session.ProfileText().find("[Recent File List]\nFile1=" + path + "\n"), std::string::npos)
      << m_session.ProfileText();

  ASSERT_TRUE(m_session.Start());
  ASSERT_EQ(theApp.GetRecentFileList().size(), 1u);
  EXPECT_EQ(theApp.GetRecentFileList().front(), path.c_str());
  const std::vector<CString> fileMenu = AfxTestAccess::GetMenuItems(m_session.Frame(), 0);
  EXPECT_NE(std::find(fileMenu.begin(), fileMenu.end(), CString("&1 " + path + "|57616")), fileMenu.end());

  // Choosing the entry opens the file again through the application.
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_FILE_MRU_FILE1));
  EXPECT_TRUE(m_session.WaitForImage("c.jpg"));
}

TEST_F(ViewerTest, RecentEntryThatIsRefusedLeavesTheList) {
  const std::string path = (m_dir / "notes.txt").string();
  m_session.WriteProfile("[Recent File List]\nFile1=" + path + "\n");
  ASSERT_TRUE(m_session.Start());
  ASSERT_EQ(theApp.GetRecentFileList().size(), 1u);
  AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_FILE_MRU_FILE1);
  EXPECT_TRUE(theApp.GetRecentFileList().empty());
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(ViewerTest, RefusedExtensionEndsWithoutAWindow) {
  for (const char* name : {"notes.txt", "photo.tif", "a.jpgx"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(m_session.Start({(m_dir / name).string()}));
    EXPECT_EQ(theApp.m_pMainWnd, nullptr);
    EXPECT_EQ(theApp.GetDocTemplate(), nullptr);
    EXPECT_TRUE(m_session.messages.empty());
  }
}

// From the desktop nobody reads standard error: the framework's box says it.
TEST_F(ViewerTest, DesktopStartOfAFileThatCannotBeOpenedIsSaidInABoxAndEndsTheProgram) {
  const std::string missing = (m_dir / "missing.jpg").string();
  EXPECT_FALSE(m_session.Start({AFX_DESKTOP_START_OPTION, missing}));
  ASSERT_EQ(m_session.messages.size(), 1u);
  EXPECT_NE(m_session.messages[0].find(missing), std::string::npos);
  EXPECT_EQ(m_session.captions[0], "Vimo V 3.00");
  EXPECT_EQ(theApp.m_pMainWnd, nullptr);
}

// With other formats chosen, even a PNG: the second start reads the option before its check.
TEST_F(ViewerTest, SecondStartHandsItsFileToTheRunningViewerAndEnds) {
  TempDir runtime;
  setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
  RunConvert("-size 8x8 xc:red " + (m_dir / "x.png").string());
  m_session.WriteProfile("[View]\nOtherFormats=1\n");
  ASSERT_TRUE(m_session.Start());
  const std::string command = std::string(VIMO_BINARY_DIR) + "/vimo " + (m_dir / "x.png").string();
  std::atomic<int> exitCode{-1};
  std::thread second([&] { exitCode = std::system((command + " >/dev/null 2>&1").c_str()); });
  const bool shown = m_session.WaitForImage("x.png");
  second.join();
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_TRUE(shown);
  EXPECT_EQ(exitCode.load(), 0);
  EXPECT_EQ(std::string(m_session.Doc()->m_szFolder), m_dir.Path().string() + "/");
}

// Second starts with a file the viewer cannot show are each answered: by a box in the viewer,
// held open here until the start that sent the file has ended, or by the start itself. The viewer
// keeps running and takes the next hand-over.
TEST_F(ViewerTest, HandOversThatCannotBeShownAreAnsweredAndTheViewerTakesTheNext) {
  const TempDir runtime;
  setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
  ASSERT_TRUE(m_session.Start({(m_dir / "a.jpg").string()}));
  ASSERT_TRUE(m_session.WaitForImage("a.jpg"));
  const std::string vimo = ViewerProgram(), desktop = AFX_DESKTOP_START_OPTION;
  const struct {
    std::vector<std::string> argv;
    int status;         // of the second start
    std::string reply;  // in the viewer's box (status 0) or on the start's standard error
    const char* next;   // handed over afterwards
  } cases[] = {
      {{vimo, desktop, (m_dir / "missing.jpg").string()}, 0, (m_dir / "missing.jpg").string(), "b.jpg"},
      {{vimo, (m_dir / "notes.txt").string()}, 1, "is not an image file", "d.jpg"},
      {{vimo, (m_dir / (std::string(PATH_MAX, 'x') + ".jpg")).string()}, 1, "path too long", "e.jpg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    const size_t boxesBefore = m_session.messages.size();
    std::atomic<bool> ended{false};
    RunResult second;
    std::thread start([&] {
      second = RunProgram(c.argv);
      ended = true;
    });
    m_session.whileMessageShown = [&] { ViewerSession::WaitFor([&] { return ended.load(); }); };
    ViewerSession::WaitFor([&] { return ended.load() && (c.status != 0 || m_session.messages.size() > boxesBefore); });
    start.join();
    m_session.whileMessageShown = nullptr;
    EXPECT_EQ(second.status, c.status) << second.err;
    const std::string reply = c.status == 0 && m_session.messages.size() > boxesBefore ? m_session.messages.back() : second.err;
    EXPECT_NE(reply.find(c.reply), std::string::npos) << reply;

    EXPECT_EQ(RunProgram({ViewerProgram(), (m_dir / c.next).string()}).status, 0);
    EXPECT_TRUE(m_session.WaitForImage(c.next));
  }
  unsetenv("XDG_RUNTIME_DIR");
}

// Ten starts at the same moment with no viewer running: one becomes the viewer, the nine others
// hand their files to it and end, and it receives every one of them.
TEST_F(ViewerTest, StartsAtTheSameMomentLeaveOneViewerThatReceivesEveryFile) {
  ScreenViewer viewers({"QT_QPA_PLATFORM=offscreen"});
  std::vector<std::string> files;
  for (int i = 0; i < 10; ++i) {
    files.push_back((m_dir / ("same" + std::to_string(i) + ".bmp")).string());
    WriteFile(files.back(), MakeBmp24(8, 8, Pattern(8, 8, static_cast<unsigned>(i))));
  }
  std::vector<pid_t> starts;
  for (const std::string& file : files) starts.push_back(viewers.Launch({file}));
  // The nine that hand over end by themselves; the viewer ends when asked to.
  std::vector<int> statuses(starts.size(), -1);
  pid_t viewer = -1;
  ASSERT_TRUE(ViewerSession::WaitFor([&] {
    int running = 0;
    for (size_t i = 0; i < starts.size(); ++i) {
      int status = 0;
      if (statuses[i] == -1 && waitpid(starts[i], &status, WNOHANG) == starts[i]) statuses[i] = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      if (statuses[i] == -1) {
        ++running;
        viewer = starts[i];
      }
    }
    return running <= 1 && std::count(statuses.begin(), statuses.end(), 0) == 9;
  })) << viewers.Errors();
  // Each file it opens joins its recent files, which it keeps in its profile.
  const auto received = [&] {
    const Bytes profile = ReadFile(viewers.ProfilePath());
    const std::string text(profile.begin(), profile.end());
    return std::all_of(files.begin(), files.end(), [&](const std::string& file) { return text.find(file) != std::string::npos; });
  };
  EXPECT_TRUE(ViewerSession::WaitFor(received)) << ReadFile(viewers.ProfilePath()).size();
  EXPECT_EQ(waitpid(viewer, nullptr, WNOHANG), 0) << "the viewer keeps running";
  kill(viewer, SIGTERM);
  WaitForExit(viewer, 30000);
}

TEST_F(ViewerTest, StartWithoutAFileRunsBesideTheRunningViewerAndLeavesItsHandOverAlone) {
  ScreenViewer first({"QT_QPA_PLATFORM=offscreen"});
  ASSERT_TRUE(first.Start({}));
  const std::filesystem::path socket = first.Home() / "run" / "vimo-open";
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return std::filesystem::exists(socket); })) << first.Errors();
  setenv("XDG_RUNTIME_DIR", socket.parent_path().c_str(), 1);
  const bool started = m_session.Start();
  m_session.Stop();
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_TRUE(started) << "a start without a file is a window of its own";
  // A file opened from the desktop still reaches the first viewer: that start ends at once.
  EXPECT_EQ(first.StartAgain({(m_dir / "d.jpg").string()}, 20000).status, 0);
  EXPECT_TRUE(first.Running());
}

TEST_F(ViewerTest, StartWritesTheDesktopEntryForImageFiles) {
  ASSERT_TRUE(m_session.Start());
  const std::filesystem::path entry = std::filesystem::path(std::getenv("XDG_DATA_HOME")) / "applications" / "vimo.desktop";
  // Written beside the window, on a thread of its own.
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return std::filesystem::exists(entry); }));
  const Bytes bytes = ReadFile(entry);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("MimeType=image/bmp;image/jpeg;image/gif;image/x-photo-cd;\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Exec=\"" + std::string(VIMO_BINARY_DIR)), std::string::npos) << text;
  EXPECT_NE(text.find("\" --from-desktop %f\n"), std::string::npos) << text;
}

TEST(ExtensionFilter, IsASubstringTestOnTheLowerCasedExtension) {
  struct Case {
    const char* path;
    bool accepted;
  } cases[] = {
      {"/img/A.JPG", true},     {"/img/a.jp", true},         {"/img/a.tif", false},  {"/img/a.jpgx", false},
      {"/my.pics/photo", false}, {"/img/photo.", true},      {"/img/a.pcd", true},   {"/img/a.Jpeg", true},
      {"noextension", false},    {"/img/a.gif", true},       {"/img/a.bmp", true},   {"/img/a.pc", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsAcceptedExtension(c.path) != FALSE, c.accepted) << c.path;
}

TEST(ImageName, EndsInAnImageExtensionWhateverTheCase) {
  struct Case {
    const char* name;
    bool image;
  } cases[] = {
      {"PHOTO.JPG", true}, {"Photo.Jpeg", true}, {"photo.jpg.txt", false}, {"a.jpe", true}, {"a.pcd", true},
      {"a.gif", true},     {"a.bmp", true},      {"jpeg", false},          {".jpg", true},  {"a.jp", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsImageName(c.name) != FALSE, c.image) << c.name;
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
