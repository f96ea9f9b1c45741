// The viewer as a process: however it ends, no converted file of it outlives it. A normal end
// and the signals of a logout, kill or Ctrl+C close the window the normal way, its profile
// written whole; after SIGKILL the next start cleans up what the dead viewer left.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ui/ScreenViewer.h"

namespace {

namespace fs = std::filesystem;
using namespace vimo::test;

// Starts the built viewer with every folder it uses inside home: temporary root, cache,
// profile, desktop entry; no hand-over socket, ImageMagick's spill folder left to the viewer;
// no display.
pid_t StartViewer(const TempDir& home, const std::vector<std::string>& args) {
  fs::create_directories(home / "tmp");
  const std::string at = home.Path().string();
  std::vector<std::string> argv = {ViewerProgram()};
  argv.insert(argv.end(), args.begin(), args.end());
  return StartProgram(argv,
                      {"TMPDIR=" + at + "/tmp", "XDG_CACHE_HOME=" + at + "/cache", "XDG_CONFIG_HOME=" + at + "/config",
                       "XDG_DATA_HOME=" + at + "/data", "HOME=" + at, "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR",
                       "MAGICK_TEMPORARY_PATH"},
                      "/dev/null", "/dev/null");
}

// The private folders of the viewer pid, in the temporary root and in the cache folder.
std::vector<fs::path> FoldersOf(const TempDir& home, pid_t pid) {
  std::vector<fs::path> folders;
  const std::string prefix = "vimo-" + std::to_string(pid) + "-";
  for (const fs::path& root : {home / "tmp", home / "cache" / "vimo"}) {
    if (!fs::is_directory(root)) continue;
    for (const auto& entry : fs::directory_iterator(root)) {
      if (entry.path().filename().string().rfind(prefix, 0) == 0) folders.push_back(entry.path());
    }
  }
  return folders;
}

bool HoldsConvertedFile(const std::vector<fs::path>& folders) {
  for (const fs::path& folder : folders) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().extension() == ".bmp") return true;
    }
  }
  return false;
}

TEST(ViewerExit, NoConvertedFileOutlivesTheViewer) {
  const TempDir pictures;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
    vimo::test::RunConvert("-size 320x240 gradient:red-blue -quality 90 " + (pictures / name).string());
  }
  const struct {
    const char* how;
    int signal;  // 0: the viewer ends by itself (a screenshot run)
  } cases[] = {{"ends by itself", 0},
               {"terminated", SIGTERM},
               {"interrupted", SIGINT},
               {"hung up", SIGHUP},
               {"killed: the next start cleans up", SIGKILL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    const TempDir home;
    const std::string shown = (pictures / "a.jpg").string();
    if (c.signal == 0) {
      const pid_t pid = StartViewer(home, {"--screenshot", (home / "shot.png").string(), shown});
      const int status = WaitForEnd(pid, 60000);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      EXPECT_TRUE(fs::exists(home / "shot.png"));
      EXPECT_TRUE(FoldersOf(home, pid).empty());
      continue;
    }
    const pid_t pid = StartViewer(home, {shown});
    ASSERT_TRUE(WaitUntil([&] { return HoldsConvertedFile(FoldersOf(home, pid)); }));
    kill(pid, c.signal);
    const int status = WaitForEnd(pid, 60000);
    // Whoever started it still sees that the signal ended it.
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
    if (c.signal != SIGKILL) {
      EXPECT_NE(TextOfFile(home / "config" / "vimo.ini").find("[Window size]"), std::string::npos) << "the placement saved at the close";
    }
    if (c.signal == SIGKILL) {
      ASSERT_TRUE(HoldsConvertedFile(FoldersOf(home, pid)));
      const pid_t next = StartViewer(home, {"--screenshot", (home / "shot.png").string(), (home / "none.jpg").string()});
      WaitForEnd(next, 60000);
    }
    EXPECT_TRUE(FoldersOf(home, pid).empty());
  }
}

}  // namespace
